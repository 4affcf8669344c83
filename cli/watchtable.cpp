#include "watchtable.h"

#include <QtCore/QTextStream>

#include <algorithm>

namespace {

const char HideCursor[] = "\x1b[?25l";
const char ShowCursor[] = "\x1b[?25h";
const char EraseToLineEnd[] = "\x1b[K";

QString cut(const QString &text, int width)
{
    if (width <= 0 || text.size() <= width)
        return text;
    if (width <= 3)
        return text.left(width);
    return text.left(width - 3) + QLatin1String("...");
}

} // namespace

WatchTable::WatchTable(const QStringList &addresses)
{
    for (const QString &address : addresses) {
        Row row;
        row.address = address;
        m_rows.append(row);
    }
}

void WatchTable::setValue(int row, const QString &value, qint64 nowMs)
{
    m_rows[row].value = value;
    m_rows[row].goodAtMs = nowMs;
}

void WatchTable::setError(int row, const QString &error)
{
    ++m_rows[row].errors;
    m_rows[row].lastError = error;
}

QString WatchTable::ageText(qint64 ms)
{
    if (ms < 0)
        return QStringLiteral("-");
    if (ms < 60000)
        return QStringLiteral("%1 s").arg(double(ms) / 1000.0, 0, 'f', 1);
    const qint64 seconds = ms / 1000;
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10,
                                                                    QLatin1Char('0'));
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds / 60) % 60, 2, 10,
                                                                  QLatin1Char('0'));
}

QStringList WatchTable::lines(const QString &status, qint64 nowMs, int columns) const
{
    const QString addressHead = QStringLiteral("address");
    const QString valueHead = QStringLiteral("value");
    int addressWidth = int(addressHead.size());
    int valueWidth = int(valueHead.size());
    for (const Row &row : m_rows) {
        addressWidth = std::max(addressWidth, int(row.address.size()));
        valueWidth = std::max(valueWidth, std::min(int(row.value.size()), MaxValueWidth));
    }
    const int lineWidth = columns > 0 ? columns - 1 : 0;
    auto line = [&](const QString &address, const QString &value, const QString &age,
                    const QString &errors, const QString &lastError) {
        QString text = QStringLiteral("%1  %2  %3  %4  %5")
                           .arg(address, -addressWidth)
                           .arg(cut(value, MaxValueWidth), -valueWidth)
                           .arg(age, 10)
                           .arg(errors, 6)
                           .arg(lastError);
        while (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        return cut(text, lineWidth);
    };
    QStringList result{cut(status, lineWidth),
                       line(addressHead, valueHead, QStringLiteral("age"),
                            QStringLiteral("errors"), QStringLiteral("last error"))};
    for (const Row &row : m_rows)
        result.append(line(row.address, row.value,
                           ageText(row.goodAtMs < 0 ? -1 : nowMs - row.goodAtMs),
                           QString::number(row.errors), row.lastError));
    return result;
}

void WatchTable::draw(QTextStream &out, const QString &status, qint64 nowMs, int columns)
{
    if (m_drawnLines == 0)
        out << HideCursor;
    else
        out << "\r\x1b[" << m_drawnLines << 'A';
    const QStringList text = lines(status, nowMs, columns);
    for (const QString &line : text)
        out << line << EraseToLineEnd << '\n';
    m_drawnLines = int(text.size());
    out.flush();
}

void WatchTable::finish(QTextStream &out)
{
    out << ShowCursor;
    out.flush();
}

const char *WatchTable::finishText()
{
    return ShowCursor;
}
