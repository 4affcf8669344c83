// The built lustbus program, run as a user runs it: against "lustbus simulate" on a
// pseudo-terminal and on TCP loopback, and on its own for info, help and usage errors.
#include <gtest/gtest.h>

#include "cliprocess.h"

#include <QtCore/QFile>
#include <QtCore/QMap>
#include <QtSerialPort/QSerialPortInfo>

namespace {

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
        {"read INT32:14 --hex", 0, "C01DFEFF", ""},
        {"read usign8:1100:250 --count 5", 0, "250, 251, 252, 253, 254", ""},
        {"read INT16:101:1 --count 2 --json", 0,
         R"({"address":"INT16:101:1","count":2,"hex":"FFFF0200","kind":2,"value":[-1,2]})", ""},
        {"read INT16:999", 1, "", "read INT16:999> invalid param no."},
        {"read INT16:999 --json", 1,
         R"({"address":"INT16:999","count":1,"error":"read INT16:999> invalid param no.",
             "exit":1,"kind":2})",
         ""},
        // A negative INT32Q16 (18 holds -2.50) reads as the clamp of the driver's parse:
        // no value, in no form.
        {"read INT32Q16:18", 1, "", "read INT32Q16:18> 32768.00 is where the driver's simple "
                                    "INT32Q16 read stops"},
        {"read INT32Q16:18 --hex --json", 1,
         R"({"address":"INT32Q16:18","count":1,"kind":3,"exit":1,"error":"read INT32Q16:18> )"
         R"(32768.00 is where the driver's simple INT32Q16 read stops: the servo's value (a )"
         R"(negative one) cannot be read through a simple address"})", ""},
        // --raw-address: what the driver makes of texts that lustbus refuses.
        {"read FOO:12 --raw-address", 0, "2EFB0000", ""},
        {"read ~INT16:12 --raw-address", 0, "2EFB0000", ""},
        {"read INT16:12.4x --raw-address", 0, "0", ""},        // bit 4 of 0xFB2E
        {"read INT16:12 --count 2 --raw-address", 0, "-1234, 0", ""}, // padded with zeros
        {"read INT16:x --raw-address", 1, "", "read INT16:x> invalid address"},
        {"scan --from 0 --to 2", 0, "station 1: answers (read USIGN32:1> invalid param no.)",
         "1 station answered of 3 tried"},
        {"scan --from 0 --to 2 --param 15 --json", 0,
         R"({"from":0,"param":15,"stations":[
             {"answers":false,"error":"read USIGN32:15> no response","station":0},
             {"answers":true,"station":1,"value":3735928559},
             {"answers":false,"error":"read USIGN32:15> no response","station":2}],"to":2})",
         ""},
        // Writes, each read back.
        {"write INT16:12 -5", 0, "written INT16:12 = -5", ""},
        {"read INT16:12", 0, "-5", ""},
        {"write FLOAT32:16 -0.25", 0, "written FLOAT32:16 = -0.25", ""},
        {"read FLOAT32:16", 0, "-0.25", ""},
        // A write says what the servo will hold: the driver's scalings add 0.5 and cut
        // toward zero, on the way out and back. FIXPT16 0.07 goes out as 1 twentieth;
        // -1.50 goes out as raw -98303 and comes back as -149.49 hundredths, so -1.49.
        {"write FIXPT16:17 0.07", 0, "written FIXPT16:17 = 0.05 (0.07 is not a multiple of 0.05)",
         ""},
        {"read FIXPT16:17", 0, "0.05", ""},
        {"write INT32Q16:104:1 -1.5,2.25", 0,
         "written INT32Q16:104:1 = -1.49, 2.25 (-1.50 becomes -1.49 by the driver's rounding)", ""},
        {"read INT32Q16:104:1 --count 2", 0, "-1.49, 2.25", ""},
        {"write FIXPT16:17 0.07 --json", 0,
         R"({"address":"FIXPT16:17","count":1,"hex":"07000000","kind":3,"outcome":"done",
             "value":0.05,"written":true})",
         ""},
        // --hex takes exactly the address's bytes.
        {"write USIGN16:13 CDAB --hex", 0, "written USIGN16:13 = CDAB", ""},
        {"read USIGN16:13", 0, "43981", ""},
        {"write INT16:101:0 0700F8FF --hex", 0, "written INT16:101:0 = 0700F8FF", ""},
        {"read INT16:101:0 --count 2", 0, "7, -8", ""},
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
        {"write INT16:12 CDABEF --hex", 2, "", "'INT16:12' takes 2 bytes (kind 2, count 1), not 3"},
        {"write INT16:12 CD --hex", 2, "", "takes 2 bytes (kind 2, count 1), not 1 byte"},
        {"write INT16:101:0 CDABEF --hex", 2, "", "whole elements of 2 bytes (kind 2), not 3"},
        {"write INT16:101:0 CDABEF00 --hex --count 1", 2, "", "takes 2 bytes (kind 2, count 1)"},
        {"write USIGN8:11.0 0102 --hex --count 4", 2, "", "4 bits of 'USIGN8:11.0' take 1 byte"},
        {"read INT16", 2, "", "'INT16'"},
        {"read INT16:x", 2, "", "bad address 'INT16:x': expected TYPE:PARAM, TYPE:PARAM:INDEX"},
        // Texts the driver would take, each named with the cause.
        {"read FOO:12", 2, "", "bad address 'FOO:12': 'FOO' is no data type"},
        {"write :12 5", 2, "", "bad address ':12': '' is no data type"},
        {"read ~INT16:12", 2, "", "bad address ' INT16:12': blanks are no part of an address"},
        {"read USIGN16:13.4.5", 2, "", "'USIGN16:13.4.5': characters after the bit number 4"},
        {"read INT16:12 --count 2", 2, "", "bad --count 2: 'INT16:12' is a simple parameter"},
        {"watch INT16:12@3", 2, "", "such as INT16:12:0"},
        {"read INT16:12 --kind 9", 2, "", "--kind '9'"},
        {"read INT16:12 --station 64", 2, "", "--station '64'"},
        // One station rule for every command that takes a station.
        {"simulate --station 64", 2, "", "bad --station '64': expected a whole number from 0 to 63"},
        {"scan --sim --from -1", 2, "", "bad --from '-1': expected a whole number from 0 to 63"},
        {"scan --sim --to 64", 2, "", "bad --to '64': expected a whole number from 0 to 63"},
        {"scan --sim --from 5 --to 4", 2, "", "--from 5 lies above --to 4"},
        {"read INT16:12 --count 0", 2, "", "--count '0'"},
        {"read INT16:12 --timeout -5", 2, "", "--timeout '-5'"},
        {"read INT16:12 --retries x", 2, "", "--retries 'x'"},
        {"read INT16:12 --inter-byte-timeout -1", 2, "", "--inter-byte-timeout '-1'"},
        {"read INT16:12 --reconnect-interval soon", 2, "",
         "bad --reconnect-interval 'soon': expected a whole number from 0 to 3600000"},
        {"read INT16:12 --tcp nohost", 2, "", "nohost"},
        {"read INT16:12 --settings RS485,57600,EVEN,9,1", 2, "", "--settings"},
        {"read INT16:12 --bogus", 2, "", "bogus"},
        {"read INT16:12 --rts-delay-before 5 --port /dev/null", 2, "",
         "--rts-delay-before needs --rs485"},
        {"read INT16:12 --rs485 --rts-delay-after 101 --port /dev/null", 2, "",
         "bad --rts-delay-after '101': expected a whole number from 0 to 100"},
        {"read INT16:12 --rs485 --tcp 127.0.0.1:1", 2, "",
         "--rs485 switches a serial port: give --port DEVICE, not --tcp"},
        {"scan --rs485 --sim", 2, "", "not --sim"},
        {"write INT16:12", 2, "", "missing VALUE"},
        {"read INT16:12 extra", 2, "", "'extra'"},
        {"frobnicate", 2, "", "'frobnicate'"},
        {"--completion fish", 2, "", "lustbus --completion: expected bash or zsh, not 'fish'"},
        {"simulate --fault meltdown:1", 2, "", "--fault"},
        {"simulate --tcp 192.0.2.1:5000", 2, "", "127.0.0.1"},
        {"simulate --corrupt-echo 2", 2, "", "--corrupt-echo needs --echo"},
        {"simulate --echo --corrupt-echo some", 2, "",
         "bad --corrupt-echo 'some': expected a count of telegrams or all"},
        {"gateway", 2, "", "no link given"},
        {"gateway --sim --listen 5021x", 2, "", "--listen: bad endpoint '5021x'"},
        {"gateway --sim --listen nohost:5021", 2, "", "'nohost' is no IP address"},
        {"gateway --sim --allow 10.0.0.0/33", 2, "", "bad --allow '10.0.0.0/33': expected ADDRESS/BITS"},
        {"gateway --sim --max-clients 0", 2, "", "bad --max-clients '0'"},
        {"gateway --sim --turnaround -1", 2, "", "bad --turnaround '-1'"},
        {"gateway --sim --retries 1", 2, "", "Unknown option 'retries'"},
        {"watch INT16:12 --duration 0", 2, "", "--duration '0'"},
        {"watch INT16:12 --json --csv", 2,
         R"({"error":"--csv and --json name two output forms; give one","exit":2})",
         "--csv and --json"},
        {"watch INT16:101:0@", 2, "", "after '@'"},
        {"watch INT16:101:0@0", 2, "", "'INT16:101:0@0': bad --count '0'"},
    };
    expectRuns(cases);
}

