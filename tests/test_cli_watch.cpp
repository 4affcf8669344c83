// lustbus watch, run as a user runs it: CSV and JSON lines against "lustbus simulate"
// on a pseudo-terminal and on TCP loopback, every value checked against the table the
// simulator was given; the error column and the statistics after scripted faults; the
// live table with standard output on a real pseudo-terminal; Ctrl-C.
#include "cliprocess.h"

#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryFile>

#include <gtest/gtest.h>

#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

// One CSV line as RFC 4180 has it: quoted fields, quotes doubled inside them.
QStringList csvFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && field.isEmpty()) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields.append(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.append(field);
    return fields;
}

QStringList outputLines(const Result &r)
{
    return r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QJsonObject jsonLine(const QString &line)
{
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(line.toUtf8(), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
    return object;
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

struct WatchedValue
{
    const char *address;
    const char *text;   //!< the CSV value
    QJsonValue json;    //!< the JSON lines' value
};

QList<WatchedValue> watchedValues()
{
    return {
        {"INT16:12", "-1234", -1234},
        {"FLOAT32:16", "-0.5", -0.5},
        {"FIXPT16:17", "1.25", 1.25},
        {"STRING:19:0", "say \"hi\", ok", QStringLiteral("say \"hi\", ok")},
        {"INT16:101:0@3", "1, -2, 3", QJsonArray{1, -2, 3}},
        // 0xABCD from bit 4 on: 0xBC, lowest bit first.
        {"USIGN16:13.4@8", "00111101", QStringLiteral("00111101")},
    };
}

QString addressOf(const WatchedValue &value)
{
    return QString::fromLatin1(value.address).section(QLatin1Char('@'), 0, 0);
}

class WatchOnSimulator : public ::testing::TestWithParam<const char *>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_table.open());
        m_table.write(ParameterTable);
        m_table.close();
        const bool tcp = QString::fromLatin1(GetParam()) == QLatin1String("--tcp");
        m_simulator = std::make_unique<SimulatorProcess>(
            QStringList{QString::fromLatin1(GetParam())}
            + (tcp ? QStringList{QStringLiteral("0")} : QStringList{})
            + QStringList{QStringLiteral("--params"), m_table.fileName()});
        ASSERT_EQ(m_simulator->link().size(), 2) << m_simulator->firstLine().toStdString();
    }
    Result watch(const QStringList &options)
    {
        QStringList arguments{QStringLiteral("watch")};
        for (const WatchedValue &value : watchedValues())
            arguments.append(QString::fromLatin1(value.address));
        return lustbus(arguments + options + m_simulator->link()
                       + QStringList{QStringLiteral("--timeout"), QStringLiteral("300"),
                                     QStringLiteral("--retries"), QStringLiteral("0"),
                                     QStringLiteral("--interval"), QStringLiteral("0")});
    }

    QTemporaryFile m_table;
    std::unique_ptr<SimulatorProcess> m_simulator;
};

