#include "identitycheck.h"

#include "requestguard.h"
#include "streamlink.h"

IdentityCheck::IdentityCheck(std::unique_ptr<BusAccess> bus, int station, const QString &link,
                             const StreamLink &stream, RequestGuard &guard,
                             const QList<LustBus::CatalogueEntry> &entries)
    : m_bus(std::move(bus)), m_station(station), m_link(link), m_stream(stream), m_guard(guard),
      m_entries(entries), m_confirmed(stream.reconnectCount())
{
}

IdentityCheck::~IdentityCheck() = default;

QString IdentityCheck::where() const
{
    return QStringLiteral("station %1 on %2").arg(m_station).arg(m_link);
}

IdentityCheck::Outcome IdentityCheck::readNow(DriveIdentity *identity, int *reconnects,
                                              QString *error)
{
    // A reopen while it is read would give parts of two drives: then once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        *reconnects = m_stream.reconnectCount();
        const BusAccess::Outcome outcome =
            DriveIdentity::read(*m_bus, m_station, m_entries, identity, error).outcome;
        if (outcome == BusAccess::Stopped)
            return Stopped;
        if (m_stream.reconnectCount() != *reconnects && attempt == 0)
            continue;
        if (m_stream.reconnectCount() != *reconnects)
            *error = QStringLiteral("the link was reopened again while it was read");
        else if (outcome == BusAccess::Done)
            return Same;
        return Unreadable;
    }
    return Unreadable;
}

IdentityCheck::Outcome IdentityCheck::start(QString *message)
{
    if (!canIdentify())
        return Same;
    int reconnects = 0;
    QString error;
    const Outcome outcome = readNow(&m_identity, &reconnects, &error);
    if (outcome == Same) {
        m_confirmed = reconnects;
        m_guard.holdWritesTo(reconnects);
    } else if (outcome == Unreadable) {
        m_identity = DriveIdentity();
        *message = QStringLiteral("cannot identify %1: %2").arg(where(), error);
    }
    return outcome;
}

IdentityCheck::Outcome IdentityCheck::confirm(QString *message)
{
    if (m_stream.reconnectCount() == m_confirmed)
        return Same;
    if (!identified()) {
        *message = QStringLiteral("%1: the link was reopened, and the drive that answers "
                                  "cannot be told from the one before: %2")
                       .arg(where(), canIdentify() ? QStringLiteral("that one was not identified")
                                                   : QStringLiteral("the catalogue names "
                                                                    "nothing that identifies "
                                                                    "a drive"));
        return Unreadable;
    }
    DriveIdentity now;
    int reconnects = 0;
    QString error;
    const Outcome outcome = readNow(&now, &reconnects, &error);
    if (outcome == Unreadable)
        *message = QStringLiteral("%1: the link was reopened and the drive cannot be "
                                  "identified again: was %2, now: %3")
                       .arg(where(), m_identity.text(), error);
    if (outcome != Same)
        return outcome;
    if (now != m_identity) {
        *message = QStringLiteral("%1: the link was reopened and another drive answers: "
                                  "was %2, now %3")
                       .arg(where(), m_identity.text(), now.text());
        return Changed;
    }
    m_confirmed = reconnects;
    m_guard.holdWritesTo(reconnects);
    return Same;
}
