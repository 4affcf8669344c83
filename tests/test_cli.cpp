// The built lustbus program, run as a user runs it: against "lustbus simulate" on a
// pseudo-terminal and on TCP loopback, and on its own for info, help and usage errors.
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>

#include <gtest/gtest.h>

#include "cliprocess.h"

namespace {

class CliOnSimulator : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        m_simulator = std::make_unique<SimulatorProcess>(
            QStringList{QString::fromLatin1(GetParam())}
            + (QString::fromLatin1(GetParam()) == QLatin1String("--tcp")
                   ? QStringList{QStringLiteral("0")}
                   : QStringList{}));
        ASSERT_EQ(m_simulator->link().size(), 2) << m_simulator->firstLine().toStdString();
    }
    Result run(const QStringList &arguments)
    {
        return lustbus(arguments + m_simulator->link()
                       + QStringList{QStringLiteral("--timeout"), QStringLiteral("300"),
                                     QStringLiteral("--retries"), QStringLiteral("0")});
    }

    std::unique_ptr<SimulatorProcess> m_simulator;
};

struct ReadCase
{
    const char *arguments;
    const char *printed;
};

TEST_P(CliOnSimulator, ReadsEveryDataType)
{
    const ReadCase cases[] = {
        {"INT8:10", "-100"},
        {"USIGN8:11", "200"},
        {"INT16:12", "-1234"},
        {"USIGN16:13", "43981"},
        {"INT32:14", "-123456"},
        {"USIGN32:15", "3735928559"},
        {"FLOAT32:16", "1.5"},
        {"FIXPT16:17", "1.25"},
        {"STRING:19:0", "LUST CDE SIM"},
        {"INT16:101:0 --count 4", "0, -1, 2, -3"},
        {"FIXPT16:103:0 --count 4", "1.00, 2.00, 3.00, 4.00"},
        {"INT32Q16:104:1 --count 3", "1.00, 2.00, 3.00"},
        {"FLOAT32:105:0 --count 2", "0.5, 1.5"},
        {"USIGN16:13.4 --count 8", "00111101"}, // 0xABCD from bit 4: 0xBC, lowest first
        {"INT32:14 --hex", "C01DFEFF"},
        {"usign8:1100:250 --count 5", "250, 251, 252, 253, 254"},
    };
    for (const ReadCase &c : cases) {
        const Result r = run(QStringList{QStringLiteral("read")}
                             + QString::fromLatin1(c.arguments).split(QLatin1Char(' ')));
        EXPECT_EQ(r.exitCode, 0) << c.arguments << '\n' << describe(r);
        EXPECT_EQ(r.out.trimmed().toStdString(), c.printed) << c.arguments;
    }
}

TEST_P(CliOnSimulator, WritesAndReadsBack)
{
    const ReadCase cases[] = {
        {"INT16:12 -5", "-5"},
        {"USIGN32:15 0x01020304", "16909060"},
        {"FLOAT32:16 -0.25", "-0.25"},
        {"FIXPT16:17 12.5", "12.50"},
        // The driver's scalings add 0.5 and cut toward zero, on the way out and back:
        // -1.50 goes out as raw -98303 and comes back as -149.49 hundredths, so -1.49.
        {"INT32Q16:104:1 -1.5,2.25", "-1.49, 2.25"},
        {"STRING:19:0 NEW", "NEW"},
        {"INT16:101:2 7,8,9", "7, 8, 9"},
    };
    for (const ReadCase &c : cases) {
        const QStringList parts = QString::fromLatin1(c.arguments).split(QLatin1Char(' '));
        const Result w = run({QStringLiteral("write"), parts[0], parts[1]});
        ASSERT_EQ(w.exitCode, 0) << c.arguments << '\n' << describe(w);
        QStringList read{QStringLiteral("read"), parts[0]};
        const int elements = int(parts[1].count(QLatin1Char(','))) + 1;
        if (elements > 1)
            read << QStringLiteral("--count") << QString::number(elements);
        const Result r = run(read);
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        EXPECT_EQ(r.out.trimmed().toStdString(), c.printed) << c.arguments;
    }
}

