#include "lookups.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QVariant>
#include <QtSql/QSqlDatabase>
#include <QtSql/QSqlQuery>

#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/types.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Calls on_row for each row of the statement, in order, while it returns true. A
// connection that is unknown or does not open, or a statement that fails, gives no
// rows. Opening by hand keeps QtSql from printing a warning for the host's log.
template <typename RowFunction>
void forEachRow(const QString &connection_name, const QString &statement,
                const QVariantList &bound_values, RowFunction on_row)
{
    QSqlDatabase database = QSqlDatabase::database(connection_name, false);
    if (!database.isValid() || (!database.isOpen() && !database.open()))
        return;
    QSqlQuery query(database);
    query.setForwardOnly(true);
    if (!query.prepare(statement))
        return;
    for (const QVariant &value : bound_values)
        query.addBindValue(value);
    if (!query.exec())
        return;
    while (query.next()) {
        if (!on_row(query))
            break;
    }
}

// A value that is no number reads as 0; only the low 8 bits make the station.
quint8 stationFrom(const QVariant &value)
{
    return quint8(value.toULongLong() & 0xFF);
}

} // namespace

QDir projectDirectory()
{
    return projectDirectory(QCoreApplication::applicationDirPath());
}

QDir projectDirectory(const QString &application_dir)
{
    QDir directory(application_dir);
    const QString compile = QString::fromLatin1(CompileDirectoryName);
    if (directory.exists(compile))
        directory.cd(compile); // stays where it is if "compile" is a file
    return directory;
}

QString databasePath()
{
    return databasePath(QCoreApplication::applicationDirPath());
}

QString databasePath(const QString &application_dir)
{
    QDir directory = projectDirectory(application_dir);
    const QString database = QString::fromLatin1(DatabaseDirectoryName);
    if (directory.exists(database))
        directory.cd(database);
    return directory.absoluteFilePath(database);
}

int hmiPortFromDevice(const QString &dev_str)
{
    if (dev_str.startsWith(QLatin1String("ETHERNET"), Qt::CaseInsensitive))
        return 2000;
    int i = int(dev_str.size()) - 1;
    while (i >= 0 && dev_str.at(i) >= QLatin1Char('0') && dev_str.at(i) <= QLatin1Char('9'))
        --i;
    if (!(i >= 0 && (i + 1) < dev_str.size()))
        return -1;
    bool ok = false;
    const int number = dev_str.mid(i + 1).toInt(&ok, 10);
    return ok && number <= std::numeric_limits<int>::max() - 1000 ? 1000 + number : 1000;
}

bool findDefaultStation(const QString &connection_name, int hmi_port, qint32 *linkID,
                        quint8 *stationid)
{
    const QString statement = QStringLiteral(
        "SELECT LINK.LINKID, NODE.STATIONID FROM LINK, NODE WHERE LINK.HMIPORT = %1 AND "
        "NODE.LINKID = LINK.LINKID AND NODE.ISDEFAULT = 1;").arg(hmi_port);
    bool found = false;
    forEachRow(connection_name, statement, {}, [&](const QSqlQuery &row) {
        if (linkID)
            *linkID = row.value(0).toInt();
        if (stationid)
            *stationid = stationFrom(row.value(1));
        found = true;
        return false; // the first row only
    });
    return found;
}

bool findStationsAt(const QString &connection_name, int hmi_port, const QString &ip,
                    quint16 port, QList<LinkStation> *stations)
{
    if (!stations)
        return false;
    // The address is bound, never pasted: it may hold quotes.
    const QString statement = QStringLiteral(
        "SELECT LINK.LINKID, NODE.STATIONID FROM LINK, NODE WHERE LINK.HMIPORT = %1 AND "
        "NODE.LINKID = LINK.LINKID AND NODE.IP = ? AND NODE.PORT = %2 AND "
        "NODE.ISDEFAULT = 1;").arg(hmi_port).arg(port);
    forEachRow(connection_name, statement, {ip}, [&](const QSqlQuery &row) {
        stations->append(LinkStation{row.value(0).toInt(), stationFrom(row.value(1))});
        return true;
    });
    return !stations->isEmpty();
}

bool findStationsOfLink(const QString &connection_name, qint32 link_id,
                        QList<LinkStation> *stations)
{
    if (!stations)
        return false;
    const QString statement = QStringLiteral(
        "SELECT NODE.STATIONID FROM NODE WHERE NODE.LINKID = %1 AND NODE.ISDEFAULT = 1")
        .arg(link_id);
    forEachRow(connection_name, statement, {}, [&](const QSqlQuery &row) {
        stations->append(LinkStation{link_id, stationFrom(row.value(0))});
        return true;
    });
    return !stations->isEmpty();
}

#ifdef Q_OS_WIN

bool isProcessRunning(qint64 pid)
{
    if (pid == 0)
        return true;
    if (pid < 0)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                 DWORD(quint32(pid)));
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED; // exists, but protected
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code)
        ? code == STILL_ACTIVE
        : GetLastError() == ERROR_ACCESS_DENIED;
    CloseHandle(process);
    return running;
}

#else

namespace {

// True if /proc says the process has ended but is not reaped yet (Z) or is being torn
// down (X). Without /proc there is nothing more to learn: false.
bool hasEnded(pid_t pid)
{
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/stat";
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // "PID (COMMAND) STATE ...": the command holds at most 16 characters, but may hold
    // ')' itself, so the state follows the last ')'.
    char line[128];
    const ssize_t got = ::read(fd, line, sizeof line);
    ::close(fd);
    if (got <= 0)
        return false;
    const QByteArray stat(line, int(got));
    const int command_end = stat.lastIndexOf(')');
    if (command_end < 0 || command_end + 2 >= stat.size())
        return false;
    const char state = stat.at(command_end + 2);
    return state == 'Z' || state == 'X' || state == 'x';
}

} // namespace

bool isProcessRunning(qint64 pid)
{
    if (pid == 0)
        return true;
    if (pid < 0 || pid > std::numeric_limits<pid_t>::max())
        return false;
    // Signal 0 only asks; EPERM means the process exists but belongs to someone else.
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
    return !hasEnded(pid_t(pid));
}

#endif
