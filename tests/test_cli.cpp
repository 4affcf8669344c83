// The built lustbus program, run as a user runs it: against "lustbus simulate" on a
// pseudo-terminal and on TCP loopback, and on its own for info, help and usage errors.
#include <gtest/gtest.h>

#include "cliprocess.h"

namespace {

// A run of lustbus: its exit code, all of stdout (trimmed unless none) and a part of
// stderr.
struct Expected { const char *arguments; int exitCode; const char *out, *err; };

template<size_t N>
void expectRuns(const Expected (&runs)[N], const QStringList &options)
{
    for (const Expected &run : runs) {
        const Result r = lustbus(args(run.arguments) + options);
        EXPECT_EQ(r.exitCode, run.exitCode) << run.arguments << '\n' << describe(r);
        EXPECT_EQ((*run.out ? r.out.trimmed() : r.out).toStdString(), run.out) << run.arguments;
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(run.err))) << run.arguments << '\n'
                                                                 << describe(r);
    }
}

class CliOnSimulator : public ::testing::TestWithParam<const char *>
{
};

// The value forms that watch's own end-to-end runs leave out, the driver's errors, scan.
TEST_P(CliOnSimulator, ReadsAndWritesEveryDataType)
{
    SimulatorProcess simulator(args(GetParam()));
    ASSERT_FALSE(simulator.link().isEmpty());
    const Expected runs[] = {
        {"read INT8:10", 0, "-100", ""},
        {"read USIGN16:13", 0, "43981", ""},
        {"read USIGN32:15", 0, "3735928559", ""},
        {"read FIXPT16:103:0 --count 4", 0, "1.00, 2.00, 3.00, 4.00", ""},
        {"read INT32Q16:104:1 --count 3", 0, "1.00, 2.00, 3.00", ""},
        {"read INT32:14 --hex", 0, "C01DFEFF", ""},
        {"read usign8:1100:250 --count 5", 0, "250, 251, 252, 253, 254", ""},
        {"read INT16:101:1 --count 2 --json", 0,
         R"({"address":"INT16:101:1","count":2,"hex":"FFFF0200","kind":2,"value":[-1,2]})", ""},
        {"read INT16:999", 1, "", "read INT16:999> invalid param no."},
        {"read INT16:999 --json", 1,
         R"({"address":"INT16:999","count":1,"error":"read INT16:999> invalid param no.","kind":2})",
         ""},
        {"scan --from 0 --to 2", 0, "station 1: answers (read USIGN32:1> invalid param no.)",
         "1 station answered of 3 tried"},
        // Writes, each read back.
        {"write INT16:12 -5", 0, "written INT16:12 = -5", ""},
        {"read INT16:12", 0, "-5", ""},
        {"write FLOAT32:16 -0.25", 0, "written FLOAT32:16 = -0.25", ""},
        {"read FLOAT32:16", 0, "-0.25", ""},
        {"write FIXPT16:17 12.5", 0, "written FIXPT16:17 = 12.50", ""},
        {"read FIXPT16:17", 0, "12.50", ""},
        // The driver's scalings add 0.5 and cut toward zero, on the way out and back:
        // -1.50 goes out as raw -98303 and comes back as -149.49 hundredths, so -1.49.
        {"write INT32Q16:104:1 -1.5,2.25", 0, "written INT32Q16:104:1 = -1.50, 2.25", ""},
        {"read INT32Q16:104:1 --count 2", 0, "-1.49, 2.25", ""},
        {"write STRING:19:0 NEW", 0, "written STRING:19:0 = NEW", ""},
        {"read STRING:19:0", 0, "NEW", ""},
        {"write INT16:101:2 7,8,9", 0, "written INT16:101:2 = 7, 8, 9", ""},
        {"read INT16:101:2 --count 3", 0, "7, 8, 9", ""},
        // USIGN8:11 is 200 (0xC8): bits 0 to 3 become 1, 0, 1, 0 -> 0xC5.
        {"write USIGN8:11.0 1010", 0, "written USIGN8:11.0 = 1010", ""},
        {"read USIGN8:11", 0, "197", ""},
        {"write USIGN32:20 1", 1, "", "write USIGN32:20> invalid param no."}, // read-only: NAK
    };
    expectRuns(runs, simulator.link() + args("--timeout 300 --retries 0"));
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, CliOnSimulator, ::testing::Values("--pty", "--tcp 0"),
                         [](const auto &info) { return std::string(info.param + 2, 3); });

