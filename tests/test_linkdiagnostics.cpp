// Per-station diagnostics of requests that the plugin's driver runs on a scripted
// link: attempts, retries, errors by text and reply latency on a clock of the test's.
#include "hostaddress.h"
#include "linkdiagnostics.h"
#include "pluginfile.h"
#include "scriptedlink.h"

#include <QtCore/QJsonArray>

#include <gtest/gtest.h>

namespace {

DataAddress int16At(const char *text)
{
    return address(text, 2, 1);
}

class Diagnostics : public ::testing::Test
{
protected:
    void SetUp() override
    {
        driver = PluginFile::createDriver();
        ASSERT_TRUE(driver);
        link.retries = 2;
    }

    // One read through the diagnostic link, finished as a host finishes it.
    void read(const char *text)
    {
        driver->read(wrapped, int16At(text));
        wrapped.finishRequest(driver->hasError(), driver->errorText());
    }

    qint64 clockUs = 0;
    qint64 stepUs = 100; //!< every look at the clock advances it
    LinkDiagnostics diagnostics{[this] { return clockUs += stepUs; }};
    std::unique_ptr<DriverInterface> driver;
    ScriptedLink link;
    DiagnosticLink wrapped{link, diagnostics};
};

TEST_F(Diagnostics, CountsAttemptsRetriesAndErrorsPerStation)
{
    link.queueSilence();                       // first attempt: no response
    link.queueChunk(Reply::value(1, "0064"));  // the retry answers
    read("INT16:100");
    link.queueChunk(Reply::value(1, "0001"));
    read("INT16:101");
    for (int i = 0; i < 3; ++i)
        link.queueChunk(Reply::nak(1));
    read("INT16:102");

    link.station = 2;
    link.retries = 0;
    link.queueSilence();
    read("INT16:100");

    const StationDiagnostics one = diagnostics.station(1);
    EXPECT_EQ(one.requests, 3u);
    EXPECT_EQ(one.successes, 2u);
    EXPECT_EQ(one.retries, 1u + 2u);
    EXPECT_EQ(one.errors, 1u);
    EXPECT_EQ(one.lastError, QStringLiteral("read INT16:102> invalid param no."));
    EXPECT_TRUE(one.lastErrorTime.isValid());
    EXPECT_EQ(one.errorsByText.value(one.lastError), 1u);
    EXPECT_EQ(one.replies, 5u); // two values and three NAKs

    const StationDiagnostics two = diagnostics.station(2);
    EXPECT_EQ(two.requests, 1u);
    EXPECT_EQ(two.retries, 0u);
    EXPECT_EQ(two.errorsByText.value(QStringLiteral("read INT16:100> no response")), 1u);
    EXPECT_EQ(two.replies, 0u);
    EXPECT_EQ(two.latencyMinUs, -1);

    EXPECT_EQ(diagnostics.stations().size(), 2);
    EXPECT_EQ(diagnostics.station(9).requests, 0u);
}

TEST_F(Diagnostics, LatencyRunsFromTheRequestToTheFirstReplyByte)
{
    // The clock moves on once at the send and once at the reply: one step apart.
    link.queueChunk(Reply::value(1, "0064"));
    read("INT16:100");
    stepUs = 700;
    link.queueChunk(Reply::value(1, "0064"));
    read("INT16:100");
    stepUs = 300;
    // A reply that comes one byte per receive is timed by its first byte only.
    link.queueBytewise(Reply::value(1, "0064"));
    read("INT16:100");

    const StationDiagnostics s = diagnostics.station(1);
    EXPECT_EQ(s.replies, 3u);
    EXPECT_EQ(s.latencyMinUs, 100);
    EXPECT_EQ(s.latencyMedianUs, 300);
    EXPECT_EQ(s.latencyMaxUs, 700);
}

TEST_F(Diagnostics, RequestRefusedBeforeSendingMakesNoAttempt)
{
    link.station = 64;
    read("INT16:100");
    const StationDiagnostics s = diagnostics.station(64);
    EXPECT_EQ(s.requests, 1u);
    EXPECT_EQ(s.errors, 1u);
    EXPECT_EQ(s.retries, 0u);
    EXPECT_EQ(s.lastError, QStringLiteral("read INT16:100> invalid station id"));
}

TEST_F(Diagnostics, JsonAndTextShowEveryStation)
{
    link.queueChunk(Reply::value(1, "0064"));
    read("INT16:100");
    link.station = 3;
    link.retries = 0;
    link.queueChunk(Reply::nak(3));
    read("INT16:7");

    const QJsonArray stations = diagnostics.toJson().value(QStringLiteral("stations")).toArray();
    ASSERT_EQ(stations.size(), 2);
    const QJsonObject three = stations.at(1).toObject();
    EXPECT_EQ(three.value(QStringLiteral("station")).toInt(), 3);
    EXPECT_EQ(three.value(QStringLiteral("errors")).toInt(), 1);
    EXPECT_EQ(three.value(QStringLiteral("errorsByText")).toObject()
                  .value(QStringLiteral("read INT16:7> invalid param no.")).toInt(), 1);
    EXPECT_EQ(stations.at(0).toObject().value(QStringLiteral("latency")).toObject()
                  .value(QStringLiteral("minMs")).toDouble(), 0.1);

    const QString text = diagnostics.toText();
    EXPECT_EQ(text.count(QLatin1Char('\n')), 1 + 2 + 1); // heading, stations, one error text
    EXPECT_TRUE(text.contains(QStringLiteral("read INT16:7> invalid param no.")));

    diagnostics.clear();
    EXPECT_TRUE(diagnostics.stations().isEmpty());
}

TEST(LinkDiagnostics, MedianCoversTheLatestRepliesOnly)
{
    LinkDiagnostics diagnostics([] { return qint64(0); });
    for (int i = 0; i < LinkDiagnostics::LatencyWindow; ++i)
        diagnostics.replyStarted(1, 10);
    for (int i = 0; i < LinkDiagnostics::LatencyWindow / 2 + 1; ++i)
        diagnostics.replyStarted(1, 1000);
    const StationDiagnostics s = diagnostics.station(1);
    EXPECT_EQ(s.latencyMedianUs, 1000);
    EXPECT_EQ(s.latencyMinUs, 10); // min and max cover every reply
    EXPECT_EQ(s.replies, quint64(LinkDiagnostics::LatencyWindow * 3 / 2 + 1));
}

} // namespace
