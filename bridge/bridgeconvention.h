// A convention under which the bridge's bus is published beside its own JSON topics:
// Sparkplug B, Home Assistant discovery. The bridge tells each convention what happens
// on the bus, on the bridge's one thread and in the order it happens; a convention
// publishes from that, never touches the bus, and asks the bridge for writes, which
// take the same checks and the same write path as a set message.
#ifndef LUSTBUS_BRIDGECONVENTION_H
#define LUSTBUS_BRIDGECONVENTION_H

#include <QtCore/QByteArray>
#include <QtCore/QJsonObject>
#include <QtCore/QString>

namespace LustBus {
struct CatalogueEntry;
}
class DriveIdentity;

class BridgeConvention
{
public:
    // A write a convention asks for (Bridge::requestWrite); its result comes back
    // through writeSettled() with the same tag.
    struct WriteRequest
    {
        int station = -1;
        QString name;       //!< the catalogue name
        QByteArray payload; //!< one JSON value, as a set message carries it
        bool retained = false; //!< a stored command, which is refused
        // 0 and up: sets (payload 1 or true) or clears (0 or false) this bit of a
        // simple integer, written as the whole value read just before.
        int bit = -1;
        quint64 tag = 0;    //!< the convention's own, handed back with the result
    };

    virtual ~BridgeConvention() = default;

    // The bridge's broker connection is up, first or again.
    virtual void connected() {}
    // A message that came on the bridge's connection: true when it was this
    // convention's, which the bridge then leaves alone.
    virtual bool takeMessage(const QString &topic, const QByteArray &payload, bool retained)
    {
        Q_UNUSED(topic);
        Q_UNUSED(payload);
        Q_UNUSED(retained);
        return false;
    }
    // Between two requests: what waits on the convention's own connections, so that
    // its writes get to the bus as soon as a set message's would.
    virtual void takeIncoming() {}
    // "online" or "bus lost".
    virtual void busStatusChanged(const QByteArray &status) { Q_UNUSED(status); }
    // "online", "silent", "not identified" or "another drive".
    virtual void stationStatusChanged(int station, const QByteArray &status)
    {
        Q_UNUSED(station);
        Q_UNUSED(status);
    }
    // The drive at station was identified for the first time.
    virtual void identityRead(int station, const DriveIdentity &identity)
    {
        Q_UNUSED(station);
        Q_UNUSED(identity);
    }
    // Every read of a parameter, changed or not: {"value", "unit", "ok": true} or
    // {"ok": false, "error"}, as the value topic carries it without "ts".
    virtual void valueRead(int station, const LustBus::CatalogueEntry &entry,
                           const QJsonObject &content)
    {
        Q_UNUSED(station);
        Q_UNUSED(entry);
        Q_UNUSED(content);
    }
    // The result of a write the convention asked for: {"ok", "outcome": "done",
    // "refused" or "unknown", "value" or "error"}.
    virtual void writeSettled(const WriteRequest &request, const QJsonObject &result)
    {
        Q_UNUSED(request);
        Q_UNUSED(result);
    }
    // The bridge stops cleanly; its own connection is still up.
    virtual void stop() {}
};

#endif // LUSTBUS_BRIDGECONVENTION_H
