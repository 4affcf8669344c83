#include "watchlog.h"

#include "valueform.h"
#include "requestaddress.h"

namespace WatchLog {

QString timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QString csvField(const QString &text)
{
    const bool quoted = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
                        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))
                        || text.startsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char(' '));
    if (!quoted)
        return text;
    QString doubled = text;
    doubled.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

QString csvLine(const QStringList &fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields)
        quoted.append(csvField(field));
    return quoted.join(QLatin1Char(','));
}

QString csvHeader()
{
    return QStringLiteral("time,address,value,error");
}

QString csvSample(const QDateTime &time, const QString &address, const QString &value,
                  const QString &error)
{
    return csvLine({timeText(time), address, value, error});
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