TEST_P(WatchOnSimulator, CsvLinesCarryEveryValueOfTheTable)
{
    const Result r = watch({QStringLiteral("--samples"), QStringLiteral("3")});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const QStringList lines = outputLines(r);
    const QList<WatchedValue> values = watchedValues();
    ASSERT_EQ(lines.size(), 1 + 3 * values.size()) << describe(r);
    EXPECT_EQ(lines[0], QStringLiteral("time,address,value,error"));
    const QRegularExpression utcWithMs(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    QDateTime previous;
    for (int i = 1; i < lines.size(); ++i) {
        const WatchedValue &expected = values[(i - 1) % values.size()];
        const QStringList fields = csvFields(lines[i]);
        ASSERT_EQ(fields.size(), 4) << lines[i].toStdString();
        EXPECT_TRUE(utcWithMs.match(fields[0]).hasMatch()) << fields[0].toStdString();
        const QDateTime time = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
        ASSERT_TRUE(time.isValid()) << fields[0].toStdString();
        EXPECT_LE(qAbs(time.secsTo(QDateTime::currentDateTimeUtc())), 60);
        if (previous.isValid()) {
            EXPECT_GE(time, previous);
        }
        previous = time;
        EXPECT_EQ(fields[1], addressOf(expected));
        EXPECT_EQ(fields[2].toStdString(), expected.text) << lines[i].toStdString();
        EXPECT_TRUE(fields[3].isEmpty()) << lines[i].toStdString();
    }
}

TEST_P(WatchOnSimulator, JsonLinesCarryEveryValueOfTheTable)
{
    const Result r = watch({QStringLiteral("--samples"), QStringLiteral("2"),
                            QStringLiteral("--json")});
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const QStringList lines = outputLines(r);
    const QList<WatchedValue> values = watchedValues();
    ASSERT_EQ(lines.size(), 2 * values.size()) << describe(r);
    for (int i = 0; i < lines.size(); ++i) {
        const WatchedValue &expected = values[i % values.size()];
        const QJsonObject object = jsonLine(lines[i]);
        EXPECT_EQ(object.value(QStringLiteral("address")).toString(), addressOf(expected));
        EXPECT_EQ(object.value(QStringLiteral("value")), expected.json) << lines[i].toStdString();
        EXPECT_TRUE(QDateTime::fromString(object.value(QStringLiteral("time")).toString(),
                                          Qt::ISODateWithMs)
                        .isValid());
        EXPECT_FALSE(object.contains(QStringLiteral("error")));
    }
    // The @N count is the address's own.
    EXPECT_EQ(jsonLine(lines[4]).value(QStringLiteral("count")).toInt(), 3);
    EXPECT_EQ(jsonLine(lines[0]).value(QStringLiteral("count")).toInt(), 1);
}

INSTANTIATE_TEST_SUITE_P(PtyAndTcp, WatchOnSimulator, ::testing::Values("--pty", "--tcp"),
                         [](const auto &info) { return std::string(info.param + 2); });

QStringList tcpOptions(const SimulatorProcess &simulator, int retries)
{
    return simulator.link()
           + QStringList{QStringLiteral("--timeout"), QStringLiteral("200"),
                         QStringLiteral("--retries"), QString::number(retries),
                         QStringLiteral("--interval"), QStringLiteral("0")};
}

TEST(Watch, FailedSamplesFillTheErrorColumnAndTheStatistics)
{
    // One request lost, then two NAKs, with one retry: the first sample fails after both
    // attempts, the second succeeds on its retry, the third at once.
    SimulatorProcess simulator({QStringLiteral("--tcp"), QStringLiteral("0"),
                                QStringLiteral("--fault"), QStringLiteral("noreply:1,nak:2")});
    ASSERT_EQ(simulator.link().size(), 2);
    const Result r = lustbus(QStringList{QStringLiteral("watch"), QStringLiteral("INT16:12"),
                                         QStringLiteral("--samples"), QStringLiteral("3"),
                                         QStringLiteral("--json"), QStringLiteral("--stats")}
                             + tcpOptions(simulator, 1));
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const QStringList lines = outputLines(r);
    ASSERT_EQ(lines.size(), 4) << describe(r);
    const QString nak = QStringLiteral("read INT16:12> invalid param no.");
    EXPECT_EQ(jsonLine(lines[0]).value(QStringLiteral("error")).toString(), nak);
    EXPECT_FALSE(jsonLine(lines[0]).contains(QStringLiteral("value")));
    for (int i : {1, 2}) {
        EXPECT_EQ(jsonLine(lines[i]).value(QStringLiteral("value")).toInt(), -1234) << i;
        EXPECT_FALSE(jsonLine(lines[i]).contains(QStringLiteral("error")));
    }

    const QJsonObject last = jsonLine(lines[3]);
    ASSERT_EQ(last.keys(), QStringList{QStringLiteral("stats")});
    const QJsonArray stations = last.value(QStringLiteral("stats")).toObject()
                                    .value(QStringLiteral("stations")).toArray();
    ASSERT_EQ(stations.size(), 1);
    const QJsonObject s = stations[0].toObject();
    struct Count
    {
        const char *name;
        int expected;
    };
    for (const Count &c : {Count{"station", 1}, Count{"requests", 3}, Count{"successes", 2},
                           Count{"retries", 2}, Count{"errors", 1}})
        EXPECT_EQ(s.value(QString::fromLatin1(c.name)).toInt(), c.expected) << c.name;
    EXPECT_EQ(s.value(QStringLiteral("latency")).toObject().value(QStringLiteral("replies")).toInt(),
              4); // every attempt but the lost one
    const QJsonObject byText = s.value(QStringLiteral("errorsByText")).toObject();
    EXPECT_EQ(byText.keys(), QStringList{nak});
    EXPECT_EQ(byText.value(nak).toInt(), 1);
    EXPECT_EQ(s.value(QStringLiteral("lastError")).toString(), nak);
}

TEST(Watch, CsvShowsTheErrorAndStderrTheStatistics)
{
    SimulatorProcess simulator({QStringLiteral("--tcp"), QStringLiteral("0"),
                                QStringLiteral("--fault"), QStringLiteral("nak:1")});
    ASSERT_EQ(simulator.link().size(), 2);
    const Result r = lustbus(QStringList{QStringLiteral("watch"), QStringLiteral("INT8:10"),
                                         QStringLiteral("INT16:999"), QStringLiteral("--samples"),
                                         QStringLiteral("2"), QStringLiteral("--stats")}
                             + tcpOptions(simulator, 0));
    ASSERT_EQ(r.exitCode, 0) << describe(r);
    const QStringList lines = outputLines(r);
    ASSERT_EQ(lines.size(), 5) << describe(r);
    struct Expected
    {
        const char *address;
        const char *value;
        const char *error;
    };
    const Expected samples[] = {{"INT8:10", "", "read INT8:10> invalid param no."},
                                {"INT16:999", "", "read INT16:999> invalid param no."},
                                {"INT8:10", "-100", ""},
                                {"INT16:999", "", "read INT16:999> invalid param no."}};
    for (int i = 0; i < 4; ++i) {
        const QStringList fields = csvFields(lines[i + 1]);
        ASSERT_EQ(fields.size(), 4) << lines[i + 1].toStdString();
        EXPECT_EQ(fields[1].toStdString(), samples[i].address);
        EXPECT_EQ(fields[2].toStdString(), samples[i].value);
        EXPECT_EQ(fields[3].toStdString(), samples[i].error);
    }
    EXPECT_TRUE(r.err.contains(QLatin1String("link statistics"))) << describe(r);
    // Four requests on station 1, one of them good, three errors of two texts.
    EXPECT_TRUE(r.err.contains(QRegularExpression(QStringLiteral("\\n +1 +4 +1 +0 +3 ")))) << describe(r);
    EXPECT_TRUE(r.err.contains(QLatin1String("2 x read INT16:999> invalid param no.")));
    EXPECT_TRUE(r.err.contains(QLatin1String("1 x read INT8:10> invalid param no.")));
}

TEST(Watch, EndsByItselfOrFailsWhenNothingWasRead)
{
    struct Case
    {
        QStringList arguments;
        int exitCode;
        int sampleLines; //!< -1: at least one
    };
    const Case cases[] = {
        {{"watch", "INT16:1000", "--samples", "2", "--interval", "10"}, 0, 2},
        {{"watch", "INT16:1000", "--duration", "0.3", "--interval", "50"}, 0, -1},
        {{"watch", "INT16:999", "--samples", "2", "--interval", "0", "--retries", "0"}, 1, 2},
    };
    for (const Case &c : cases) {
        const Result r = lustbus(c.arguments);
        const std::string command = c.arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(r.exitCode, c.exitCode) << command << '\n' << describe(r);
        const int samples = int(outputLines(r).size()) - 1; // below the header
        if (c.sampleLines < 0) {
            EXPECT_GE(samples, 1) << command;
        } else {
            EXPECT_EQ(samples, c.sampleLines) << command << '\n' << describe(r);
        }
    }
    EXPECT_TRUE(lustbus({QStringLiteral("watch"), QStringLiteral("INT16:999"),
                         QStringLiteral("--samples"), QStringLiteral("2"),
                         QStringLiteral("--retries"), QStringLiteral("0")})
                    .err.contains(QLatin1String("not one of 2 samples succeeded")));
}

TEST(Watch, UsageErrorsNameTheBadArgument)
{
    struct Case
    {
        QStringList arguments;
        const char *named;
    };
    const Case cases[] = {
        {{"watch"}, "missing ADDRESS"},
        {{"watch", "INT16:12", "INT16"}, "'INT16'"},
        {{"watch", "INT16:12", "--interval", "-1"}, "--interval '-1'"},
        {{"watch", "INT16:12", "--interval", "fast"}, "--interval 'fast'"},
        {{"watch", "INT16:12", "--samples", "0"}, "--samples '0'"},
        {{"watch", "INT16:12", "--duration", "soon"}, "--duration 'soon'"},
        {{"watch", "INT16:12", "--duration", "0"}, "--duration '0'"},
        {{"watch", "INT16:12", "--json", "--csv"}, "--csv and --json"},
        {{"watch", "STRING:19"}, "STRING:19:0"},
        {{"watch", "INT16:101:0@"}, "after '@'"},
        {{"watch", "INT16:101:0@0"}, "'INT16:101:0@0': bad --count '0'"},
        {{"watch", "USIGN8:11.0@300"}, "at most 255 bits"},
    };
    for (const Case &c : cases) {
        const Result r = lustbus(c.arguments);
        EXPECT_EQ(r.exitCode, 2) << c.arguments.join(QLatin1Char(' ')).toStdString() << '\n'
                                 << describe(r);
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.named))) << describe(r);
        EXPECT_TRUE(r.out.isEmpty()) << describe(r);
    }
}