TEST_P(CliOnSimulator, BitWriteChangesOnlyItsBits)
{
    // USIGN8:11 is 200 (0xC8): bits 0 to 3 become 1, 0, 1, 0 -> 0xC5.
    const Result w = run({QStringLiteral("write"), QStringLiteral("USIGN8:11.0"),
                          QStringLiteral("1010")});
    ASSERT_EQ(w.exitCode, 0) << describe(w);
    const Result r = run({QStringLiteral("read"), QStringLiteral("USIGN8:11")});
    EXPECT_EQ(r.out.trimmed(), QStringLiteral("197")) << describe(r);
    const Result bits = run({QStringLiteral("read"), QStringLiteral("USIGN8:11.2"),
                             QStringLiteral("--count"), QStringLiteral("3")});
    EXPECT_EQ(bits.out.trimmed(), QStringLiteral("100")) << describe(bits);
}

TEST_P(CliOnSimulator, JsonParsesBack)
{
    const Result r = run({QStringLiteral("read"), QStringLiteral("INT16:101:1"),
                          QStringLiteral("--count"), QStringLiteral("2"), QStringLiteral("--json")});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(r.out.toUtf8(), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    EXPECT_EQ(object.value(QStringLiteral("address")).toString(), QStringLiteral("INT16:101:1"));
    EXPECT_EQ(object.value(QStringLiteral("kind")).toInt(), 2);
    EXPECT_EQ(object.value(QStringLiteral("count")).toInt(), 2);
    EXPECT_EQ(object.value(QStringLiteral("hex")).toString(), QStringLiteral("FFFF0200"));
    const QJsonArray value = object.value(QStringLiteral("value")).toArray();
    ASSERT_EQ(value.size(), 2);
    EXPECT_EQ(value[0].toInt(), -1);
    EXPECT_EQ(value[1].toInt(), 2);
    EXPECT_FALSE(object.contains(QStringLiteral("error")));
}

TEST_P(CliOnSimulator, UnknownParameterIsADriverError)
{
    const Result r = run({QStringLiteral("read"), QStringLiteral("INT16:999")});
    EXPECT_EQ(r.exitCode, 1) << describe(r);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QLatin1String("read INT16:999> invalid param no."))) << describe(r);

    const Result j = run({QStringLiteral("read"), QStringLiteral("INT16:999"),
                          QStringLiteral("--json")});
    EXPECT_EQ(j.exitCode, 1);
    const QJsonObject object = QJsonDocument::fromJson(j.out.toUtf8()).object();
    EXPECT_EQ(object.value(QStringLiteral("error")).toString(),
              QStringLiteral("read INT16:999> invalid param no."))
        << j.out.toStdString();
    EXPECT_FALSE(object.contains(QStringLiteral("value")));

    const Result w = run({QStringLiteral("write"), QStringLiteral("USIGN32:20"),
                          QStringLiteral("1")}); // read-only: NAK
    EXPECT_EQ(w.exitCode, 1) << describe(w);
    EXPECT_TRUE(w.err.contains(QLatin1String("write USIGN32:20> invalid param no.")));
}

TEST_P(CliOnSimulator, ScanFindsTheStation)
{
    const Result r = run({QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("0"),
                          QStringLiteral("--to"), QStringLiteral("2")});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out.trimmed(),
              QStringLiteral("station 1: answers (read USIGN32:1> invalid param no.)"))
        << describe(r);
    EXPECT_TRUE(r.err.contains(QLatin1String("1 station answered of 3 tried")));
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, CliOnSimulator, ::testing::Values("--pty", "--tcp"),
                         [](const auto &info) { return std::string(info.param + 2); });

