// Where the project lies, which HMI port a device string stands for, which link and
// default stations the project database assigns to it, and whether a process runs.
//
// The lookups read the project database that the host has registered with QtSql under a
// connection name, opening the connection if it is closed. A lookup whose connection
// is unknown or does not open, or whose query fails (no such table, bad SQL), finds
// no rows and prints nothing.
#ifndef TOOLS_LOOKUPS_H
#define TOOLS_LOOKUPS_H

#include <QtCore/QDir>
#include <QtCore/QList>
#include <QtCore/QString>

// The project's subdirectory of the application directory, and the name of the
// project database file and of its directory.
inline constexpr char CompileDirectoryName[] = "compile";
inline constexpr char DatabaseDirectoryName[] = "database";

// One link and station found in the project database.
struct LinkStation
{
    qint32 linkID = 0;
    quint8 stationid = 0; //!< the low 8 bits of NODE.STATIONID
};

inline bool operator==(const LinkStation &a, const LinkStation &b)
{
    return a.linkID == b.linkID && a.stationid == b.stationid;
}
inline bool operator!=(const LinkStation &a, const LinkStation &b) { return !(a == b); }

// The application directory, or its subdirectory "compile" if there is one. An entry
// "compile" that is not a directory leaves the application directory. The form with
// an argument starts from application_dir instead of
// QCoreApplication::applicationDirPath().
QDir projectDirectory();
QDir projectDirectory(const QString &application_dir);

// Absolute path of the project database file: "database" in the project directory,
// or in its subdirectory "database" if there is one.
QString databasePath();
QString databasePath(const QString &application_dir);

// HMI port number of a device string: 2000 for a string that begins with "ETHERNET"
// in any letter case; otherwise 1000 + the decimal number at the end ("COM2" gives
// 1002; trailing digits whose number or port number lies beyond the range of int
// count as 0, giving 1000).
// Precondition: the string begins with "ETHERNET", or ends in digits that follow at
// least one other character (i >= 0 && (i+1) < dev_str.size(), i being the index of
// the last character that is not a digit). A string that breaks it (empty, digits
// only, or without trailing digits) names no HMI port and gives -1, which matches no
// link of a project.
int hmiPortFromDevice(const QString &dev_str);

// The first default node (NODE.ISDEFAULT = 1) on a link with that HMI port: true, and
// its link id and station in linkID and stationid (either may be null). On false the
// outputs are left as they are.
bool findDefaultStation(const QString &connection_name, int hmi_port, qint32 *linkID,
                        quint8 *stationid);

// Appends every default node on a link with that HMI port and at that endpoint address
// and port to stations, which is not cleared first. True if stations is not empty
// afterwards, false also for a null list.
bool findStationsAt(const QString &connection_name, int hmi_port, const QString &ip,
                    quint16 port, QList<LinkStation> *stations);

// Appends every default node of the link to stations (linkID being link_id), as above.
bool findStationsOfLink(const QString &connection_name, qint32 link_id,
                        QList<LinkStation> *stations);

// True if the process exists and has not ended; a process that may not be queried
// counts as running. 0 gives true, a negative id false. On Linux an ended process that
// its parent has not reaped yet (a zombie) is not running, and an id beyond the range
// of process ids names no process.
bool isProcessRunning(qint64 pid);

#endif // TOOLS_LOOKUPS_H
