// Runs the built lustbus program as a user runs it, and "lustbus simulate" in a
// process of its own, for the suites that test the program end to end. The including
// target defines LUSTBUS_CLI_PATH.
#ifndef LUSTBUS_TESTS_CLIPROCESS_H
#define LUSTBUS_TESTS_CLIPROCESS_H

#include <QtCore/QElapsedTimer>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QProcessEnvironment>
#include <QtCore/QRegularExpression>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

struct Result
{
    int exitCode = -1;
    QString out, err;
};

// Sends sig to process, and only to it: a process that has ended has no id, and
// kill(0, ...) would reach the whole process group, the test runner with it.
inline bool signalProcess(qint64 processId, int sig)
{
    EXPECT_GT(processId, 0) << "the process has already ended";
    return processId > 0 && ::kill(pid_t(processId), sig) == 0;
}

// The environment of every run: the test's own without the LUSTBUS_ variables, so that
// a user's LUSTBUS_PORT cannot change what a test reads, changed by extra: "NAME=VALUE"
// sets a variable, "-NAME" removes it.
inline QProcessEnvironment cliEnvironment(const QStringList &extra = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys())
        if (name.startsWith(QLatin1String("LUSTBUS_")))
            environment.remove(name);
    for (const QString &entry : extra) {
        if (entry.startsWith(QLatin1Char('-')))
            environment.remove(entry.mid(1));
        else
            environment.insert(entry.section(QLatin1Char('='), 0, 0),
                               entry.section(QLatin1Char('='), 1));
    }
    return environment;
}

// Every run is bounded; a hang fails the test instead of stalling the suite.
inline Result runProgram(const QString &program, const QStringList &arguments,
                         int timeoutMs = 20000, const QStringList &environment = {})
{
    QProcess process;
    process.setProcessEnvironment(cliEnvironment(environment));
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << program.toStdString() << ' '
                      << arguments.join(QLatin1Char(' ')).toStdString() << " did not finish in time";
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

inline Result lustbus(const QStringList &arguments, int timeoutMs = 20000,
                      const QStringList &environment = {})
{
    return runProgram(QStringLiteral(LUSTBUS_CLI_PATH), arguments, timeoutMs, environment);
}

inline std::string describe(const Result &r)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3")
        .arg(r.exitCode)
        .arg(r.out, r.err)
        .toStdString();
}

// A run of lustbus that must end with exitCode and hold err and out as parts of its
// stderr and stdout; the run, for what only its test checks.
inline Result expectRun(const QStringList &arguments, int exitCode, const QString &err = {},
                        const QString &out = {}, const QStringList &environment = {})
{
    const Result r = lustbus(arguments, 20000, environment);
    EXPECT_EQ(r.exitCode, exitCode) << arguments.join(QLatin1Char(' ')).toStdString() << '\n'
                                    << describe(r);
    EXPECT_TRUE(r.err.contains(err) && r.out.contains(out))
        << arguments.join(QLatin1Char(' ')).toStdString() << '\n' << describe(r);
    return r;
}

// "read INT16:12 --count 4" as the arguments it spells; a '~' stands for a blank inside
// an argument ("read ~INT16:12").
inline QStringList args(const char *words)
{
    QStringList arguments = QString::fromUtf8(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString &argument : arguments)
        argument.replace(QLatin1Char('~'), QLatin1Char(' '));
    return arguments;
}

inline QJsonObject json(const QString &text)
{
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8(), &error).object();
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text.toStdString();
    return object;
}

// Compact and key-sorted, so that objects compare whole and print readably.
inline std::string compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}
inline std::string compact(const char *text) { return compact(json(QString::fromUtf8(text))); }

// A run of lustbus: its exit code, all of stdout (trimmed unless none; one that starts
// with '{' is one JSON object, compared key-sorted), a part of stderr, and the
// environment as cliEnvironment takes it, the entries blank-separated.
struct Expected
{
    const char *arguments;
    int exitCode;
    const char *out, *err;
    const char *environment = "";
};

// Each run with options after its arguments, in environment and its own; "EP" in its
// arguments, environment and stderr part stands for endpoint.
template <size_t N>
void expectRuns(const Expected (&runs)[N], const QStringList &options = {},
                const QStringList &environment = {}, const QString &endpoint = {})
{
    const auto filled = [&endpoint](const char *text) {
        const QString t = QString::fromUtf8(text);
        return endpoint.isEmpty() ? t : QString(t).replace(QLatin1String("EP"), endpoint);
    };
    for (const Expected &run : runs) {
        SCOPED_TRACE(std::string(run.arguments) + ' ' + run.environment);
        const Result r = expectRun(args(filled(run.arguments).toUtf8().constData()) + options,
                                   run.exitCode, filled(run.err), {},
                                   environment + filled(run.environment).split(
                                       QLatin1Char(' '), Qt::SkipEmptyParts));
        if (*run.out == '{')
            EXPECT_EQ(r.out.trimmed().toStdString(), compact(run.out));
        else
            EXPECT_EQ((*run.out ? r.out.trimmed() : r.out).toStdString(), run.out);
    }
}