TEST(Cli, ValueParsingErrorsAreUsageErrors)
{
    struct Case
    {
        QStringList arguments;
        const char *named;
    };
    const Case cases[] = {
        {{"write", "INT16:12", "70000"}, "\"70000\""},
        {{"write", "INT8:10", "1.5"}, "\"1.5\""},
        {{"write", "FIXPT16:17", "1.234"}, "at most two places"},
        {{"write", "USIGN8:11.0", "12"}, "lowest bit first"},
        {{"write", "USIGN8:11.0", "101", "--count", "2"}, "--count 2"},
        {{"write", "INT16:12", "0A0", "--hex"}, "\"0A0\""},
        {{"write", "STRING:19", "x"}, "STRING:19:0"},
        {{"write", "INT16:12", "x"}, "expected an integer from -32768 to 32767"},
        {{"read", "INT16"}, "'INT16'"},
        {{"read", "INT16:x"}, "bad address 'INT16:x'"},
        {{"read", "INT16:12", "--kind", "9"}, "--kind '9'"},
        {{"read", "INT16:12", "--kind", "x"}, "--kind 'x'"},
        {{"read", "INT16:12", "--station", "64"}, "--station '64'"},
        {{"read", "INT16:12", "--station", "x"}, "--station 'x'"},
        {{"read", "INT16:12", "--count", "x"}, "--count 'x'"},
        {{"read", "INT16:12", "--count", "0"}, "--count '0'"},
        {{"read", "USIGN8:100:0", "--count", "300"}, "at most 255 bytes"},
        {{"read", "USIGN16:13.4", "--count", "300"}, "at most 255 bits"},
        {{"read", "INT16:12", "--timeout", "x"}, "--timeout 'x'"},
        {{"read", "INT16:12", "--timeout", "-5"}, "--timeout '-5'"},
        {{"read", "INT16:12", "--retries", "x"}, "--retries 'x'"},
        {{"read", "INT16:12", "--delay", "x"}, "--delay 'x'"},
        {{"read", "INT16:12", "--tcp", "nohost"}, "nohost"},
        {{"read", "INT16:12", "--settings", "RS485,57600,EVEN,9,1"}, "--settings"},
        {{"read", "INT16:12", "--bogus"}, "bogus"},
        {{"read"}, "missing ADDRESS"},
        {{"write", "INT16:12"}, "missing VALUE"},
        {{"read", "INT16:12", "extra"}, "'extra'"},
        {{"frobnicate"}, "'frobnicate'"},
        {{"simulate", "--fault", "meltdown:1"}, "--fault"},
        {{"simulate", "--tcp", "192.0.2.1:5000"}, "127.0.0.1"},
        {{"read", "INT16:12", "--inter-byte-timeout", "x"}, "--inter-byte-timeout 'x'"},
        {{"read", "INT16:12", "--inter-byte-timeout", "-1"}, "--inter-byte-timeout '-1'"},
        {{"read", "INT16:12", "--reconnect-interval", "soon"}, "--reconnect-interval 'soon'"},
        {{"simulate", "--corrupt-echo", "2"}, "--corrupt-echo needs --echo"},
        {{"simulate", "--echo", "--corrupt-echo", "some"}, "--corrupt-echo 'some'"},
        {{"simulate", "--echo", "--corrupt-echo", "-1"}, "--corrupt-echo '-1'"},
    };
    for (const Case &c : cases) {
        const Result r = lustbus(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.arguments.join(QLatin1Char(' ')).toStdString() << '\n'
                                 << describe(r);
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.named))) << describe(r);
        EXPECT_TRUE(r.out.isEmpty());
    }
}

TEST(Cli, InfoShowsTheDriverAsAHostSeesIt)
{
    const Result r = lustbus({QStringLiteral("info")});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    for (const char *line : {"name:            LustBus ServoC/CDE Series", "manufacturer:    Lust",
                             "version:         1.0.0", "settings text:   RS485,57600,EVEN,7,1",
                             "interface:       com.moravite.drivers.DriverInterface/1.1"})
        EXPECT_TRUE(r.out.contains(QLatin1String(line))) << line << '\n' << describe(r);

    const Result j = lustbus({QStringLiteral("info"), QStringLiteral("--json")});
    const QJsonObject object = QJsonDocument::fromJson(j.out.toUtf8()).object();
    EXPECT_EQ(object.value(QStringLiteral("driverCode")).toInt(), 112);
    EXPECT_EQ(object.value(QStringLiteral("protocolSettings")).toObject()
                  .value(QStringLiteral("timeout")).toInt(),
              500);
    EXPECT_EQ(object.value(QStringLiteral("portSettings")).toObject()
                  .value(QStringLiteral("string")).toString(),
              QStringLiteral("COM2"));

    const Result missing = lustbus({QStringLiteral("info"), QStringLiteral("--plugin"),
                                    QStringLiteral("/nonexistent/libnothing.so")});
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(missing.err.contains(QLatin1String("/nonexistent/libnothing.so")));
}

TEST(Cli, EveryCommandExplainsItself)
{
    for (const char *command : {"info", "read", "write", "scan", "watch", "simulate", "demo"}) {
        const Result r = lustbus({QString::fromLatin1(command), QStringLiteral("--help")});
        EXPECT_EQ(r.exitCode, 0) << command;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: lustbus %1 [options]")
                                         .arg(QLatin1String(command))))
            << r.out.toStdString();
    }
    EXPECT_TRUE(lustbus({QStringLiteral("read"), QStringLiteral("--help")})
                    .out.contains(QLatin1String("LOWEST BIT")));
    const Result overview = lustbus({QStringLiteral("--help")});
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_TRUE(overview.out.contains(QLatin1String("simulate")));
    EXPECT_EQ(lustbus({}).exitCode, 2);
}

