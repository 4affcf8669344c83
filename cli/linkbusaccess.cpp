#include "linkbusaccess.h"

#include "datatypes.h"
#include "streamlink.h"
#include "valuetext.h"

using LustBus::CatalogueEntry;

namespace {

BusAccess::Outcome outcomeOf(CatalogueAccess::Outcome outcome)
{
    return outcome == CatalogueAccess::Done     ? BusAccess::Done
           : outcome == CatalogueAccess::Failed ? BusAccess::Failed
                                                : BusAccess::Stopped;
}

} // namespace

LinkBusAccess::LinkBusAccess(DriverInterface &driver, LinkDevice &link, StreamLink *stream,
                             const ProtocolSettings &protocol, const QString &catalogueName,
                             CatalogueAccess::AfterRequest afterRequest)
    : m_access(driver, link, std::move(afterRequest)), m_stream(stream), m_protocol(protocol),
      m_catalogueName(catalogueName)
{
}

BusAccess::Outcome LinkBusAccess::read(int station, const CatalogueEntry &entry,
                                       QJsonValue *value, QString *error)
{
    selectStation(station);
    QByteArray host;
    const Outcome outcome = outcomeOf(m_access.read(entry, &host, error));
    if (outcome == Done)
        *value = ValueText::toJson(entry.type, host, entry.isArray());
    return outcome;
}

BusAccess::Outcome LinkBusAccess::write(int station, const CatalogueEntry &entry,
                                        const QJsonValue &value, bool *sent, QString *error)
{
    *sent = false;
    QByteArray host;
    if (!ValueText::fromJson(entry.type, value, entry.isArray(), host, *error))
        return Failed;
    const int width = LustBus::dataTypeInfo(entry.type).hostWidth;
    if (entry.isArray() && host.size() != entry.elements * width) {
        *error = QStringLiteral("%1 has %2 elements; the value gives %3")
                     .arg(entry.name)
                     .arg(entry.elements)
                     .arg(host.size() / width);
        return Failed;
    }
    const QVector<double> numbers = ValueText::numbers(entry.type, host);
    if (const int i = entry.firstOutside(numbers); i >= 0) {
        *error = QStringLiteral("%1%2 lies outside its range %3 (catalogue %4)")
                     .arg(entry.isArray() ? QStringLiteral("element %1 = ").arg(i) : QString(),
                          CatalogueEntry::numberText(numbers.at(i)), entry.rangeText(),
                          m_catalogueName);
        return Failed;
    }
    selectStation(station);
    *sent = true;
    return outcomeOf(m_access.write(entry, host, error));
}

void LinkBusAccess::selectStation(int station)
{
    if (m_protocol.stationid == station)
        return;
    m_protocol.stationid = station;
    m_stream->setProtocolSettings(m_protocol);
}
