#include "protocolsettings.h"

#include <QtCore/QDataStream>
#include <QtCore/QtGlobal>

ProtocolSettings::ProtocolSettings(qint32 timeout, qint32 retry, qint32 stationid, qint32 delay)
    : timeout(timeout), retry(retry), stationid(stationid), delay(delay)
{
}

ProtocolSettings::ProtocolSettings(qint32 timeout, qint32 retry, qint32 stationid, qint32 delay,
                                   qint32, qint32, const QString &text, bool flag)
    : timeout(timeout), retry(retry), stationid(stationid), delay(delay), text(text), flag(flag)
{
}

void ProtocolSettings::assign(const ProtocolSettings &other)
{
    timeout = other.timeout;
    retry = other.retry;
    stationid = other.stationid;
    delay = other.delay;
    text = other.text;
}

QString ProtocolSettings::debugLine() const
{
    return QStringLiteral("timeout: %1 retry: %2 stationid: %3 delay: %4 ")
        .arg(timeout)
        .arg(retry)
        .arg(stationid)
        .arg(delay);
}

void ProtocolSettings::dump() const
{
    qt_message_output(QtDebugMsg, QMessageLogContext(), debugLine());
}

QDataStream &operator<<(QDataStream &stream, const ProtocolSettings &settings)
{
    return stream << settings.timeout << settings.retry << settings.stationid << settings.delay;
}

QDataStream &operator>>(QDataStream &stream, ProtocolSettings &settings)
{
    return stream >> settings.timeout >> settings.retry >> settings.stationid >> settings.delay;
}