// {"stations": [...]} of a --stats object with each latency cut to its reply count
// and the error time left out: what a scripted fault mix fixes exactly.
inline std::string stationCounts(const QJsonObject &object)
{
    QJsonArray stations;
    for (const QJsonValue &value : object.value(QStringLiteral("stats"))
                                       .toObject().value(QStringLiteral("stations")).toArray()) {
        QJsonObject station = value.toObject();
        station.insert(QStringLiteral("latency"), station.value(QStringLiteral("latency"))
                                                      .toObject().value(QStringLiteral("replies")));
        station.remove(QStringLiteral("lastErrorTime"));
        stations.append(station);
    }
    return compact(QJsonObject{{QStringLiteral("stations"), stations}});
}

// A lustbus service ("simulate", "gateway") in a process of its own; its first line
// says where it listens, and link() gives that as lustbus's link options.
class ServiceProcess
{
public:
    ServiceProcess(const QString &command, const QStringList &arguments) : m_command(command)
    {
        m_process.setProcessEnvironment(cliEnvironment());
        m_process.start(QStringLiteral(LUSTBUS_CLI_PATH), QStringList{command} + arguments);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        static const QRegularExpression listening(
            QStringLiteral("^listening on (pty|tcp) (\\S+?)(?::(\\d+))?$"));
        const QRegularExpressionMatch where = listening.match(line);
        if (where.hasMatch()) {
            const bool pty = where.captured(1) == QLatin1String("pty");
            m_link = QStringList{pty ? QStringLiteral("--port") : QStringLiteral("--tcp"),
                                 where.captured(2)
                                     + (pty ? QString() : QLatin1Char(':') + where.captured(3))};
            m_port = quint16(where.captured(3).toUInt());
        } else {
            ADD_FAILURE() << "lustbus " << command.toStdString() << ": " << line.toStdString()
                          << QString::fromUtf8(m_process.readAllStandardError()).toStdString();
        }
    }
    // Every service a test starts must stop cleanly on SIGTERM and say so.
    ~ServiceProcess() { stop(); }
    // SIGTERM, then everything it wrote on stderr.
    QString stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000)) {
                ADD_FAILURE() << "lustbus " << m_command.toStdString() << " did not stop on SIGTERM";
                m_process.kill();
                m_process.waitForFinished();
            }
            EXPECT_EQ(m_process.exitCode(), 0);
            m_err += QString::fromUtf8(m_process.readAllStandardError());
            EXPECT_TRUE(m_err.contains(QLatin1String("stopped"))) << m_err.toStdString();
        }
        return m_err;
    }
    QStringList link() const { return m_link; }
    quint16 port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    // Its stderr up to the first time text shows, or all of it once ms have passed.
    QString waitForError(const QString &text, int ms = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            m_err += QString::fromUtf8(m_process.readAllStandardError());
            if (m_err.contains(text) || clock.elapsed() > ms)
                return m_err;
            m_process.waitForReadyRead(50);
        }
    }

private:
    QString m_command;
    QProcess m_process;
    QStringList m_link;
    quint16 m_port = 0;
    QString m_err;
};

struct SimulatorProcess : ServiceProcess
{
    explicit SimulatorProcess(const QStringList &arguments)
        : ServiceProcess(QStringLiteral("simulate"), arguments) {}
};

// lustbus with its standard output (with bothStreams its standard error too) on a real
// pseudo-terminal, as on a user's screen; the test reads the screen from the master
// side. environment as cliEnvironment takes it: TERM=xterm, -TERM.
class TerminalProcess
{
public:
    TerminalProcess(const QStringList &arguments, const QStringList &environment,
                    bool bothStreams = false)
        : m_master(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
            const QString terminal = QString::fromLocal8Bit(ptsname(m_master));
            process.setProcessEnvironment(cliEnvironment(environment));
            process.setStandardOutputFile(terminal);
            if (bothStreams)
                process.setStandardErrorFile(terminal);
            process.start(QStringLiteral(LUSTBUS_CLI_PATH), arguments);
            process.waitForStarted();
        }
    }
    ~TerminalProcess()
    {
        process.kill();
        process.waitForFinished();
        close(m_master);
    }
    // Reads the screen until it shows text (empty: never), the time is up or the
    // terminal closes.
    bool readUntil(const QByteArray &text, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        pollfd fd{m_master, POLLIN, 0};
        char buffer[4096];
        ssize_t n = 0;
        while ((text.isEmpty() || !shown.contains(text))
               && poll(&fd, 1, int(qMax<qint64>(0, timeoutMs - clock.elapsed()))) > 0
               && (n = read(m_master, buffer, sizeof buffer)) > 0)
            shown.append(buffer, int(n));
        return !text.isEmpty() && shown.contains(text);
    }
    // Waits for the program to end by itself, reads the rest of the screen and gives
    // the exit code.
    int finish()
    {
        if (!process.waitForFinished(20000))
            ADD_FAILURE() << "lustbus on a terminal did not finish in time";
        readUntil(QByteArray(), 300);
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QProcess process;
    QByteArray shown;

private:
    int m_master = -1;
};

} // namespace

#endif // LUSTBUS_TESTS_CLIPROCESS_H