TEST(Cli, WithoutALinkTheBuiltInSimulatorAnswersAndSaysSo)
{
    const Result r = lustbus({QStringLiteral("read"), QStringLiteral("INT16:1000")});
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    EXPECT_EQ(r.out.trimmed(), QStringLiteral("4660"));
    EXPECT_TRUE(r.err.contains(QLatin1String("built-in simulator"))) << describe(r);

    const Result traced = lustbus({QStringLiteral("read"), QStringLiteral("INT16:1000"),
                                   QStringLiteral("--trace")});
    EXPECT_TRUE(traced.err.contains(QLatin1String("> <EOT>A201000<ENQ>"))) << describe(traced);
}

TEST(Cli, ALinkThatDoesNotOpenIsNamed)
{
    const struct
    {
        QStringList arguments;
        const char *named;
    } cases[] = {
        {{"--port", "/dev/lustbus-no-such-port"},
         "cannot open serial port \"/dev/lustbus-no-such-port\""},
        // A port of the loopback range that nothing listens on: the connection is refused.
        {{"--tcp", "127.0.0.1:1"}, "127.0.0.1:1"},
    };
    for (const auto &c : cases) {
        const Result r = lustbus(QStringList{QStringLiteral("read"), QStringLiteral("INT16:12")}
                                 + c.arguments);
        EXPECT_EQ(r.exitCode, 3) << describe(r);
        EXPECT_TRUE(r.err.contains(QLatin1String(c.named))) << describe(r);
    }
}

TEST(Cli, FaultsOfTheSimulatorAreRetried)
{
    SimulatorProcess simulator({QStringLiteral("--tcp"), QStringLiteral("0"),
                                QStringLiteral("--fault"), QStringLiteral("noreply:1")});
    ASSERT_EQ(simulator.link().size(), 2);
    const QStringList link = simulator.link() + QStringList{QStringLiteral("--timeout"),
                                                            QStringLiteral("200")};
    const Result once = lustbus(QStringList{QStringLiteral("read"), QStringLiteral("INT8:10"),
                                            QStringLiteral("--retries"), QStringLiteral("1")}
                                + link);
    EXPECT_EQ(once.exitCode, 0) << describe(once);
    EXPECT_EQ(once.out.trimmed(), QStringLiteral("-100"));
}

TEST(Cli, DemoRunsTheTour)
{
    const Result r = lustbus({QStringLiteral("demo")}, 60000);
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    for (const char *text : {"LustBus ServoC/CDE Series", "= -1234", "= LUST CDE SIM",
                             "write INT16:12 -321", "= 197", "read INT16:999> invalid param no.",
                             "< A<NAK>", "Demo complete."})
        EXPECT_TRUE(r.out.contains(QLatin1String(text))) << text << '\n' << r.out.toStdString();
}

TEST(Cli, SimulateStopsOnSigterm)
{
    SimulatorProcess simulator({QStringLiteral("--pty"), QStringLiteral("--station"),
                                QStringLiteral("3")});
    ASSERT_TRUE(simulator.firstLine().startsWith(QLatin1String("listening on pty /dev/")));
    simulator.process().terminate();
    ASSERT_TRUE(simulator.process().waitForFinished(5000));
    EXPECT_EQ(simulator.process().exitCode(), 0);
    EXPECT_TRUE(simulator.process().readAllStandardError().contains("stopped"));
}

