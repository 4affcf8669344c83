#include "catalogueaccess.h"

#include "nameaddress.h"

using LustBus::CatalogueEntry;
using LustBus::DataType;

namespace {

// The texts come from the catalogue's checked entries, so they always resolve.
RequestAddress address(const CatalogueEntry &entry, int first, int count)
{
    RequestAddress a;
    QString unused;
    RequestAddress::resolve(NameAddress::numericText(entry, entry.isArray() ? first : -1, -1),
                            QString(),
                            count > 0 ? QString::number(count) : QString(), &a, &unused);
    return a;
}

int hostWidth(DataType type)
{
    return LustBus::dataTypeInfo(type).hostWidth;
}

} // namespace

CatalogueAccess::CatalogueAccess(DriverInterface &driver, LinkDevice &link,
                                 AfterRequest afterRequest)
    : m_driver(driver), m_link(link), m_afterRequest(std::move(afterRequest))
{
}

QList<RequestAddress> CatalogueAccess::readRuns(const CatalogueEntry &entry)
{
    if (!entry.isArray())
        return {address(entry, 0, 0)};
    QList<RequestAddress> runs;
    const int perRequest = RequestAddress::elementsPerRequest(entry.type);
    for (int first = 0; first < entry.elements; first += perRequest)
        runs.append(address(entry, first, qMin(perRequest, entry.elements - first)));
    return runs;
}

CatalogueAccess::Outcome CatalogueAccess::finish(bool failed, QString *error)
{
    if (failed)
        *error = m_driver.errorText();
    if (m_afterRequest && !m_afterRequest())
        return Stopped;
    return failed ? Failed : Done;
}

CatalogueAccess::Outcome CatalogueAccess::read(const CatalogueEntry &entry, QByteArray *host,
                                               QString *error)
{
    host->clear();
    for (const RequestAddress &run : readRuns(entry)) {
        const QByteArray part = m_driver.read(m_link, run.dataAddress());
        const Outcome outcome = finish(m_driver.hasError(), error);
        if (outcome != Done)
            return outcome;
        *error = run.int32Q16ClampError(part);
        if (!error->isEmpty())
            return Failed;
        const quint64 expected = entry.isArray() ? run.count * hostWidth(entry.type)
                                                 : quint64(hostWidth(entry.type));
        if (entry.type != DataType::String && quint64(part.size()) != expected) {
            *error = QStringLiteral("read %1> %2 bytes came back for %3 bytes of %4")
                         .arg(run.text)
                         .arg(part.size())
                         .arg(expected)
                         .arg(QLatin1String(LustBus::dataTypeName(entry.type)));
            return Failed;
        }
        host->append(part);
    }
    if (entry.type == DataType::String && host->contains('\0'))
        host->truncate(host->indexOf('\0'));
    return Done;
}

CatalogueAccess::Outcome CatalogueAccess::write(const CatalogueEntry &entry,
                                                const QByteArray &host, QString *error,
                                                WriteWatch::Outcome *written)
{
    WriteWatch::Outcome unused;
    if (!written)
        written = &unused;
    const QList<RequestAddress> runs = readRuns(entry);
    int at = 0;
    for (int i = 0; i < runs.size(); ++i) {
        RequestAddress run = runs.at(i);
        const int size = entry.isArray() ? int(run.count) * hostWidth(entry.type)
                                         : int(host.size());
        const QByteArray part = host.mid(at, size);
        QString unused;
        run.countGiven = false;
        run.adoptValue(int(part.size()), 0, &unused);
        WriteWatch watch(m_link);
        const int sent = m_driver.write(watch, run.dataAddress(), part);
        const bool failed = m_driver.hasError() || !sent;
        *written = watch.outcome(failed, m_driver.errorText());
        const Outcome outcome = finish(failed, error);
        if (failed && !m_driver.hasError())
            *error = QStringLiteral("write %1> nothing was written").arg(run.text);
        if (failed && i > 0) {
            *written = WriteWatch::Unknown;
            *error += QStringLiteral(" (elements 0 to %1 were written before)").arg(at / hostWidth(entry.type) - 1);
        }
        at += size;
        if (outcome != Done)
            return outcome;
    }
    return Done;
}
