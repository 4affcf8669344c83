// The lookups against a real SQLite project database, real directories and real
// processes.
#include "tools/lookups.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QProcess>
#include <QtCore/QStringList>
#include <QtCore/QTemporaryDir>
#include <QtCore/QVariant>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlError>
#include <QtSql/QSqlQuery>

#include <gtest/gtest.h>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <limits>

namespace {

// --- The project database -------------------------------------------------------------

struct MessageCapture
{
    MessageCapture() { previous = qInstallMessageHandler(&MessageCapture::handle); }
    ~MessageCapture() { qInstallMessageHandler(previous); }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &text) { lines.append(text); }
    QtMessageHandler previous;
    static QStringList lines;
};
QStringList MessageCapture::lines;

bool run(QSqlDatabase &database, const QString &statement)
{
    QSqlQuery query(database);
    const bool ok = query.exec(statement);
    EXPECT_TRUE(ok) << statement.toStdString() << ": " << query.lastError().text().toStdString();
    return ok;
}

class ProjectDatabase : public ::testing::Test
{
protected:
    static constexpr const char *connection = "project";
    static constexpr const char *emptyConnection = "project-without-tables";
    static constexpr const char *unopenableConnection = "project-unopenable";

    void SetUp() override
    {
        ASSERT_TRUE(directory.isValid());
        {
            QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(connection));
            database.setDatabaseName(directory.filePath(QStringLiteral("database")));
            ASSERT_TRUE(database.open()) << database.lastError().text().toStdString();
            const char *const statements[] = {
                "CREATE TABLE LINK (LINKID INTEGER, HMIPORT INTEGER)",
                "CREATE TABLE NODE (LINKID INTEGER, STATIONID, IP TEXT, PORT INTEGER, ISDEFAULT INTEGER)",
                "INSERT INTO LINK VALUES (1, 1002), (2, 1003), (3, 2000), (4, 1005), (5, 1006), (6, 1007)",
                "INSERT INTO NODE VALUES (1, 8, '', 0, 0), (1, 7, '', 0, 1)",
                "INSERT INTO NODE VALUES (2, 300, '', 0, 1)",
                "INSERT INTO NODE VALUES (3, 10, '10.0.0.7', 502, 1), (3, 11, '10.0.0.7', 502, 1),"
                " (3, 12, '10.0.0.8', 502, 1), (3, 13, '10.0.0.7', 503, 1),"
                " (3, 14, '10.0.0.7', 502, 0), (3, 15, '10.0.0.7'' OR ''1''=''1', 502, 1)",
                "INSERT INTO NODE VALUES (4, 'x', '', 0, 1)",
                "INSERT INTO NODE VALUES (5, 21, '', 0, 1), (5, 22, '', 0, 1)",
                "INSERT INTO NODE VALUES (6, 30, '', 0, 0)",
            };
            for (const char *statement : statements)
                ASSERT_TRUE(run(database, QLatin1String(statement)));
            // Closed, so that the lookups have to open it themselves.
            database.close();

            QSqlDatabase empty = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(emptyConnection));
            empty.setDatabaseName(directory.filePath(QStringLiteral("empty")));
            QSqlDatabase unopenable = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(unopenableConnection));
            unopenable.setDatabaseName(directory.filePath(QStringLiteral("no/such/directory/database")));
        }
    }

    void TearDown() override
    {
        for (const char *name : {connection, emptyConnection, unopenableConnection})
            QSqlDatabase::removeDatabase(QLatin1String(name));
    }

    QTemporaryDir directory;
};

