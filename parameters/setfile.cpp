#include "setfile.h"

#include "parameterset.h"

#include <QtCore/QFileInfo>
#include <QtCore/QSaveFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The new name of a renamed file is on the disk once its folder is.
bool syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

// /dev/null, a pipe: written into, never renamed over (which root may do, and which
// would put a plain file in the place of /dev/null).
bool isDevice(const QFileInfo &info)
{
    return info.exists() && !info.isFile() && !info.isDir();
}

} // namespace

bool SetFile::mayReplace(const QString &path, QString *error)
{
    for (const QString &file : {path, partialPath(path)}) {
        const QFileInfo info(file);
        ParameterSet set;
        QString why;
        if (!info.exists() || (info.isFile() && info.size() == 0) || isDevice(info)
            || ParameterSet::load(file, &set, &why))
            continue;
        *error = why + QStringLiteral("; backup -o replaces only a parameter set or an empty "
                                      "file (--force replaces any)");
        return false;
    }
    return true;
}

bool SetFile::write(const QString &path, const QByteArray &bytes, QString *error)
{
    if (isDevice(QFileInfo(path))) {
        QFile device(path);
        if (device.open(QIODevice::WriteOnly) && device.write(bytes) == bytes.size()
            && device.flush())
            return true;
        *error = QStringLiteral("cannot write %1: %2").arg(path, device.errorString());
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    // commit() syncs too, but passes over a failure.
    if (::fsync(file.handle()) != 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, systemError());
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const QString written = QFileInfo(path).canonicalFilePath();
    if (!syncFolder(QFileInfo(written).absolutePath())) {
        *error = QStringLiteral("cannot write %1: its folder did not sync: %2")
                     .arg(path, systemError());
        return false;
    }
    return true;
}
