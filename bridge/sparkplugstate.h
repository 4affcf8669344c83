// The bdSeq of a Sparkplug edge node's sessions, kept in a small file so that it goes
// on counting over a restart: a host never sees the number of the session before once
// more, not even after the bridge was killed. The file holds the last number handed out
// ("17\n"), written atomically before the session that uses it connects.
#ifndef LUSTBUS_SPARKPLUGSTATE_H
#define LUSTBUS_SPARKPLUGSTATE_H

#include <QtCore/QString>

class SparkplugState
{
public:
    explicit SparkplugState(const QString &fileName) : m_fileName(fileName) {}

    // $XDG_STATE_HOME/lustbus/sparkplug-GROUP+EDGE.bdseq, with ~/.local/state for an
    // unset XDG_STATE_HOME ('+' cannot be part of either id).
    static QString defaultFileName(const QString &group, const QString &edgeNode);

    // Reads the last number; a file that does not exist yet starts at 0. False with
    // the cause for a file that cannot be read or holds anything else.
    bool load(QString *error);
    // The next session's bdSeq (0 to 255, then 0 again), written first. On failure
    // the number is handed out all the same, with the cause in error.
    int next(QString *error);
    QString fileName() const { return m_fileName; }

private:
    QString m_fileName;
    int m_last = -1; //!< -1: none handed out yet
};

#endif // LUSTBUS_SPARKPLUGSTATE_H