// What each command shows: its help (each option is the docs' tests'), the driver as a
// host sees it, the demo's tour. Qt wraps the option texts: compared with the line
// breaks made blanks.
TEST(Cli, EveryCommandExplainsItself)
{
    const struct { const char *arguments, *text; } cases[] = {
        {"read --help", "NAME[I..J]"}, {"watch --help", "ADDRESS@N"},
        {"write --help", "\"error\" and \"exit\""}, {"backup --help", "\"complete\": false"},
        {"diff --help", "[options] A [B]"},
        // scan's own defaults, not the driver's.
        {"scan --help", "How long to wait for each station's reply. Default: 100."},
        {"scan --help", "repeated. Default: 0."},
        {"info", "name: LustBus ServoC/CDE Series"}, {"info", "manufacturer: Lust"},
        {"info", "version: 1.0.0"}, {"info", "settings text: RS485,57600,EVEN,7,1"},
        {"info", "interface: com.moravite.drivers.DriverInterface/1.1"},
        {"demo", "= 197"}, {"demo", "< A<NAK>"}, {"demo", "Demo complete."},
        {"--help", "LUSTBUS_TCP"},
    };
    QMap<QByteArray, Result> runs; // each command line once
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.arguments) + ": " + c.text);
        if (!runs.contains(c.arguments))
            runs.insert(c.arguments, lustbus(args(c.arguments), 60000));
        const Result &r = runs[c.arguments];
        EXPECT_EQ(r.exitCode, 0) << describe(r);
        const QString usage = QStringLiteral("Usage: lustbus %1 [options]")
                                  .arg(QString::fromLatin1(c.arguments).section(QLatin1Char(' '), 0, 0));
        EXPECT_TRUE(!QByteArray(c.arguments).endsWith(" --help") || r.out.startsWith(usage))
            << describe(r);
        EXPECT_TRUE(r.out.simplified().contains(QLatin1String(c.text))) << describe(r);
    }
    EXPECT_FALSE(lustbus(args("scan --help")).out.contains(QLatin1String("--station <")));

    // The port's "COM2" is install_test.sh's, through the kit.
    const QJsonObject object = json(lustbus(args("info --json")).out);
    EXPECT_EQ(object[QLatin1String("driverCode")].toInt(), 112);
    EXPECT_EQ(object[QLatin1String("protocolSettings")][QLatin1String("timeout")].toInt(), 500);
    // The build tree's program loads the build tree's plugin; an installed one, the
    // installed plugin (install_test.sh). One that does not load is
    // Cli.JsonGivesOneObjectForEveryExitStatus's.
    EXPECT_EQ(object[QLatin1String("plugin")].toString(), QStringLiteral(LUSTBUS_PLUGIN_PATH));
}

