// Per-station diagnostics of requests that the plugin's driver runs on a scripted
// link: attempts, retries, errors by text and reply latency on a clock of the test's.
#include "hostaddress.h"
#include "linkdiagnostics.h"
#include "pluginfile.h"
#include "scriptedlink.h"

#include <QtCore/QJsonArray>

#include <gtest/gtest.h>

#include <tuple>

namespace {

class Diagnostics : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(driver); link.retries = 2; }

    // One read through the diagnostic link, finished as a host finishes it.
    void read(const char *text)
    {
        driver->read(wrapped, address(text, 2, 1));
        wrapped.finishRequest(driver->hasError(), driver->errorText());
    }

    // Every look at the clock advances it by step.
    struct SteppingClock : LinkClock
    {
        qint64 nowUs() const override { return us += step; }
        mutable qint64 us = 0;
        qint64 step = 100;
    } clock;
    LinkDiagnostics diagnostics{clock};
    std::unique_ptr<DriverInterface> driver = PluginFile::createDriver();
    ScriptedLink link;
    DiagnosticLink wrapped{link, diagnostics};
};

TEST_F(Diagnostics, CountsAttemptsRetriesAndErrorsPerStation)
{
    link.queueSilence();                      // first attempt: no response
    link.queueChunk(Reply::value(1, "0064")); // the retry answers
    read("INT16:100");
    for (int i = 0; i < 3; ++i)
        link.queueChunk(Reply::nak(1));
    read("INT16:102");
    link.station = 2;
    link.retries = 0;
    link.queueSilence();
    read("INT16:100");
    link.station = 64; // refused before anything is sent: no attempt
    read("INT16:100");

    const struct { int station; quint64 requests, successes, retries, replies; const char *lastError; } expected[] = {
        {1, 2, 1, 1 + 2, 1 + 3, "read INT16:102> invalid param no."},
        {2, 1, 0, 0, 0, "read INT16:100> no response"},
        {64, 1, 0, 0, 0, "read INT16:100> invalid station id"},
    };
    for (const auto &e : expected) {
        SCOPED_TRACE(e.station);
        const StationDiagnostics s = diagnostics.station(e.station);
        EXPECT_EQ(std::make_tuple(s.requests, s.successes, s.retries, s.errors, s.replies),
                  std::make_tuple(e.requests, e.successes, e.retries, quint64(1), e.replies));
        EXPECT_EQ(s.lastError.toStdString(), e.lastError);
        EXPECT_TRUE(s.lastErrorTime.isValid());
        EXPECT_EQ(s.errorsByText.value(s.lastError), 1u);
    }
    EXPECT_EQ(diagnostics.station(2).latencyMinUs, -1);
    EXPECT_EQ(diagnostics.station(9).requests, 0u);

    // The JSON gives milliseconds: every reply came one clock step, 100 us, after its request.
    const QJsonArray stations = diagnostics.toJson().value(QStringLiteral("stations")).toArray();
    ASSERT_EQ(stations.size(), 3);
    EXPECT_EQ(stations.at(0).toObject().value(QStringLiteral("latency")).toObject()
                  .value(QStringLiteral("maxMs")).toDouble(), 0.1);
    diagnostics.clear();
    EXPECT_TRUE(diagnostics.stations().isEmpty());
}

TEST_F(Diagnostics, LatencyRunsFromTheRequestToTheFirstReplyByte)
{
    // The clock moves on once at the send and once at the reply: one step apart.
    link.queueChunk(Reply::value(1, "0064"));
    read("INT16:100");
    clock.step = 700;
    link.queueChunk(Reply::value(1, "0064"));
    read("INT16:100");
    clock.step = 300;
    // A reply that comes one byte per receive is timed by its first byte only.
    link.queueBytewise(Reply::value(1, "0064"));
    read("INT16:100");

    const StationDiagnostics s = diagnostics.station(1);
    EXPECT_EQ(s.replies, 3u);
    EXPECT_EQ(s.latencyMinUs, 100);
    EXPECT_EQ(s.latencyMedianUs, 300);
    EXPECT_EQ(s.latencyMaxUs, 700);
}

TEST(LinkDiagnostics, MedianCoversTheLatestRepliesOnly)
{
    LinkDiagnostics diagnostics;
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