TEST_F(ProjectDatabase, DefaultStationOfHmiPort)
{
    struct Case { int hmi_port; bool found; qint32 linkID; quint8 stationid; };
    const Case cases[] = {
        {1002, true, 1, 7},   // the non-default node of the link is passed over
        {1003, true, 2, 44},  // station 300: its low 8 bits
        {1005, true, 4, 0},   // a station that is no number reads as 0
        {1007, false, 0, 0},  // a link without a default node
        {1099, false, 0, 0},  // no such link
    };
    for (const Case &c : cases) {
        qint32 linkID = -5;
        quint8 stationid = 99;
        EXPECT_EQ(findDefaultStation(QLatin1String(connection), c.hmi_port, &linkID, &stationid), c.found) << c.hmi_port;
        EXPECT_EQ(linkID, c.found ? c.linkID : -5) << c.hmi_port;
        EXPECT_EQ(stationid, c.found ? c.stationid : 99) << c.hmi_port;
    }
}

TEST_F(ProjectDatabase, SeveralDefaultsGiveTheFirstRowTheDatabaseReturns)
{
    QSqlDatabase database = QSqlDatabase::database(QLatin1String(connection));
    QSqlQuery query(database);
    ASSERT_TRUE(query.exec(QStringLiteral(
        "SELECT LINK.LINKID, NODE.STATIONID FROM LINK, NODE WHERE LINK.HMIPORT = 1006 AND "
        "NODE.LINKID = LINK.LINKID AND NODE.ISDEFAULT = 1;")));
    ASSERT_TRUE(query.next());
    const int first = query.value(1).toInt();
    ASSERT_TRUE(query.next()) << "the link has two default nodes";
    query.finish();

    qint32 linkID = 0;
    quint8 stationid = 0;
    ASSERT_TRUE(findDefaultStation(QLatin1String(connection), 1006, &linkID, &stationid));
    EXPECT_EQ(linkID, 5);
    EXPECT_EQ(stationid, first);
}

TEST_F(ProjectDatabase, StationsAtEndpoint)
{
    const QList<LinkStation> none;
    struct Case { int hmi_port; const char *ip; quint16 port; QList<LinkStation> found; };
    const Case cases[] = {
        {2000, "10.0.0.7", 502, {{3, 10}, {3, 11}}},
        {2000, "10.0.0.8", 502, {{3, 12}}},
        {2000, "10.0.0.7", 503, {{3, 13}}},
        {2000, "10.0.0.9", 502, none},
        {1002, "10.0.0.7", 502, none},
        // The quotes are part of the address, not of the statement: only the node with
        // exactly this address matches.
        {2000, "10.0.0.7' OR '1'='1", 502, {{3, 15}}},
        {2000, "O'Brien", 502, none},
    };
    for (const Case &c : cases) {
        QList<LinkStation> stations;
        EXPECT_EQ(findStationsAt(QLatin1String(connection), c.hmi_port, QLatin1String(c.ip), c.port, &stations),
                  !c.found.isEmpty()) << c.ip;
        EXPECT_EQ(stations, c.found) << c.ip;
    }
}

TEST_F(ProjectDatabase, StationsOfLink)
{
    struct Case { qint32 link_id; QList<LinkStation> found; };
    const Case cases[] = {
        {1, {{1, 7}}},
        {2, {{2, 44}}},
        {3, {{3, 10}, {3, 11}, {3, 12}, {3, 13}, {3, 15}}},
        {6, {}},
        {99, {}},
    };
    for (const Case &c : cases) {
        QList<LinkStation> stations;
        EXPECT_EQ(findStationsOfLink(QLatin1String(connection), c.link_id, &stations), !c.found.isEmpty()) << c.link_id;
        EXPECT_EQ(stations, c.found) << c.link_id;
    }
}

TEST_F(ProjectDatabase, ListsAreAppendedToNotCleared)
{
    const LinkStation earlier{42, 1};
    QList<LinkStation> stations{earlier};
    EXPECT_TRUE(findStationsAt(QLatin1String(connection), 2000, QStringLiteral("10.0.0.9"), 502, &stations));
    EXPECT_EQ(stations, QList<LinkStation>{earlier});
    EXPECT_TRUE(findStationsOfLink(QLatin1String(connection), 1, &stations));
    EXPECT_EQ(stations, (QList<LinkStation>{earlier, {1, 7}}));
    EXPECT_TRUE(findStationsAt(QLatin1String(connection), 2000, QStringLiteral("10.0.0.8"), 502, &stations));
    EXPECT_EQ(stations, (QList<LinkStation>{earlier, {1, 7}, {3, 12}}));
    EXPECT_FALSE(findStationsAt(QLatin1String(connection), 2000, QStringLiteral("10.0.0.8"), 502, nullptr));
    EXPECT_FALSE(findStationsOfLink(QLatin1String(connection), 1, nullptr));
}

