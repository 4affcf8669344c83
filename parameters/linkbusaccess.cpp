#include "linkbusaccess.h"

#include "datatypes.h"
#include "errortexts.h"
#include "requestguard.h"
#include "streamlink.h"
#include "valuetext.h"

using LustBus::CatalogueEntry;

LinkBusAccess::LinkBusAccess(DriverInterface &driver, LinkDevice &link, StreamLink *stream,
                             const ProtocolSettings &protocol, const QString &catalogueName,
                             CatalogueAccess::AfterRequest afterRequest)
    : m_line(link, stream), m_access(driver, m_line, std::move(afterRequest)),
      m_stream(stream), m_protocol(protocol), m_catalogueName(catalogueName)
{
}

BusAccess::Result LinkBusAccess::finish(CatalogueAccess::Outcome outcome,
                                        const QString &error) const
{
    Result result;
    result.outcome = outcome == CatalogueAccess::Done     ? Done
                     : outcome == CatalogueAccess::Failed ? Failed
                                                          : Stopped;
    if (outcome != CatalogueAccess::Done)
        result.error = error;
    if (m_line.failed()) {
        result.line = LinkLost;
        result.linkError = m_line.failure();
    } else if (m_line.answered()) {
        result.line = Answered;
    } else if (m_line.sent()) {
        result.line = NoResponse;
    }
    return result;
}

BusAccess::Result LinkBusAccess::read(int station, const CatalogueEntry &entry,
                                      QJsonValue *value, bool once)
{
    selectStation(station);
    m_line.startRequest();
    m_line.setSingleAttempt(once);
    QByteArray host;
    QString error;
    const CatalogueAccess::Outcome outcome = m_access.read(entry, &host, &error);
    m_line.setSingleAttempt(false);
    if (outcome == CatalogueAccess::Done)
        *value = ValueText::toJson(entry.type, host, entry.isArray());
    return finish(outcome, error);
}

BusAccess::Result LinkBusAccess::readHost(int station, const CatalogueEntry &entry,
                                          QByteArray *host)
{
    selectStation(station);
    m_line.startRequest();
    QString error;
    const CatalogueAccess::Outcome outcome = m_access.read(entry, host, &error);
    return finish(outcome, error);
}

BusAccess::Result LinkBusAccess::writeHost(int station, const CatalogueEntry &entry,
                                           const QByteArray &host, WriteWatch::Outcome *written)
{
    selectStation(station);
    m_line.startRequest();
    QString error;
    *written = WriteWatch::Refused;
    Result result = finish(m_access.write(entry, host, &error, written), error);
    if (result.outcome != Stopped)
        result.outcome = *written == WriteWatch::Done     ? Done
                         : *written == WriteWatch::Refused ? Failed
                                                           : Unknown;
    result.error = error;
    return result;
}

bool LinkBusAccess::checkValue(const CatalogueEntry &entry, const QJsonValue &value,
                               QByteArray *host, QString *error) const
{
    if (!ValueText::fromJson(entry.type, value, entry.isArray(), *host, *error))
        return false;
    const int width = LustBus::dataTypeInfo(entry.type).hostWidth;
    if (entry.isArray() && host->size() != entry.elements * width) {
        *error = QStringLiteral("%1 has %2 elements; the value gives %3")
                     .arg(entry.name)
                     .arg(entry.elements)
                     .arg(host->size() / width);
        return false;
    }
    const QVector<double> numbers = ValueText::numbers(entry.type, *host);
    if (const int i = entry.firstOutside(numbers); i >= 0) {
        *error = QStringLiteral("%1%2 lies outside its range %3 (catalogue %4)")
                     .arg(entry.isArray() ? QStringLiteral("element %1 = ").arg(i) : QString(),
                          CatalogueEntry::numberText(numbers.at(i)), entry.rangeText(),
                          m_catalogueName);
        return false;
    }
    return true;
}

BusAccess::Result LinkBusAccess::write(int station, const CatalogueEntry &entry,
                                       const QJsonValue &value, QJsonValue *sent)
{
    QByteArray host;
    Result refused;
    if (!checkValue(entry, value, &host, &refused.error))
        return refused;
    *sent = ValueText::toJson(entry.type, host, entry.isArray());
    selectStation(station);
    m_line.startRequest();
    QString error;
    Result result = finish(m_access.write(entry, host, &error), error);
    if (result.outcome != Failed)
        return result;
    if (!m_line.sent()) {
        // The link failed before the telegram went out: the servo heard nothing.
        if (result.line == LinkLost)
            result.error += QStringLiteral(" (nothing sent: %1)").arg(result.linkError);
        return result;
    }
    // Only a refusal of the one request leaves the servo as it was for sure.
    const bool servoSaidNo = result.line == Answered
                             && error.endsWith(LustBus::ErrorText::InvalidParameter)
                             && CatalogueAccess::readRuns(entry).size() == 1;
    if (!servoSaidNo)
        result.outcome = Unknown;
    return result;
}

int LinkBusAccess::reopens() const
{
    return m_stream->reconnectCount();
}

void LinkBusAccess::holdWritesTo(int reopens)
{
    if (m_guard)
        m_guard->holdWritesTo(reopens);
}

void LinkBusAccess::selectStation(int station)
{
    if (m_protocol.stationid == station)
        return;
    m_protocol.stationid = station;
    m_stream->setProtocolSettings(m_protocol);
}
