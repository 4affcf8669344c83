// The table lustbus watch keeps on a terminal: one row per address with the latest good
// value, its age, the failed samples and the latest error text, redrawn in place with
// ANSI cursor movement. A failed sample keeps the last good value on show; its age then
// tells how stale it is.
#ifndef LUSTBUS_WATCHTABLE_H
#define LUSTBUS_WATCHTABLE_H

#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QStringList>

class QTextStream;

class WatchTable
{
public:
    // Values longer than this are cut on the table (CSV and JSON keep them whole).
    static constexpr int MaxValueWidth = 40;

    explicit WatchTable(const QStringList &addresses);

    // At nowMs on a monotonic clock: a good value, or a failed sample.
    void setValue(int row, const QString &value, qint64 nowMs);
    void setError(int row, const QString &error);

    // The status line, the column heads and a row per address at nowMs, each cut to
    // columns - 1 characters when columns is above 0 (a full line would wrap).
    QStringList lines(const QString &status, qint64 nowMs, int columns) const;

    // Draws the lines, over the ones drawn before; the cursor stays hidden until finish.
    void draw(QTextStream &out, const QString &status, qint64 nowMs, int columns);
    // Shows the cursor again below the table.
    void finish(QTextStream &out);
    // What finish writes, for an end that cannot go through a stream (a signal handler).
    static const char *finishText();

    // "-" before the first good value, "0.4 s", "59.9 s", "1 min 05 s", "2 h 07 min".
    static QString ageText(qint64 ms);

private:
    struct Row
    {
        QString address;
        QString value;
        qint64 goodAtMs = -1;
        quint64 errors = 0;
        QString lastError;
    };

    QList<Row> m_rows;
    int m_drawnLines = 0;
};

#endif // LUSTBUS_WATCHTABLE_H