TEST(Cli, ValueParsingErrorsAreUsageErrors)
{
    const Expected cases[] = {
        {"", 2, "", "Usage: lustbus COMMAND"},
        {"write INT16:12 70000", 2, "", "\"70000\""},
        {"write FIXPT16:17 1.234", 2, "", "at most two places"},
        {"write USIGN8:11.0 12", 2, "", "lowest bit first"},
        {"write USIGN8:11.0 101 --count 2", 2, "", "--count 2"},
        {"write INT16:12 0A0 --hex", 2, "", "\"0A0\""},
        {"write STRING:19 x", 2, "", "STRING:19:0"},
        {"read INT16", 2, "", "'INT16'"},
        {"read INT16:x", 2, "", "bad address 'INT16:x': expected TYPE:PARAM, TYPE:PARAM:INDEX"},
        {"read INT16:12 --kind 9", 2, "", "--kind '9'"},
        {"read INT16:12 --station 64", 2, "", "--station '64'"},
        {"read INT16:12 --count 0", 2, "", "--count '0'"},
        {"read INT16:12 --timeout -5", 2, "", "--timeout '-5'"},
        {"read INT16:12 --retries x", 2, "", "--retries 'x'"},
        {"read INT16:12 --inter-byte-timeout -1", 2, "", "--inter-byte-timeout '-1'"},
        {"read INT16:12 --reconnect-interval soon", 2, "",
         "bad --reconnect-interval 'soon': expected a whole number from 0 to 3600000"},
        {"read INT16:12 --tcp nohost", 2, "", "nohost"},
        {"read INT16:12 --settings RS485,57600,EVEN,9,1", 2, "", "--settings"},
        {"read INT16:12 --bogus", 2, "", "bogus"},
        {"read", 2, "", "missing ADDRESS"},
        {"write INT16:12", 2, "", "missing VALUE"},
        {"read INT16:12 extra", 2, "", "'extra'"},
        {"frobnicate", 2, "", "'frobnicate'"},
        {"simulate --fault meltdown:1", 2, "", "--fault"},
        {"simulate --tcp 192.0.2.1:5000", 2, "", "127.0.0.1"},
        {"simulate --corrupt-echo 2", 2, "", "--corrupt-echo needs --echo"},
        {"simulate --echo --corrupt-echo -1", 2, "", "--corrupt-echo '-1'"},
        {"simulate --echo --corrupt-echo some", 2, "",
         "bad --corrupt-echo 'some': expected a count of telegrams or all"},
        {"watch", 2, "", "missing ADDRESS"},
        {"watch INT16:12 INT16", 2, "", "'INT16'"},
        {"watch INT16:12 --interval -1", 2, "", "--interval '-1'"},
        {"watch INT16:12 --samples 0", 2, "", "--samples '0'"},
        {"watch INT16:12 --duration 0", 2, "", "--duration '0'"},
        {"watch INT16:12 --json --csv", 2, "", "--csv and --json"},
        {"watch STRING:19", 2, "", "STRING:19:0"},
        {"watch INT16:101:0@", 2, "", "after '@'"},
        {"watch INT16:101:0@0", 2, "", "'INT16:101:0@0': bad --count '0'"},
    };
    expectRuns(cases, {});
}

TEST(Cli, InfoShowsTheDriverAsAHostSeesIt)
{
    const Result r = lustbus(args("info"));
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    for (const char *line : {"name:            LustBus ServoC/CDE Series", "manufacturer:    Lust",
                             "version:         1.0.0", "settings text:   RS485,57600,EVEN,7,1",
                             "interface:       com.moravite.drivers.DriverInterface/1.1"})
        EXPECT_TRUE(r.out.contains(QLatin1String(line))) << line << '\n' << describe(r);

    const QJsonObject object = json(lustbus(args("info --json")).out);
    EXPECT_EQ(object[QLatin1String("driverCode")].toInt(), 112);
    EXPECT_EQ(object[QLatin1String("protocolSettings")][QLatin1String("timeout")].toInt(), 500);
    EXPECT_EQ(object[QLatin1String("portSettings")][QLatin1String("string")].toString(),
              QStringLiteral("COM2"));

    const Result missing = lustbus(args("info --plugin /nonexistent/libnothing.so"));
    EXPECT_EQ(missing.exitCode, 3);
    EXPECT_TRUE(missing.err.contains(QLatin1String("/nonexistent/libnothing.so")));
}

