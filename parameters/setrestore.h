// A restore: a parameter set written back to one station, one parameter per
// restoreOne(), so that a command runs it in a loop and a server in turns. Each
// parameter is read first; only a value that differs is written, where the catalogue
// says "rw" and the set's value lies within its range, and every write that may have
// gone out is read back: it confirms a done one and settles an unknown one.
//
// After every request the drive is confirmed (see IdentityCheck::confirm): once it is
// not the one identified, nothing more is written.
#ifndef LUSTBUS_SETRESTORE_H
#define LUSTBUS_SETRESTORE_H

#include "identitycheck.h"
#include "parameterset.h"

#include <QtCore/QJsonObject>

#include <functional>

class LinkBusAccess;

class SetRestore
{
public:
    // What became of one parameter; the names are the JSON "outcome" texts. Done,
    // Refused and Unknown are a write's (WriteWatch).
    enum Outcome { Unchanged, Done, Refused, Unknown, WouldWrite, ReadOnlyDifferent, Skipped,
                   Failed, NotTried };
    static constexpr Outcome Outcomes[] = {Unchanged, Done,    Refused, Unknown, WouldWrite,
                                           ReadOnlyDifferent, Skipped, Failed, NotTried};
    static const char *outcomeName(Outcome outcome);

    // What became of one parameter, and why.
    struct Step
    {
        bool decided = false; //!< false: the run broke off before anything became of it
        Outcome outcome = Failed;
        QString why;           //!< the cause, or a note on a write that was done
        bool troubled = false; //!< why names a fault
        QByteArray live;

        void decide(Outcome what, const QString &text = QString());
    };
    // After each request: go on, or stop at once (a signal came, or the drive is not
    // the one identified: no further writes).
    enum class Next { Go, Signal, IdentityLost };
    // After every request: Same goes on, Stopped ends, anything else means the drive is
    // not the one identified, with why in *lost.
    using Confirm = std::function<IdentityCheck::Outcome(QString *lost)>;

    SetRestore(LinkBusAccess &bus, const LustBus::Catalogue &catalogue, int station,
               Confirm confirm);

    // One parameter of the set; with dryRun nothing is written.
    Next restoreOne(const ParameterSet::Value &saved, bool dryRun, Step *step);
    // Why the drive was lost, after IdentityLost.
    QString lost() const { return m_lost; }

    // Why set is no set to restore whole: one that lacks values, or holds none; empty
    // when it is whole.
    static QString lacksValues(const ParameterSet &set);
    // The parameter's object: name, outcome, set and live values, error or note.
    static QJsonObject toJson(const ParameterSet::Value &saved, const Step &step);

private:
    Next writeOne(const LustBus::CatalogueEntry &entry, const ParameterSet::Value &saved,
                  Step *step);
    Next afterRequest(const BusAccess::Result &result);

    LinkBusAccess &m_bus;
    const LustBus::Catalogue &m_catalogue;
    int m_station;
    Confirm m_confirm;
    QString m_lost;
};

#endif // LUSTBUS_SETRESTORE_H
