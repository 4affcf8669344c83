// lustbus watch against "lustbus simulate": CSV and JSON lines of a known table, errors
// and statistics after scripted faults, the live table on a real pseudo-terminal, Ctrl-C.
#include "cliprocess.h"

#include <QtCore/QDateTime>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryFile>

#include <gtest/gtest.h>

#include <csignal>
#include <iterator>

namespace {

QStringList outputLines(const QString &out)
{
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// UTC, ISO 8601 with milliseconds, and now, as every CSV and JSON line starts.
bool isSampleTime(const QString &text)
{
    static const QRegularExpression utcWithMs(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return utcWithMs.match(text).hasMatch()
           && qAbs(time.secsTo(QDateTime::currentDateTimeUtc())) <= 60;
}

// A CSV line past its time field.
std::string untimedCsv(const QString &line)
{
    EXPECT_TRUE(isSampleTime(line.left(24))) << line.toStdString();
    return line.mid(24).toStdString();
}

// A JSON line less its time.
std::string untimedJson(const QString &line)
{
    QJsonObject object = json(line);
    EXPECT_TRUE(isSampleTime(object.take(QStringLiteral("time")).toString())) << line.toStdString();
    return compact(object);
}

// The simulator's table for the watch: values whose texts hold commas and quotes, a
// list and bits.
const char ParameterTable[] = R"({"parameters": [
    {"number": 12,  "type": "INT16",   "value": -1234},
    {"number": 13,  "type": "USIGN16", "value": 43981},
    {"number": 16,  "type": "FLOAT32", "value": -0.5},
    {"number": 17,  "type": "FIXPT16", "value": 1.25},
    {"number": 19,  "type": "STRING",  "value": "say \"hi\", ok"},
    {"number": 101, "type": "INT16",   "value": [1, -2, 3]}]})";

// Each address with its CSV line past the time and its JSON line less the time.
const struct { const char *address, *csv, *json; } Watched[] = {
    {"INT16:12", ",INT16:12,-1234,",
     R"({"address":"INT16:12","count":1,"hex":"2EFB","kind":2,"value":-1234})"},
    {"FLOAT32:16", ",FLOAT32:16,-0.5,",
     R"({"address":"FLOAT32:16","count":1,"hex":"000000BF","kind":3,"value":-0.5})"},
    {"FIXPT16:17", ",FIXPT16:17,1.25,",
     R"({"address":"FIXPT16:17","count":1,"hex":"7D000000","kind":3,"value":1.25})"},
    {"STRING:19:0", R"(,STRING:19:0,"say ""hi"", ok",)",
     R"({"address":"STRING:19:0","count":800,"hex":"73617920226869222C206F6B","kind":5,
         "value":"say \"hi\", ok"})"},
    // The @N count is the address's own.
    {"INT16:101:0@3", R"(,INT16:101:0,"1, -2, 3",)",
     R"({"address":"INT16:101:0","count":3,"hex":"0100FEFF0300","kind":2,"value":[1,-2,3]})"},
    // 0xABCD from bit 4 on: 0xBC, lowest bit first.
    {"USIGN16:13.4@8", ",USIGN16:13.4,00111101,",
     R"({"address":"USIGN16:13.4","count":8,"hex":"BC","kind":0,"value":"00111101"})"},
};
constexpr int WatchedCount = int(std::size(Watched));

class WatchOnSimulator : public ::testing::TestWithParam<const char *>
{
};