TEST(Cli, EveryCommandExplainsItself)
{
    const struct { const char *command, *text; } cases[] = {
        {"info", ""}, {"read", "LOWEST BIT"}, {"write", ""}, {"scan", ""}, {"simulate", ""},
        {"demo", ""}, {"watch", "ADDRESS@N"}, {"watch", "time,address,value,error"},
        {"watch", "Examples:"}};
    for (const auto &c : cases) {
        const Result r = lustbus({QString::fromLatin1(c.command), QStringLiteral("--help")});
        EXPECT_EQ(r.exitCode, 0) << c.command;
        EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: lustbus %1 [options]")
                                         .arg(QLatin1String(c.command))))
            << r.out.toStdString();
        EXPECT_TRUE(r.out.contains(QLatin1String(c.text))) << c.command << ": " << c.text;
    }
    const Result overview = lustbus(args("--help"));
    EXPECT_EQ(overview.exitCode, 0);
    EXPECT_TRUE(overview.out.contains(QLatin1String("simulate")));
}

TEST(Cli, WithoutALinkTheBuiltInSimulatorAnswersAndSaysSo)
{
    const Expected runs[] = {{"read INT16:1000 --trace", 0, "4660", "built-in simulator"},
                             {"read INT16:1000 --trace", 0, "4660", "> <EOT>A201000<ENQ>"}};
    expectRuns(runs, {});
}

TEST(Cli, ALinkThatDoesNotOpenIsNamed)
{
    // 127.0.0.1:1: a port of the loopback range that nothing listens on.
    const Expected runs[] = {
        {"read INT16:12 --port /dev/lustbus-no-such-port", 3, "",
         "cannot open serial port \"/dev/lustbus-no-such-port\""},
        {"read INT16:12 --tcp 127.0.0.1:1", 3, "", "127.0.0.1:1"},
    };
    expectRuns(runs, {});
}

TEST(Cli, DemoRunsTheTour)
{
    const Result r = lustbus(args("demo"), 60000);
    EXPECT_EQ(r.exitCode, 0) << describe(r);
    for (const char *text : {"LustBus ServoC/CDE Series", "= -1234", "= LUST CDE SIM",
                             "write INT16:12 -321", "= 197", "read INT16:999> invalid param no.",
                             "< A<NAK>", "Demo complete."})
        EXPECT_TRUE(r.out.contains(QLatin1String(text))) << text << '\n' << r.out.toStdString();
}

TEST(Cli, StatsCountAScriptedFaultMixExactly)
{
    // Two requests lost, then one NAK: with one retry the first read fails after two
    // attempts, the second succeeds on its retry after the NAK.
    SimulatorProcess simulator(args("--tcp 0 --fault noreply:2,nak:1"));
    ASSERT_FALSE(simulator.link().isEmpty());
    const QStringList read = args("read INT16:12 --timeout 200 --retries 1 --stats --json")
                             + simulator.link();
    const Result lost = lustbus(read);
    EXPECT_EQ(lost.exitCode, 1) << describe(lost);
    EXPECT_EQ(stationCounts(json(lost.out)),
              compact(R"({"stations": [{"station": 1, "requests": 1, "successes": 0,
                  "retries": 1, "errors": 1, "latency": 0,
                  "lastError": "read INT16:12> no response",
                  "errorsByText": {"read INT16:12> no response": 1}}]})"));
    const Result retried = lustbus(read);
    EXPECT_EQ(retried.exitCode, 0) << describe(retried);
    EXPECT_EQ(json(retried.out)[QLatin1String("value")].toInt(), -1234);
    EXPECT_EQ(stationCounts(json(retried.out)),
              compact(R"({"stations": [{"station": 1, "requests": 1, "successes": 1,
                  "retries": 1, "errors": 0, "latency": 2, "lastError": null,
                  "errorsByText": {}}]})"));

    // Without --json the table goes to stderr, and stdout keeps only the value.
    const Result text = lustbus(args("read INT16:999 --stats --retries 0"));
    EXPECT_EQ(text.exitCode, 1) << describe(text);
    EXPECT_TRUE(text.out.isEmpty()) << describe(text);
    for (const char *part : {"link statistics", "1 x read INT16:999> invalid param no."})
        EXPECT_TRUE(text.err.contains(QLatin1String(part))) << part << '\n' << describe(text);
}

TEST(Cli, AnEchoingLineNeedsEchoAndACorruptedEchoIsNoResponse)
{
    SimulatorProcess simulator(args("--tcp 0 --echo --corrupt-echo 1"));
    ASSERT_FALSE(simulator.link().isEmpty());
    const Expected runs[] = {
        // The first echo comes back with its EOT turned to 'D'.
        {"read INT16:12 --echo", 1, "", "read INT16:12> no response"},
        {"read INT16:12 --echo", 0, "-1234", ""},
        // Without --echo the driver takes its own telegram for the reply.
        {"read INT16:12", 1, "", "invalid station id from servo"},
    };
    expectRuns(runs, simulator.link() + args("--timeout 300 --retries 0"));
}

} // namespace
