#include "stationdrive.h"

bool StationDrive::isDue(const BusAccess &bus) const
{
    return !m_anotherDrive
           && (m_identity.isEmpty() || m_recheck || bus.reopens() != m_identifiedAt);
}

BusAccess::Result StationDrive::readNow(BusAccess &bus, const QList<LustBus::CatalogueEntry> &entries)
{
    m_readReopens = bus.reopens();
    m_readError.clear();
    const BusAccess::Result result =
        DriveIdentity::read(bus, m_station, entries, &m_read, &m_readError);
    // Parts of two drives are no identity.
    if (result.outcome == BusAccess::Done && bus.reopens() != m_readReopens)
        m_readError = QStringLiteral("the link was reopened while it was read");
    return result;
}

StationDrive::Change StationDrive::settle(bool *identified)
{
    *identified = false;
    if (!m_readError.isEmpty() && m_identity.isEmpty())
        return refuse(QStringLiteral("cannot identify %1: %2").arg(m_where, m_readError));
    if (!m_readError.isEmpty())
        return refuse(QStringLiteral("%1: the drive cannot be identified again: was %2, now: "
                                     "%3; no writes to it until it reads as before")
                          .arg(m_where, m_identity.text(), m_readError));
    if (m_identity.isEmpty() || m_read == m_identity) {
        *identified = m_identity.isEmpty();
        m_identity = m_read;
        m_identifiedAt = m_readReopens;
        m_recheck = false;
        return refuse(QString());
    }
    m_anotherDrive = true;
    return refuse(QStringLiteral("%1: another drive answers: was %2, now %3; no writes to it "
                                 "until %4")
                      .arg(m_where, m_identity.text(), m_read.text(), m_restart));
}

StationDrive::Change StationDrive::refuse(const QString &refusal)
{
    if (m_refusal == refusal)
        return Change::None;
    const bool wasRefused = !m_refusal.isEmpty();
    m_refusal = refusal;
    return !refusal.isEmpty() ? Change::Refused : wasRefused ? Change::Back : Change::None;
}