TEST_P(WatchOnSimulator, CsvAndJsonLinesCarryEveryValueOfTheTable)
{
    QTemporaryFile table;
    ASSERT_TRUE(table.open());
    table.write(ParameterTable);
    table.close();
    SimulatorProcess simulator(args(GetParam()) + args("--params") + QStringList{table.fileName()});
    ASSERT_FALSE(simulator.link().isEmpty());
    QStringList watch = args("watch --timeout 300 --retries 0 --interval 0") + simulator.link();
    for (const auto &value : Watched)
        watch.append(QString::fromLatin1(value.address));

    const QStringList lines = outputLines(expectRun(watch + args("--samples 3"), 0).out);
    ASSERT_EQ(lines.size(), 1 + 3 * WatchedCount) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("time,address,value,error"));
    for (int i = 1; i < lines.size(); ++i)
        EXPECT_EQ(untimedCsv(lines[i]), Watched[(i - 1) % WatchedCount].csv);

    const QStringList objects = outputLines(expectRun(watch + args("--samples 2 --json"), 0).out);
    ASSERT_EQ(objects.size(), 2 * WatchedCount) << objects.join(QLatin1Char('\n')).toStdString();
    for (int i = 0; i < objects.size(); ++i)
        EXPECT_EQ(untimedJson(objects[i]), compact(Watched[i % WatchedCount].json));
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, WatchOnSimulator, ::testing::Values("--pty", "--tcp 0"),
                         [](const auto &info) { return std::string(info.param + 2, 3); });

TEST(Watch, FailedSamplesFillTheErrorColumnAndTheStatistics)
{
    // JSON lines with one retry: one request lost, then two NAKs: the first sample fails
    // after both attempts, the second succeeds on its retry, the third at once.
    SimulatorProcess faults(args("--tcp 0 --fault noreply:1,nak:2"));
    SimulatorProcess nak(args("--tcp 0 --fault nak:1"));
    ASSERT_FALSE(faults.link().isEmpty() || nak.link().isEmpty());
    const QStringList options = args("--stats --timeout 200 --interval 0");
    const QStringList lines = outputLines(
        expectRun(args("watch INT16:12 --samples 3 --json --retries 1") + options + faults.link(), 0)
            .out);
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('\n')).toStdString();
    const char *good = R"({"address":"INT16:12","count":1,"hex":"2EFB","kind":2,"value":-1234})";
    EXPECT_EQ(untimedJson(lines[0]), compact(R"({"address":"INT16:12","count":1,"kind":2,
                                                 "error":"read INT16:12> invalid param no."})"));
    EXPECT_EQ(untimedJson(lines[1]), compact(good));
    EXPECT_EQ(untimedJson(lines[2]), compact(good));
    // Every attempt but the lost one has a reply.
    ASSERT_EQ(json(lines[3]).keys(), QStringList{QStringLiteral("stats")});
    EXPECT_EQ(stationCounts(json(lines[3])),
              compact(R"({"stations": [{"station": 1, "requests": 3, "successes": 2,
                  "retries": 2, "errors": 1, "latency": 4,
                  "lastError": "read INT16:12> invalid param no.",
                  "errorsByText": {"read INT16:12> invalid param no.": 1}}]})"));

    // CSV without retries: a NAK, and a parameter the servo does not have; the
    // statistics go to stderr.
    const Result csv =
        expectRun(args("watch INT8:10 INT16:999 --samples 2 --retries 0") + options + nak.link(), 0);
    const QStringList csvLines = outputLines(csv.out);
    ASSERT_EQ(csvLines.size(), 5) << describe(csv);
    const char *samples[] = {",INT8:10,,read INT8:10> invalid param no.",
                             ",INT16:999,,read INT16:999> invalid param no.", ",INT8:10,-100,",
                             ",INT16:999,,read INT16:999> invalid param no."};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(untimedCsv(csvLines[i + 1]), samples[i]);
    // Four requests on station 1, one of them good, three errors of two texts.
    for (const char *text : {"link statistics", "\\n +1 +4 +1 +0 +3 ",
                             "2 x read INT16:999> invalid param no\\.",
                             "1 x read INT8:10> invalid param no\\."})
        EXPECT_TRUE(csv.err.contains(QRegularExpression(QString::fromLatin1(text))))
            << text << '\n' << describe(csv);
}

