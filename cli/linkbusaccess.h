// The bus as the bridge sees it, on a link the host opened: catalogue parameters read
// and written by station through the driver, in their JSON form. A value is checked
// against the parameter's type, element count and range before anything is sent.
#ifndef LUSTBUS_LINKBUSACCESS_H
#define LUSTBUS_LINKBUSACCESS_H

#include "busaccess.h"
#include "catalogueaccess.h"
#include "protocolsettings.h"

class StreamLink;

class LinkBusAccess : public BusAccess
{
public:
    // The station is set on stream before each request; catalogueName goes into the
    // range errors.
    LinkBusAccess(DriverInterface &driver, LinkDevice &link, StreamLink *stream,
                  const ProtocolSettings &protocol, const QString &catalogueName,
                  CatalogueAccess::AfterRequest afterRequest = {});

    Outcome read(int station, const LustBus::CatalogueEntry &entry, QJsonValue *value,
                 QString *error) override;
    Outcome write(int station, const LustBus::CatalogueEntry &entry, const QJsonValue &value,
                  bool *sent, QString *error) override;

private:
    void selectStation(int station);

    CatalogueAccess m_access;
    StreamLink *m_stream;
    ProtocolSettings m_protocol;
    QString m_catalogueName;
};

#endif // LUSTBUS_LINKBUSACCESS_H