TEST(Watch, HelpExplainsTheOutputFormsWithExamples)
{
    const Result r = lustbus({QStringLiteral("watch"), QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith(QLatin1String("Usage: lustbus watch [options] ADDRESS...\n")))
        << r.out.toStdString();
    for (const char *text : {"--interval <MS>", "--samples <N>", "--duration <SECONDS>",
                             "time,address,value,error", "ADDRESS@N", "Examples:",
                             "lustbus watch INT16:12"})
        EXPECT_TRUE(r.out.contains(QLatin1String(text))) << text;
}

// A process whose standard output is a real pseudo-terminal, as on a user's screen; the
// test reads what the terminal shows from the master side.
class TerminalProcess
{
public:
    explicit TerminalProcess(const QStringList &arguments)
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            return;
        m_process.setStandardOutputFile(QString::fromLocal8Bit(ptsname(m_master)));
        m_process.start(QStringLiteral(LUSTBUS_CLI_PATH), arguments);
        m_process.waitForStarted();
    }
    ~TerminalProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
        if (m_master >= 0)
            close(m_master);
    }
    bool started() const { return m_master >= 0 && m_process.state() == QProcess::Running; }

    // Reads what the terminal shows until it holds text or the time is up.
    bool readUntil(const QByteArray &text, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!m_shown.contains(text) && clock.elapsed() < timeoutMs) {
            if (!readSome(50) && m_process.state() == QProcess::NotRunning)
                break;
        }
        return m_shown.contains(text);
    }
    // After the end: reads what is left (the slave side is closed with the process).
    void readRest()
    {
        while (readSome(200)) {
        }
    }
    void interrupt() { ::kill(pid_t(m_process.processId()), SIGINT); }
    QProcess &process() { return m_process; }
    QByteArray shown() const { return m_shown; }