TEST(Cli, StatsCountAScriptedFaultMixExactly)
{
    // Two requests lost, then one NAK: with one retry the first read fails after two
    // attempts, the second succeeds on its retry after the NAK.
    SimulatorProcess simulator({QStringLiteral("--tcp"), QStringLiteral("0"),
                                QStringLiteral("--fault"), QStringLiteral("noreply:2,nak:1")});
    ASSERT_EQ(simulator.link().size(), 2);
    const QStringList options = simulator.link()
                                + QStringList{QStringLiteral("--timeout"), QStringLiteral("200"),
                                              QStringLiteral("--retries"), QStringLiteral("1"),
                                              QStringLiteral("--stats"), QStringLiteral("--json")};
    struct Expected
    {
        int exitCode;
        int successes;
        int retries;
        int replies;
        const char *error;
    };
    const Expected runs[] = {{1, 0, 1, 0, "read INT16:12> no response"}, {0, 1, 1, 2, nullptr}};
    for (const Expected &e : runs) {
        const Result r = lustbus(QStringList{QStringLiteral("read"), QStringLiteral("INT16:12")}
                                 + options);
        ASSERT_EQ(r.exitCode, e.exitCode) << describe(r);
        QJsonParseError parseError;
        const QJsonObject object = QJsonDocument::fromJson(r.out.toUtf8(), &parseError).object();
        ASSERT_EQ(parseError.error, QJsonParseError::NoError) << describe(r);
        const QJsonArray stations = object.value(QStringLiteral("stats")).toObject()
                                        .value(QStringLiteral("stations")).toArray();
        ASSERT_EQ(stations.size(), 1) << describe(r);
        const QJsonObject s = stations[0].toObject();
        EXPECT_EQ(s.value(QStringLiteral("station")).toInt(), 1);
        EXPECT_EQ(s.value(QStringLiteral("requests")).toInt(), 1);
        EXPECT_EQ(s.value(QStringLiteral("successes")).toInt(), e.successes);
        EXPECT_EQ(s.value(QStringLiteral("retries")).toInt(), e.retries);
        EXPECT_EQ(s.value(QStringLiteral("errors")).toInt(), e.error ? 1 : 0);
        EXPECT_EQ(s.value(QStringLiteral("latency")).toObject()
                      .value(QStringLiteral("replies")).toInt(),
                  e.replies);
        const QJsonObject byText = s.value(QStringLiteral("errorsByText")).toObject();
        if (e.error) {
            EXPECT_EQ(byText.size(), 1);
            EXPECT_EQ(byText.value(QString::fromLatin1(e.error)).toInt(), 1) << describe(r);
            EXPECT_EQ(s.value(QStringLiteral("lastError")).toString(), QString::fromLatin1(e.error));
        } else {
            EXPECT_TRUE(byText.isEmpty());
            EXPECT_EQ(object.value(QStringLiteral("value")).toInt(), -1234);
        }
    }

    // Without --json the table goes to stderr, and stdout keeps only the value.
    const Result text = lustbus({QStringLiteral("read"), QStringLiteral("INT16:999"),
                                 QStringLiteral("--stats"), QStringLiteral("--retries"),
                                 QStringLiteral("0")});
    EXPECT_EQ(text.exitCode, 1) << describe(text);
    EXPECT_TRUE(text.out.isEmpty()) << describe(text);
    EXPECT_TRUE(text.err.contains(QLatin1String("link statistics"))) << describe(text);
    EXPECT_TRUE(text.err.contains(QLatin1String("1 x read INT16:999> invalid param no.")))
        << describe(text);
}

TEST(Cli, AnEchoingLineNeedsEchoAndACorruptedEchoIsNoResponse)
{
    SimulatorProcess simulator({QStringLiteral("--tcp"), QStringLiteral("0"),
                                QStringLiteral("--echo"), QStringLiteral("--corrupt-echo"),
                                QStringLiteral("1")});
    ASSERT_EQ(simulator.link().size(), 2) << simulator.firstLine().toStdString();
    const QStringList options = simulator.link()
                                + QStringList{QStringLiteral("--timeout"), QStringLiteral("300"),
                                              QStringLiteral("--retries"), QStringLiteral("0")};
    const QStringList read{QStringLiteral("read"), QStringLiteral("INT16:12")};
    const QStringList echo{QStringLiteral("--echo")};
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char *out;
        const char *err;
    } runs[] = {
        // The first echo comes back with its EOT turned to 'D'.
        {read + options + echo, 1, "", "read INT16:12> no response"},
        {read + options + echo, 0, "-1234", ""},
        // Without --echo the driver takes its own telegram for the reply.
        {read + options, 1, "", "invalid station id from servo"},
    };
    for (const auto &run : runs) {
        const Result r = lustbus(run.arguments);
        EXPECT_EQ(r.exitCode, run.exitCode) << describe(r);
        EXPECT_EQ(r.out.trimmed(), QLatin1String(run.out)) << describe(r);
        EXPECT_TRUE(r.err.contains(QLatin1String(run.err))) << describe(r);
    }
}

} // namespace
