#include "setbackup.h"

#include "linkbusaccess.h"

#include <QtCore/QDateTime>

SetBackup::SetBackup(LinkBusAccess &bus, const LustBus::Catalogue &catalogue, int station,
                     const QString &link, const DriveIdentity &identity, Confirm confirm)
    : m_bus(bus), m_catalogue(catalogue), m_confirm(std::move(confirm))
{
    m_set.drive = catalogue.drive;
    m_set.catalogue = catalogue.fileName();
    m_set.catalogueSha256 = catalogue.sha256;
    m_set.station = station;
    m_set.link = link;
    m_set.time = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    m_set.identity = identity;
}

bool SetBackup::readNext()
{
    const LustBus::CatalogueEntry &entry = m_catalogue.entries.at(m_next++);
    ParameterSet::Value value = ParameterSet::describe(entry);
    m_lastError.clear();
    if (m_lost.isEmpty()) {
        const BusAccess::Result read = m_bus.readHost(m_set.station, entry, &value.host);
        if (read.outcome == BusAccess::Stopped)
            return false;
        if (read.outcome != BusAccess::Done)
            value.error = read.error;
        const IdentityCheck::Outcome same = m_confirm(&m_lost);
        if (same == IdentityCheck::Stopped)
            return false;
        if (same == IdentityCheck::Same)
            m_lastError = value.error;
    }
    // A value read over a link reopened since is not taken: it may be another drive's.
    if (!m_lost.isEmpty()) {
        value.host.clear();
        value.error = QStringLiteral("not read: the link was reopened and the drive was not "
                                     "the one identified");
    }
    if (!value.error.isEmpty())
        m_failed.append(entry.name);
    m_set.values.append(value);
    return true;
}

QString SetBackup::incompleteText() const
{
    return (m_lost.isEmpty() ? QString() : m_lost + QStringLiteral("; "))
           + QStringLiteral("%1 of %2 parameters could not be read; the set is marked incomplete")
                 .arg(m_failed.size())
                 .arg(total());
}
