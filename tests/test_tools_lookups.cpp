// The lookups against a real SQLite project database, real directories and real
// processes.
#include "tools/lookups.h"

#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QStringList>
#include <QtCore/QTemporaryDir>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <limits>

namespace {

// --- The project database -------------------------------------------------------------

QStringList messages;

class ProjectDatabase : public ::testing::Test
{
protected:
    const QString connection = QStringLiteral("project");

    void SetUp() override
    {
        ASSERT_TRUE(directory.isValid());
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        database.setDatabaseName(directory.filePath(QStringLiteral("database")));
        ASSERT_TRUE(database.open()) << database.lastError().text().toStdString();
        for (const char *statement : {
                 "CREATE TABLE LINK (LINKID INTEGER, HMIPORT INTEGER)",
                 "CREATE TABLE NODE (LINKID INTEGER, STATIONID, IP TEXT, PORT INTEGER, ISDEFAULT INTEGER)",
                 "INSERT INTO LINK VALUES (1, 1002), (2, 1003), (3, 2000), (4, 1005), (5, 1006), (6, 1007)",
                 "INSERT INTO NODE VALUES (1, 8, '', 0, 0), (1, 7, '', 0, 1), (2, 300, '', 0, 1),"
                 " (3, 10, '10.0.0.7', 502, 1), (3, 11, '10.0.0.7', 502, 1),"
                 " (3, 12, '10.0.0.8', 502, 1), (3, 13, '10.0.0.7', 503, 1),"
                 " (3, 14, '10.0.0.7', 502, 0), (3, 15, '10.0.0.7'' OR ''1''=''1', 502, 1),"
                 " (4, 'x', '', 0, 1), (5, 21, '', 0, 1), (5, 22, '', 0, 1), (6, 30, '', 0, 0)"}) {
            QSqlQuery query(database);
            ASSERT_TRUE(query.exec(QLatin1String(statement))) << query.lastError().text().toStdString();
        }
        database.close(); // the lookups have to open it themselves
    }

    void TearDown() override
    {
        for (const QString &name : QSqlDatabase::connectionNames())
            QSqlDatabase::removeDatabase(name);
    }

    // On false the outputs stay as they were.
    static void expectDefault(const QString &connection, int hmi_port, bool found, qint32 link,
                              quint8 station)
    {
        qint32 linkID = -5;
        quint8 stationid = 99;
        EXPECT_EQ(findDefaultStation(connection, hmi_port, &linkID, &stationid), found) << hmi_port;
        EXPECT_EQ(linkID, found ? link : -5) << hmi_port;
        EXPECT_EQ(stationid, found ? station : 99) << hmi_port;
    }

    // Found alone, and appended after an entry that stays; a null list finds nothing.
    template <typename Find>
    void expectStations(Find find, const QList<LinkStation> &found, const std::string &what)
    {
        QList<LinkStation> stations;
        EXPECT_EQ(find(&stations), !found.isEmpty()) << what;
        EXPECT_EQ(stations, found) << what;
        const LinkStation earlier{42, 1};
        stations = {earlier};
        EXPECT_TRUE(find(&stations)) << what;
        EXPECT_EQ(stations, QList<LinkStation>{earlier} + found) << what;
        EXPECT_FALSE(find(nullptr)) << what;
    }

    QTemporaryDir directory;
};

TEST_F(ProjectDatabase, DefaultStationOfHmiPort)
{
    const struct { int hmi_port; bool found; qint32 linkID; quint8 stationid; } cases[] = {
        {1002, true, 1, 7},   // the non-default node of the link is passed over
        {1003, true, 2, 44},  // station 300: its low 8 bits
        {1005, true, 4, 0},   // a station that is no number reads as 0
        {1006, true, 5, 21},  // two default nodes: the first row
        {1007, false, 0, 0},  // a link without a default node
        {1099, false, 0, 0},  // no such link
    };
    for (const auto &c : cases)
        expectDefault(connection, c.hmi_port, c.found, c.linkID, c.stationid);
}

// ip nullptr: the stations of link hmi_port.
TEST_F(ProjectDatabase, StationsAtEndpoint)
{
    const struct { int hmi_port; const char *ip; quint16 port; QList<LinkStation> found; } cases[] = {
        {2000, "10.0.0.7", 502, {{3, 10}, {3, 11}}},
        {2000, "10.0.0.8", 502, {{3, 12}}},
        {2000, "10.0.0.7", 503, {{3, 13}}},
        {1002, "10.0.0.7", 502, {}},
        // The quotes are part of the address, not of the statement: only the node with
        // exactly this address matches.
        {2000, "10.0.0.7' OR '1'='1", 502, {{3, 15}}},
        {1, nullptr, 0, {{1, 7}}}, {2, nullptr, 0, {{2, 44}}}, {6, nullptr, 0, {}}, {99, nullptr, 0, {}},
        {3, nullptr, 0, {{3, 10}, {3, 11}, {3, 12}, {3, 13}, {3, 15}}},
    };
    for (const auto &c : cases) {
        const QString ip = QLatin1String(c.ip);
        const auto find = [&](QList<LinkStation> *s) {
            return c.ip ? findStationsAt(connection, c.hmi_port, ip, c.port, s)
                        : findStationsOfLink(connection, c.hmi_port, s);
        };
        expectStations(find, c.found, (c.ip ? c.ip : "link ") + std::to_string(c.hmi_port));
    }
}

TEST_F(ProjectDatabase, FailingQueriesFindNothingAndPrintNothing)
{
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("without tables"))
        .setDatabaseName(directory.filePath(QStringLiteral("empty")));
    QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("unopenable"))
        .setDatabaseName(directory.filePath(QStringLiteral("no/such/directory/database")));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &text) { messages.append(text); });
    for (const char *text : {"no such connection", "without tables", "unopenable"}) {
        const QString name = QLatin1String(text), ip = QStringLiteral("10.0.0.7");
        expectDefault(name, 1002, false, 0, 0);
        expectStations([&](QList<LinkStation> *s) { return findStationsAt(name, 2000, ip, 502, s); }, {}, text);
        expectStations([&](QList<LinkStation> *s) { return findStationsOfLink(name, 3, s); }, {}, text);
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    // The lookups still work on the good connection afterwards.
    EXPECT_TRUE(findDefaultStation(connection, 1002, nullptr, nullptr));
}