// What lustbus says, the project's version and the change log's newest release agree
// (changes not yet released gather under "## Unreleased" above it).
TEST(Cli, OneVersionForThePackage)
{
    const Result r = lustbus(args("--version"));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.toStdString(), "lustbus " LUSTBUS_PACKAGE_VERSION "\n");
    QFile changelog(QStringLiteral(LUSTBUS_SOURCE_DIR "/CHANGELOG.md"));
    ASSERT_TRUE(changelog.open(QIODevice::ReadOnly | QIODevice::Text));
    static const QRegularExpression newest(QStringLiteral("^## (?!Unreleased$)(\\S+)"),
                                           QRegularExpression::MultilineOption);
    EXPECT_EQ(newest.match(QString::fromUtf8(changelog.readAll())).captured(1).toStdString(),
              LUSTBUS_PACKAGE_VERSION);
}

// The simulator answers only to --sim; LUSTBUS_* variables stand for options not given.
TEST(Cli, ALinkIsChosenNeverAssumed)
{
    SimulatorProcess station2(args("--tcp 0 --station 2"));
    ASSERT_FALSE(station2.link().isEmpty());
    // EP stands for station2's endpoint.
    const Expected runs[] = {
        {"read INT16:12", 2, "", "--port DEVICE (a serial port), --tcp HOST:PORT (a TCP "
                                 "serial server) or --sim (the built-in simulated servo)"},
        {"read INT16:12 --port /dev/null --sim", 2, "", "give one of them"},
        {"read INT16:1000 --sim --trace", 0, "4660", "> <EOT>A201000<ENQ>"},
        {"read INT16:12", 0, "-1234", "", "LUSTBUS_TCP=EP LUSTBUS_STATION=2"},
        {"read INT16:12 --station 2", 0, "-1234", "", "LUSTBUS_TCP=EP LUSTBUS_STATION=64"},
        {"read INT16:12 --tcp EP", 0, "-1234", "",
         "LUSTBUS_PORT=/dev/lustbus-no-such-port LUSTBUS_STATION=2"},
        {"read INT16:12 --sim", 0, "-1234", "", "LUSTBUS_PORT=/dev/lustbus-no-such-port"},
        // The catalogue is read only for names.
        {"read INT16:12 --sim", 0, "-1234", "", "LUSTBUS_CATALOGUE=/nonexistent/drive.json"},
        {"read speed --sim", 2, "", "LUSTBUS_CATALOGUE: catalogue \"/nonexistent/drive.json\": ",
         "LUSTBUS_CATALOGUE=/nonexistent/drive.json"},
        {"read INT16:12 --sim --trace", 0, "-1234", "<EOT>E20012<ENQ>", "LUSTBUS_STATION=5"},
        {"read INT16:12", 2, "", "LUSTBUS_PORT and LUSTBUS_TCP each name a link",
         "LUSTBUS_PORT=/dev/null LUSTBUS_TCP=EP"},
        {"read INT16:12", 2, "", "LUSTBUS_TCP: bad endpoint 'nohost'", "LUSTBUS_TCP=nohost"},
        {"read INT16:12 --sim", 2, "", "bad LUSTBUS_STATION '64': expected a whole number from 0 "
                                       "to 63", "LUSTBUS_STATION=64"},
        {"read INT16:12 --sim", 2, "", "bad LUSTBUS_SETTINGS 'RS485,57600,EVEN,9,1'",
         "LUSTBUS_SETTINGS=RS485,57600,EVEN,9,1"},
        // scan picks its stations itself: LUSTBUS_STATION is none of its business.
        {"scan --to 1 --timeout 50", 1, "", "no station answered",
         "LUSTBUS_TCP=EP LUSTBUS_STATION=nonsense"},
    };
    expectRuns(runs, {}, {}, station2.link().value(1));
}

