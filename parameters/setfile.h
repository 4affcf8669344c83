// Where backup -o FILE puts a parameter set, and how, so that no set is ever lost to a
// worse one: FILE takes only a complete set, an incomplete one goes to FILE.partial, and
// neither replaces a file that is not a parameter set (an empty one aside). --force
// lifts both rules. A set is written to a temporary file beside its target, synced to
// disk and renamed over it, and then the folder is synced: an interrupted or failed
// write leaves the old file whole. A device or a pipe (/dev/null) is written into.
#ifndef LUSTBUS_SETFILE_H
#define LUSTBUS_SETFILE_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

class SetFile
{
public:
    static QString partialPath(const QString &path) { return path + QStringLiteral(".partial"); }
    // Before anything is read: false with error when path or its partial path holds a
    // file that a set must not replace.
    static bool mayReplace(const QString &path, QString *error);
    // path, or its partial path for an incomplete set without force.
    static QString target(const QString &path, bool complete, bool force)
    {
        return complete || force ? path : partialPath(path);
    }
    // bytes as the whole content of path; false with "cannot write PATH: ..." in error.
    static bool write(const QString &path, const QByteArray &bytes, QString *error);
};

#endif // LUSTBUS_SETFILE_H