// --- Device strings -------------------------------------------------------------------

TEST(HmiPort, FromDeviceString)
{
    const QPair<const char *, int> cases[] = {
        {"COM2", 1002}, {"/dev/ttyUSB12", 1012}, {"ethernet7", 2000},
        {"COM99999999999", 1000}, // beyond int: counts as 0
        {"COM2147482647", 2147483647},
        {"COM2147482648", 1000},  // the number fits int, the port number would not
        {"12", -1}, {"COM", -1},  // breaking the precondition: no HMI port
    };
    for (const auto &c : cases)
        EXPECT_EQ(hmiPortFromDevice(QLatin1String(c.first)), c.second) << c.first;
    // Digits outside ASCII are no digits.
    EXPECT_EQ(hmiPortFromDevice(QString::fromUtf8("COM\u0663")), -1);
    EXPECT_EQ(hmiPortFromDevice(QString::fromUtf8("COM\u06633")), 1003);
}

// --- Project directory and database path ----------------------------------------------

// From a given application directory, and, without argument, from a program that lies
// there.
TEST(ProjectPaths, FromApplicationDirectory)
{
    const struct { QStringList entries; const char *project, *database; } cases[] = {
        {{}, ".", "database"},
        {{"compile/"}, "compile", "compile/database"},
        {{"compile"}, ".", "database"},
        {{"compile/database/", "database/"}, "compile", "compile/database/database"},
        {{"database/"}, ".", "database/database"},
        {{"database"}, ".", "database"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entries.join(QLatin1Char(' ')).toStdString());
        QTemporaryDir application;
        ASSERT_TRUE(application.isValid());
        const QDir root(application.path());
        for (const QString &entry : c.entries) { // a path ending in '/' is a directory
            QFile file(root.filePath(entry));
            ASSERT_TRUE(entry.endsWith(QLatin1Char('/')) ? root.mkpath(entry) : file.open(QIODevice::WriteOnly));
        }
        const QString project = QDir::cleanPath(root.absoluteFilePath(QLatin1String(c.project)));
        const QString database = root.absoluteFilePath(QLatin1String(c.database));
        EXPECT_EQ(projectDirectory(application.path()).absolutePath(), project);
        EXPECT_EQ(databasePath(application.path()), database);

        const QString probe = root.filePath(QStringLiteral("projectpathsprobe"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(PROJECTPATHS_PROBE), probe));
        QProcess process;
        process.start(probe, QStringList());
        ASSERT_TRUE(process.waitForFinished(30000)) << process.errorString().toStdString();
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
        EXPECT_EQ(QString::fromLocal8Bit(process.readAllStandardOutput()), project + '\n' + database + '\n');
    }
}

// --- Processes ------------------------------------------------------------------------

TEST(ProcessRunning, ByProcessId)
{
    const struct { const char *what; qint64 pid; bool running; } cases[] = {
        {"0", 0, true},
        {"-1", -1, false},
        {"most negative", std::numeric_limits<qint64>::min(), false},
        // Not cut to its low 32 bits, which would name this process again.
        {"beyond 32 bits", (qint64(1) << 32) + getpid(), false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(isProcessRunning(c.pid), c.running) << c.what;
}

// A child runs until the parent closes its end of a pipe, then ends, and is reaped
// (as a process id never given out: no such process).
// As root the child first gives up root and asks about its parent, which then exists
// but may not be signalled: that counts as running.
TEST(ProcessRunning, ChildRunningEndedReapedAndParentOfAnotherUser)
{
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const pid_t parent = getpid();
    const bool root = geteuid() == 0;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(gate[1]);
        if (root && (setuid(65534) != 0 || kill(parent, 0) == 0 || errno != EPERM))
            _exit(2);
        const bool parentRunning = isProcessRunning(parent);
        char byte;
        _exit(read(gate[0], &byte, 1) == 0 && parentRunning ? 0 : 1);
    }
    close(gate[0]);
    EXPECT_TRUE(isProcessRunning(child)) << "running";
    close(gate[1]);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT), 0); // ended, not reaped
    EXPECT_FALSE(isProcessRunning(child)) << "zombie";
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "exit 2: setuid failed or no EPERM, 1: parent not running";
    EXPECT_FALSE(isProcessRunning(child)) << "reaped";
}

} // namespace