// With --json, stdout holds exactly one object for every outcome; a failure's carries
// "error" (checked for a part here, under "error") and "exit" with the fields known.
TEST(Cli, JsonGivesOneObjectForEveryExitStatus)
{
    const struct { const char *arguments; int exitCode; const char *error, *object; } runs[] = {
        {"read INT16:12 --json", 2, "no link given",
         R"({"address":"INT16:12","count":1,"exit":2,"kind":2})"},
        {"read --json", 2, "missing ADDRESS", R"({"exit":2})"},
        {"write INT16:12 CDABEF --hex --json --sim", 2, "takes 2 bytes",
         R"({"address":"INT16:12","count":1,"exit":2,"kind":2})"},
        {"watch INT16:12 --json --samples 0", 2, "--samples '0'", R"({"exit":2})"},
        {"scan --json --sim --station 1", 2, "--station is not taken", R"({"exit":2})"},
        {"read INT16:12 --json --port /dev/lustbus-no-such-port", 3, "/dev/lustbus-no-such-port",
         R"({"address":"INT16:12","count":1,"exit":3,"kind":2})"},
        {"info --json --plugin /nonexistent/libnothing.so", 3, "/nonexistent/libnothing.so",
         R"({"exit":3})"},
        {"write INT16:999 5 --json --sim --retries 0", 1,
         "refused: write INT16:999> invalid param no.",
         R"({"address":"INT16:999","count":1,"exit":1,"hex":"0500","kind":2,"outcome":"refused",
             "written":false})"},
        {"backup --json --sim", 2, "no catalogue given", R"({"exit":2})"},
        {"diff --json /nonexistent/a.json /nonexistent/b.json", 2,
         "parameter set \"/nonexistent/a.json\"", R"({"exit":2})"},
        {"scan --json --sim --from 2 --to 2 --timeout 20", 1, "no station answered",
         R"({"exit":1,"from":2,"param":1,"to":2,"stations":[
             {"answers":false,"error":"read USIGN32:1> no response","station":2}]})"},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.arguments);
        const Result r = expectRun(args(run.arguments), run.exitCode);
        EXPECT_EQ(r.out.count(QLatin1Char('\n')), 1) << describe(r);
        QJsonObject object = json(r.out);
        EXPECT_TRUE(object.take(QStringLiteral("error")).toString().contains(
            QString::fromUtf8(run.error))) << describe(r);
        EXPECT_EQ(compact(object), compact(run.object));
    }
}

