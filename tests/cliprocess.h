// Runs the built lustbus program as a user runs it, and "lustbus simulate" in a
// process of its own, for the suites that test the program end to end. The including
// target defines LUSTBUS_CLI_PATH.
#ifndef LUSTBUS_TESTS_CLIPROCESS_H
#define LUSTBUS_TESTS_CLIPROCESS_H

#include <QtCore/QProcess>
#include <QtCore/QString>
#include <QtCore/QStringList>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Result
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Every run is bounded; a hang fails the test instead of stalling the suite.
inline Result lustbus(const QStringList &arguments, int timeoutMs = 20000)
{
    QProcess process;
    process.start(QStringLiteral(LUSTBUS_CLI_PATH), arguments);
    Result result;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "lustbus " << arguments.join(QLatin1Char(' ')).toStdString()
                      << " did not finish in time";
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

inline std::string describe(const Result &r)
{
    return QStringLiteral("exit %1\nstdout: %2\nstderr: %3")
        .arg(r.exitCode)
        .arg(r.out, r.err)
        .toStdString();
}

// "lustbus simulate" in a process of its own; its first line says where it listens.
class SimulatorProcess
{
public:
    explicit SimulatorProcess(const QStringList &arguments)
    {
        m_process.start(QStringLiteral(LUSTBUS_CLI_PATH),
                        QStringList{QStringLiteral("simulate")} + arguments);
        while (!m_process.canReadLine() && m_process.waitForReadyRead(10000)) {
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        const QString pty = QStringLiteral("listening on pty ");
        const QString tcp = QStringLiteral("listening on tcp ");
        if (line.startsWith(pty))
            m_link = QStringList{QStringLiteral("--port"), line.mid(pty.size())};
        else if (line.startsWith(tcp))
            m_link = QStringList{QStringLiteral("--tcp"), line.mid(tcp.size())};
        m_firstLine = line;
    }
    ~SimulatorProcess()
    {
        m_process.terminate(); // SIGTERM: the simulator stops and reports
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QStringList link() const { return m_link; }
    QString firstLine() const { return m_firstLine; }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QStringList m_link;
    QString m_firstLine;
};

} // namespace

#endif // LUSTBUS_TESTS_CLIPROCESS_H
