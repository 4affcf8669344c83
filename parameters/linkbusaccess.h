// The bus as the bridge sees it, on a link the host opened: catalogue parameters read
// and written by station through the driver, in their JSON form. A value is checked
// against the parameter's type, element count and range before anything is sent.
//
// A write that the servo refused (NAK) in its only request, or whose telegram never
// went out, is Failed; one that went out and got no valid reply, or that took several
// requests of which one failed, is Unknown: the servo may hold all or part of the new
// value.
#ifndef LUSTBUS_LINKBUSACCESS_H
#define LUSTBUS_LINKBUSACCESS_H

#include "busaccess.h"
#include "catalogueaccess.h"
#include "linewatch.h"
#include "protocolsettings.h"

class RequestGuard;
class StreamLink;

class LinkBusAccess : public BusAccess
{
public:
    // The station is set on stream before each request; catalogueName goes into the
    // range errors.
    LinkBusAccess(DriverInterface &driver, LinkDevice &link, StreamLink *stream,
                  const ProtocolSettings &protocol, const QString &catalogueName,
                  CatalogueAccess::AfterRequest afterRequest = {});

    Result read(int station, const LustBus::CatalogueEntry &entry, QJsonValue *value,
                bool once) override;
    Result write(int station, const LustBus::CatalogueEntry &entry, const QJsonValue &value,
                 QJsonValue *sent) override;
    int reopens() const override;

    // For parameter sets, which keep host data: the parameter as CatalogueAccess reads
    // it, and host written unchecked (the caller checked it), the outcome as WriteWatch
    // tells it in *written (refused is Failed), also when a signal stopped it.
    Result readHost(int station, const LustBus::CatalogueEntry &entry, QByteArray *host);
    Result writeHost(int station, const LustBus::CatalogueEntry &entry, const QByteArray &host,
                     WriteWatch::Outcome *written);
    // Through the guard that driver is (see setGuard).
    void holdWritesTo(int reopens) override;

    // The RequestGuard in front of the driver, which holds writes back; without one
    // (a bare driver, as the bench has it) writes are not held.
    void setGuard(RequestGuard *guard) { m_guard = guard; }

    // The value as the parameter's host data, checked against its type, element count
    // and range as write() checks it; false with the cause. Nothing is sent.
    bool checkValue(const LustBus::CatalogueEntry &entry, const QJsonValue &value,
                    QByteArray *host, QString *error) const;

private:
    void selectStation(int station);
    // The result of a request the driver made on the watched line.
    Result finish(CatalogueAccess::Outcome outcome, const QString &error) const;

    LineWatch m_line;
    CatalogueAccess m_access;
    StreamLink *m_stream;
    RequestGuard *m_guard = nullptr;
    ProtocolSettings m_protocol;
    QString m_catalogueName;
};

#endif // LUSTBUS_LINKBUSACCESS_H
