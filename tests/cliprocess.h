// Runs the built lustbus program as a user runs it, and "lustbus simulate" in a
// process of its own, for the suites that test the program end to end. The including
// target defines LUSTBUS_CLI_PATH.
#ifndef LUSTBUS_TESTS_CLIPROCESS_H
#define LUSTBUS_TESTS_CLIPROCESS_H

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
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

// "read INT16:12 --count 4" as the arguments it spells.
inline QStringList args(const char *words)
{
    return QString::fromUtf8(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
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

// "lustbus simulate" in a process of its own; its first line says where it listens, and
// link() gives that as lustbus's link options.
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
        static const QRegularExpression listening(QStringLiteral("^listening on (pty|tcp) (\\S+)$"));
        const QRegularExpressionMatch where = listening.match(line);
        if (where.hasMatch())
            m_link = QStringList{where.captured(1) == QLatin1String("pty") ? QStringLiteral("--port")
                                                                          : QStringLiteral("--tcp"),
                                 where.captured(2)};
        else
            ADD_FAILURE() << "lustbus simulate: " << line.toStdString();
    }
    // Every simulator a test starts must stop cleanly on SIGTERM and report.
    ~SimulatorProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            ADD_FAILURE() << "lustbus simulate did not stop on SIGTERM";
            m_process.kill();
            m_process.waitForFinished();
        }
        EXPECT_EQ(m_process.exitCode(), 0);
        EXPECT_TRUE(m_process.readAllStandardError().contains("stopped"));
    }
    QStringList link() const { return m_link; }

private:
    QProcess m_process;
    QStringList m_link;
};

} // namespace

#endif // LUSTBUS_TESTS_CLIPROCESS_H