private:
    bool readSome(int timeoutMs)
    {
        pollfd fd{m_master, POLLIN, 0};
        if (poll(&fd, 1, timeoutMs) <= 0 || !(fd.revents & POLLIN))
            return false;
        char buffer[4096];
        const ssize_t n = read(m_master, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        m_shown.append(buffer, int(n));
        return true;
    }

    int m_master = -1;
    QProcess m_process;
    QByteArray m_shown;
};

TEST(Watch, OnATerminalATableIsRedrawnInPlaceUntilCtrlC)
{
    TerminalProcess terminal({QStringLiteral("watch"), QStringLiteral("INT16:12"),
                              QStringLiteral("STRING:19:0"), QStringLiteral("INT16:999"),
                              QStringLiteral("--interval"), QStringLiteral("50"),
                              QStringLiteral("--retries"), QStringLiteral("0"),
                              QStringLiteral("--stats")});
    ASSERT_TRUE(terminal.started());
    // Once every row was read: five lines (status, heads, three rows), which every
    // redraw moves the cursor up over.
    ASSERT_TRUE(terminal.readUntil("INT16:999> invalid param no.", 10000))
        << terminal.shown().toStdString();
    EXPECT_TRUE(terminal.shown().contains("\x1b[5A"));
    terminal.interrupt();
    ASSERT_TRUE(terminal.process().waitForFinished(10000));
    terminal.readRest();
    EXPECT_EQ(terminal.process().exitCode(), 0);
    const QString shown = QString::fromUtf8(terminal.shown());
    EXPECT_TRUE(shown.startsWith(QLatin1String("\x1b[?25l"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QLatin1String("\x1b[?25h"))) << shown.toStdString();
    // The last drawing, as the screen shows it after Ctrl-C.
    const QString table = shown.section(QStringLiteral("\x1b[5A"), -1);
    const QStringList rows = table.split(QStringLiteral("\x1b[K\r\n"));
    ASSERT_GE(rows.size(), 5) << table.toStdString();
    EXPECT_TRUE(rows[0].startsWith(QLatin1String("lustbus watch: serial /dev/pts/")))
        << rows[0].toStdString();
    const QRegularExpression expected[] = {
        QRegularExpression(QStringLiteral("^address +value +age +errors +last error$")),
        QRegularExpression(QStringLiteral("^INT16:12 +-1234 +\\d+\\.\\d s +0$")),
        QRegularExpression(QStringLiteral("^STRING:19:0 +LUST CDE SIM +\\d+\\.\\d s +0$")),
        QRegularExpression(
            QStringLiteral("^INT16:999 +- +[1-9]\\d* +read INT16:999> invalid param no\\.$")),
    };
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(expected[i].match(rows[i + 1]).hasMatch()) << rows[i + 1].toStdString();
    const QString err = QString::fromUtf8(terminal.process().readAllStandardError());
    EXPECT_TRUE(err.contains(QLatin1String("link statistics"))) << err.toStdString();
}

TEST(Watch, CtrlCEndsJsonLinesWithTheStatisticsOfEverySample)
{
    QProcess process;
    process.start(QStringLiteral(LUSTBUS_CLI_PATH),
                  {QStringLiteral("watch"), QStringLiteral("INT16:1000"), QStringLiteral("--json"),
                   QStringLiteral("--stats"), QStringLiteral("--interval"), QStringLiteral("20")});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.count('\n') < 3 && clock.elapsed() < 10000 && process.waitForReadyRead(1000))
        out += process.readAllStandardOutput();
    ASSERT_GE(out.count('\n'), 3) << out.toStdString();
    ::kill(pid_t(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    out += process.readAllStandardOutput();
    const QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 4);
    for (int i = 0; i + 1 < lines.size(); ++i)
        EXPECT_EQ(jsonLine(lines[i]).value(QStringLiteral("value")).toInt(), 4660) << i;
    const QJsonArray stations = jsonLine(lines.last()).value(QStringLiteral("stats")).toObject()
                                    .value(QStringLiteral("stations")).toArray();
    ASSERT_EQ(stations.size(), 1) << lines.last().toStdString();
    EXPECT_EQ(stations[0].toObject().value(QStringLiteral("requests")).toInt(),
              lines.size() - 1);
    EXPECT_EQ(stations[0].toObject().value(QStringLiteral("successes")).toInt(),
              lines.size() - 1);
}

} // namespace