TEST_F(ProjectDatabase, FailingQueriesFindNothingAndPrintNothing)
{
    MessageCapture capture;
    for (const char *name : {"no such connection", emptyConnection, unopenableConnection}) {
        SCOPED_TRACE(name);
        qint32 linkID = -5;
        quint8 stationid = 99;
        EXPECT_FALSE(findDefaultStation(QLatin1String(name), 1002, &linkID, &stationid));
        EXPECT_EQ(linkID, -5);
        EXPECT_EQ(stationid, 99);

        QList<LinkStation> stations;
        EXPECT_FALSE(findStationsAt(QLatin1String(name), 2000, QStringLiteral("10.0.0.7"), 502, &stations));
        EXPECT_FALSE(findStationsOfLink(QLatin1String(name), 3, &stations));
        EXPECT_TRUE(stations.isEmpty());

        const QList<LinkStation> earlier{{42, 1}};
        stations = earlier;
        EXPECT_TRUE(findStationsAt(QLatin1String(name), 2000, QStringLiteral("10.0.0.7"), 502, &stations));
        EXPECT_TRUE(findStationsOfLink(QLatin1String(name), 3, &stations));
        EXPECT_EQ(stations, earlier);
    }
    EXPECT_TRUE(MessageCapture::lines.isEmpty()) << MessageCapture::lines.join(QLatin1Char('\n')).toStdString();
    // The lookups still work on the good connection afterwards.
    EXPECT_TRUE(findDefaultStation(QLatin1String(connection), 1002, nullptr, nullptr));
}

// --- Device strings -------------------------------------------------------------------

