#include "watchlog.h"

#include "valueform.h"
#include "requestaddress.h"

#include <limits>

namespace WatchLog {

QString timeText(const QDateTime &time)
{
    // Qt formats a date through printf, which costs more than a whole exchange on a
    // fast line; a watch at full rate stamps thousands of samples in one second, so the
    // text of the second is made once and only the milliseconds are added.
    thread_local qint64 cachedSecond = std::numeric_limits<qint64>::min();
    thread_local QString cachedPrefix;
    const qint64 ms = time.toMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    if (second != cachedSecond) {
        cachedPrefix = QDateTime::fromMSecsSinceEpoch(second * 1000, Qt::UTC)
                           .toString(Qt::ISODate);
        if (cachedPrefix.endsWith(QLatin1Char('Z')))
            cachedPrefix.chop(1);
        cachedSecond = second;
    }
    const int milli = int(ms - second * 1000);
    const char tail[] = {'.', char('0' + milli / 100), char('0' + milli / 10 % 10),
                         char('0' + milli % 10), 'Z'};
    QString text;
    text.reserve(cachedPrefix.size() + int(sizeof tail));
    text += cachedPrefix;
    text += QLatin1String(tail, int(sizeof tail));
    return text;
}

QString csvField(const QString &text)
{
    bool quoted = text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
    for (int i = 0; i < text.size() && !quoted; ++i) {
        const ushort c = text.at(i).unicode();
        quoted = c == ',' || c == '"' || c == '\n' || c == '\r';
    }
    if (!quoted)
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QString csvHeader()
{
    return QStringLiteral("time,address,value,error");
}

QString csvSample(const QDateTime &time, const QString &address, const QString &value,
                  const QString &error)
{
    // Built in one string: a watch at full rate writes one of these per exchange.
    QString line = timeText(time);
    line.reserve(line.size() + address.size() + value.size() + error.size() + 8);
    for (const QString *field : {&address, &value, &error}) {
        line += QLatin1Char(',');
        line += csvField(*field);
    }
    return line;
}

QJsonObject jsonSample(const QDateTime &time, const RequestAddress &address,
                       const QByteArray &host, bool failed, const QString &error)
{
    QJsonObject object = address.toJson();
    object.insert(QStringLiteral("time"), timeText(time));
    if (failed)
        object.insert(QStringLiteral("error"), error);
    else
        ValueForm::insertJsonValue(address, host, &object);
    return object;
}

} // namespace WatchLog
