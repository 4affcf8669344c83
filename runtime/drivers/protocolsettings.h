// How requests run on a link: time-out, retries, station id and delay before each
// attempt. Units of timeout and delay are the host's (milliseconds for our links).
#ifndef PROTOCOLSETTINGS_H
#define PROTOCOLSETTINGS_H

#include <QtCore/QString>

class QDataStream;

class ProtocolSettings
{
public:
    ProtocolSettings() = default;
    ProtocolSettings(qint32 timeout, qint32 retry, qint32 stationid, qint32 delay);
    // The two further integers are accepted for the host's sake and not kept.
    ProtocolSettings(qint32 timeout, qint32 retry, qint32 stationid, qint32 delay,
                     qint32 unused1, qint32 unused2, const QString &text, bool flag);

    // Copies everything but flag, which keeps the target's own value.
    void assign(const ProtocolSettings &other);

    void dump() const;
    QString debugLine() const;

    qint32 timeout = 0;
    qint32 retry = 0;
    qint32 stationid = 0;
    qint32 delay = 0;
    QString text; //!< in memory only
    bool flag = false; //!< in memory only; false unless the full constructor sets it
};

QDataStream &operator<<(QDataStream &stream, const ProtocolSettings &settings);
QDataStream &operator>>(QDataStream &stream, ProtocolSettings &settings);

#endif // PROTOCOLSETTINGS_H