// ANSI sequences only on a terminal that takes them: TERM set and not "dumb" (watch's
// table with TERM=xterm: Watch.OnATerminalATableIsRedrawnInPlaceUntilCtrlC). The
// progress bars of scan and backup are wiped before each result line, so that the two
// never share one; backup's set goes to its file either way.
TEST(Cli, EscapeSequencesOnlyWhereATerminalTakesThem)
{
    const char *watch = "watch INT16:12 --samples 2 --interval 0 --sim";
    const char *scan = "scan --sim --to 3 --timeout 20";
    const char *backup = "backup --sim -o /dev/null --catalogue " LUSTBUS_SAMPLE_CATALOGUE;
    const char *saved = "lustbus backup: 21 parameters of sample.json from station 1 saved";
    const struct { const char *arguments, *environment; bool escapes; const char *shown; } runs[] = {
        {watch, "TERM=dumb", false, "time,address,value,error"},
        {watch, "-TERM", false, ",INT16:12,-1234,"},
        {scan, "TERM=xterm", true, "station 1: answers"},
        {backup, "TERM=xterm", true, saved},
        {backup, "TERM=dumb", false, saved},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(std::string(run.arguments) + ' ' + run.environment);
        TerminalProcess terminal(args(run.arguments), {QString::fromLatin1(run.environment)}, true);
        EXPECT_EQ(terminal.finish(), 0);
        const QString shown = QString::fromUtf8(terminal.shown);
        const std::string where = shown.toStdString();
        EXPECT_EQ(shown.contains(QLatin1Char('\x1b')), run.escapes) << where;
        EXPECT_TRUE(shown.contains(QLatin1String(run.shown))) << where;
        if (run.arguments == watch)
            continue;
        // The bar shows only with escapes; the result line starts on a wiped line or a
        // fresh one, never behind the bar.
        EXPECT_EQ(shown.contains(QLatin1String("[-")), run.escapes) << where;
        const QString before = shown.left(shown.indexOf(QLatin1String(run.shown)));
        EXPECT_TRUE(before.isEmpty() || before.endsWith(QLatin1String("\r\x1b[K"))
                    || before.endsWith(QLatin1Char('\n')))
            << where;
    }
}

TEST(Cli, ALinkThatDoesNotOpenIsNamed)
{
    // 127.0.0.1:1: a port of the loopback range that nothing listens on.
    const Expected runs[] = {
        {"read INT16:12 --port /dev/lustbus-no-such-port", 3, "",
         "cannot open serial port \"/dev/lustbus-no-such-port\""},
        {"read INT16:12 --tcp 127.0.0.1:1", 3, "", "cannot connect to 127.0.0.1:1"},
    };
    expectRuns(runs);

    // A pseudo-terminal (EP) refuses parity, 7 data bits and the kernel's RS485 mode: the
    // message names the device, the cause and the line that works.
    SimulatorProcess pty(args("--pty"));
    ASSERT_FALSE(pty.link().isEmpty());
    const Expected refused[] = {
        {"read INT16:12 --settings RS485,57600,EVEN,7,1", 3, "",
         "refuses the line settings RS485,57600,EVEN,7,1"},
        {"read INT16:12 --settings RS232,9600,ODD,7,2", 3, "",
         "is a pseudo-terminal, which has no line and takes neither parity nor 7 data bits: "
         "--settings RS232,9600,NONE,8,2 works there"},
        {"read INT16:12 --settings RS485,57600,NONE,8,1", 0, "-1234", ""},
        {"read INT16:12 --rs485 --rts-delay-before 2 --settings RS485,57600,NONE,8,1", 3, "",
         "serial port \"EP\" refuses the kernel's RS485 mode (TIOCSRS485: "},
        {"read INT16:12", 3, "", "--settings RS485,19200,NONE,8,1 works there",
         "LUSTBUS_SETTINGS=RS485,19200,EVEN,7,1"},
    };
    expectRuns(refused, pty.link(), {}, pty.link().value(1));
}

// The ports that Qt's serial port module finds, each with its device; the forms of the
// list are PortsCommand's.
TEST(Cli, PortsListsWhatTheSerialPortModuleFinds)
{
    QStringList devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        devices.append(info.systemLocation());
    devices.sort();
    const Result r = expectRun(args("ports --json"), 0);
    QStringList listed;
    for (const QJsonValue &port : json(r.out)[QLatin1String("ports")].toArray())
        listed.append(port[QLatin1String("device")].toString());
    EXPECT_EQ(listed, devices) << describe(r);
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