TEST(Watch, EndsByItselfOrFailsWhenNothingWasRead)
{
    // Lines: the header and the samples.
    EXPECT_GE(outputLines(expectRun(args("watch INT16:1000 --duration 0.3 --interval 50 --sim"), 0)
                              .out).size(), 2);
    EXPECT_EQ(outputLines(expectRun(args("watch INT16:999 --samples 2 --interval 0 --retries 0 --sim"),
                                    1, "not one of 2 samples succeeded").out).size(), 3);
    // The driver's clamp of a negative INT32Q16 (18 holds -2.50) is a failed sample, no value.
    EXPECT_TRUE(expectRun(args("watch INT32Q16:18 --samples 1 --interval 0 --sim"), 1,
                          "not one of 1 samples succeeded")
                    .out.contains(",INT32Q16:18,,read INT32Q16:18> 32768.00 is where"));
}

TEST(Watch, OnATerminalATableIsRedrawnInPlaceUntilCtrlC)
{
    TerminalProcess terminal(
        args("watch INT16:12 STRING:19:0 INT16:999 --interval 50 --retries 0 --stats --sim"),
        {QStringLiteral("TERM=xterm")});
    ASSERT_EQ(terminal.process.state(), QProcess::Running);
    // Once every row was read: five lines (status, heads, three rows), which every
    // redraw moves the cursor up over.
    ASSERT_TRUE(terminal.readUntil("INT16:999> invalid param no.", 10000)) << terminal.shown.data();
    EXPECT_TRUE(terminal.shown.contains("\x1b[5A"));
    signalProcess(terminal.process.processId(), SIGINT);
    ASSERT_TRUE(terminal.process.waitForFinished(10000));
    terminal.readUntil("\x1b[?25h", 2000);
    EXPECT_EQ(terminal.process.exitCode(), 130);
    const QString shown = QString::fromUtf8(terminal.shown);
    EXPECT_TRUE(shown.startsWith(QLatin1String("\x1b[?25l"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QLatin1String("\x1b[?25h"))) << shown.toStdString();
    // The last drawing, as the screen shows it after Ctrl-C.
    const QString table = shown.section(QStringLiteral("\x1b[5A"), -1);
    const QStringList rows = table.split(QStringLiteral("\x1b[K\r\n"));
    ASSERT_GE(rows.size(), 5) << table.toStdString();
    const char *expected[] = {
        "^lustbus watch: serial /dev/pts/",
        "^address +value +age +errors +last error$",
        "^INT16:12 +-1234 +\\d+\\.\\d s +0$",
        "^STRING:19:0 +LUST CDE SIM +\\d+\\.\\d s +0$",
        "^INT16:999 +- +[1-9]\\d* +read INT16:999> invalid param no\\.$",
    };
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(rows[i].contains(QRegularExpression(QString::fromLatin1(expected[i]))))
            << rows[i].toStdString();
    EXPECT_TRUE(terminal.process.readAllStandardError().contains("link statistics"));
}

TEST(Watch, CtrlCEndsJsonLinesWithTheStatisticsOfEverySample)
{
    QProcess process;
    process.setProcessEnvironment(cliEnvironment());
    process.start(QStringLiteral(LUSTBUS_CLI_PATH),
                  args("watch INT16:1000 --json --stats --interval 20 --sim"));
    QByteArray out;
    while (out.count('\n') < 3 && process.waitForReadyRead(10000))
        out += process.readAllStandardOutput();
    ASSERT_GE(out.count('\n'), 3) << out.toStdString();
    signalProcess(process.processId(), SIGINT);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 130);
    const QStringList lines = outputLines(QString::fromUtf8(out + process.readAllStandardOutput()));
    for (int i = 0; i + 1 < lines.size(); ++i)
        EXPECT_EQ(json(lines[i])[QLatin1String("value")].toInt(), 4660) << i;
    const QJsonObject last = json(lines.last());
    EXPECT_EQ(last[QLatin1String("error")].toString(), QLatin1String("ended by SIGINT"));
    EXPECT_EQ(last[QLatin1String("exit")].toInt(), 130);
    const QJsonObject station = last[QLatin1String("stats")][QLatin1String("stations")][0].toObject();
    EXPECT_EQ(station[QLatin1String("requests")].toInt(), lines.size() - 1);
    EXPECT_EQ(station[QLatin1String("successes")].toInt(), lines.size() - 1);
}

} // namespace