TEST(HmiPort, FromDeviceString)
{
    struct Case { const char *dev_str; int port; };
    const Case cases[] = {
        {"COM2", 1002},
        {"/dev/ttyUSB12", 1012},
        {"COM007", 1007},
        {"ETHERNET", 2000},
        {"ethernet", 2000},
        {"Ethernet7", 2000},
        {"ETHERNET-TCP", 2000},
        {"COM99999999999", 1000}, // beyond int: counts as 0
        {"COM2147482647", 2147483647},
        {"COM2147482648", 1000},  // the port number itself would pass the int range
        // Breaking the precondition: no HMI port.
        {"", -1},
        {"12", -1},
        {"COM", -1},
        {"COM2 ", -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(hmiPortFromDevice(QLatin1String(c.dev_str)), c.port) << c.dev_str;
    // Digits outside ASCII are no digits.
    EXPECT_EQ(hmiPortFromDevice(QString::fromUtf8("COM\u0663")), -1);
    EXPECT_EQ(hmiPortFromDevice(QString::fromUtf8("COM\u06633")), 1003);
}

// --- Project directory and database path ----------------------------------------------

enum class Entry { Directory, File };

void make(const QString &root, const QString &path, Entry entry)
{
    if (entry == Entry::Directory) {
        ASSERT_TRUE(QDir(root).mkpath(path)) << path.toStdString();
    } else {
        QFile file(QDir(root).filePath(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    }
}

struct PathsCase
{
    const char *name;
    QList<QPair<const char *, Entry>> entries; //!< made under the application directory
    const char *project;                       //!< relative to it
    const char *database;
};

const PathsCase pathsCases[] = {
    {"nothing", {}, ".", "database"},
    {"compile directory", {{"compile", Entry::Directory}}, "compile", "compile/database"},
    {"compile is a file", {{"compile", Entry::File}}, ".", "database"},
    {"file in compile", {{"compile", Entry::Directory}, {"compile/database", Entry::File}},
     "compile", "compile/database"},
    {"database directory in compile",
     {{"compile/database", Entry::Directory}, {"database", Entry::Directory}},
     "compile", "compile/database/database"},
    {"database directory", {{"database", Entry::Directory}}, ".", "database/database"},
    {"database is a file", {{"database", Entry::File}}, ".", "database"},
};

TEST(ProjectPaths, FromApplicationDirectory)
{
    for (const PathsCase &c : pathsCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir application;
        ASSERT_TRUE(application.isValid());
        for (const auto &entry : c.entries)
            make(application.path(), QLatin1String(entry.first), entry.second);
        const QDir root(application.path());
        EXPECT_EQ(projectDirectory(application.path()).absolutePath(),
                  QDir::cleanPath(root.absoluteFilePath(QLatin1String(c.project))));
        EXPECT_EQ(databasePath(application.path()), root.absoluteFilePath(QLatin1String(c.database)));
    }
}

// The forms without argument, from a program that lies in a directory made here.
TEST(ProjectPaths, OfTheRunningApplication)
{
    QTemporaryDir application;
    ASSERT_TRUE(application.isValid());
    make(application.path(), QStringLiteral("compile/database"), Entry::Directory);
    const QString probe = application.filePath(QStringLiteral("projectpathsprobe"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(PROJECTPATHS_PROBE), probe));

    QProcess process;
    process.start(probe, QStringList());
    ASSERT_TRUE(process.waitForFinished(30000)) << process.errorString().toStdString();
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    const QStringList lines = QString::fromLocal8Bit(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 2);
    const QDir root(application.path());
    EXPECT_EQ(lines.at(0), root.absoluteFilePath(QStringLiteral("compile")));
    EXPECT_EQ(lines.at(1), root.absoluteFilePath(QStringLiteral("compile/database/database")));
}

// --- Processes ------------------------------------------------------------------------

qint64 pidMax()
{
    QFile file(QStringLiteral("/proc/sys/kernel/pid_max"));
    if (!file.open(QIODevice::ReadOnly))
        return std::numeric_limits<pid_t>::max();
    return file.readAll().trimmed().toLongLong();
}

TEST(ProcessRunning, ByProcessId)
{
    struct Case { const char *what; qint64 pid; bool running; };
    const Case cases[] = {
        {"this process", getpid(), true},
        {"0", 0, true},
        {"-1", -1, false},
        {"most negative", std::numeric_limits<qint64>::min(), false},
        // Process ids stay below pid_max.
        {"never given out", pidMax(), false},
        // Not cut to its low 32 bits, which would name this process again.
        {"beyond 32 bits", (qint64(1) << 32) + getpid(), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isProcessRunning(c.pid), c.running) << c.what;
}

TEST(ProcessRunning, ChildWhileRunningAsZombieAndReaped)
{
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Runs until the parent closes its end of the pipe.
        close(gate[1]);
        char byte;
        const ssize_t got = read(gate[0], &byte, 1);
        _exit(got == 0 ? 0 : 1);
    }
    close(gate[0]);
    EXPECT_TRUE(isProcessRunning(child)) << "running";

    close(gate[1]);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, id_t(child), &info, WEXITED | WNOWAIT), 0); // ended, not reaped
    EXPECT_FALSE(isProcessRunning(child)) << "zombie";

    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(isProcessRunning(child)) << "reaped";
}

// A process of another user exists but may not be signalled: it counts as running.
TEST(ProcessRunning, ProcessThatMayNotBeQueried)
{
    if (geteuid() != 0) {
        if (kill(1, 0) == 0 || errno != EPERM)
            GTEST_SKIP() << "pid 1 may be signalled by this user";
        EXPECT_TRUE(isProcessRunning(1));
        return;
    }
    // As root, a child that gives up root asks about its parent.
    const pid_t parent = getpid();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (setuid(65534) != 0)
            _exit(2);
        if (kill(parent, 0) == 0 || errno != EPERM)
            _exit(3);
        _exit(isProcessRunning(parent) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "2: setuid failed, 3: no EPERM, 1: not running";
}

} // namespace
