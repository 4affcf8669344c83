// A backup: every parameter of a catalogue read from one station into a parameter set,
// one parameter per readNext(), so that a command runs it in a loop and a server in
// turns between other work. The set's header (drive, catalogue and its SHA-256,
// station, link, time, identity) is filled at the start.
//
// After every read the drive is confirmed (see IdentityCheck::confirm): once it is not
// the one identified, that value and the rest are not read ("not read: the link was
// reopened and the drive was not the one identified"), and lost() says why.
#ifndef LUSTBUS_SETBACKUP_H
#define LUSTBUS_SETBACKUP_H

#include "identitycheck.h"
#include "parameterset.h"

#include <functional>

class LinkBusAccess;

class SetBackup
{
public:
    // After every read: Same goes on, Stopped ends the backup, anything else means the
    // drive is not the one identified, with why in *lost.
    using Confirm = std::function<IdentityCheck::Outcome(QString *lost)>;

    SetBackup(LinkBusAccess &bus, const LustBus::Catalogue &catalogue, int station,
              const QString &link, const DriveIdentity &identity, Confirm confirm);

    bool atEnd() const { return m_next >= m_catalogue.entries.size(); }
    int done() const { return m_next; }
    int total() const { return int(m_catalogue.entries.size()); }
    QString nextName() const { return m_catalogue.entries.value(m_next).name; }
    // Reads the next parameter into the set; false when a signal came.
    bool readNext();
    // The driver's error of the parameter just read, when the drive was the one
    // identified and it could not be read; else empty.
    QString lastError() const { return m_lastError; }

    const ParameterSet &set() const { return m_set; }
    const QStringList &failed() const { return m_failed; }
    QString lost() const { return m_lost; }
    // "N of M parameters could not be read; the set is marked incomplete", after why the
    // drive was lost.
    QString incompleteText() const;

private:
    LinkBusAccess &m_bus;
    const LustBus::Catalogue &m_catalogue;
    Confirm m_confirm;
    ParameterSet m_set;
    QStringList m_failed;
    QString m_lost;
    QString m_lastError;
    int m_next = 0;
};

#endif // LUSTBUS_SETBACKUP_H
