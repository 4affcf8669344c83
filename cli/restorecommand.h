// lustbus restore FILE: writes a parameter set back to a drive, only what differs, each
// write read back and compared.
#ifndef LUSTBUS_RESTORECOMMAND_H
#define LUSTBUS_RESTORECOMMAND_H

#include "catalogueaccess.h"
#include "linkcommand.h"
#include "parameterset.h"

#include <QtCore/QJsonArray>
#include <QtCore/QMap>

class RestoreCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("restore"); }
    QString summary() const override;
    QString description() const override;
    QList<Argument> arguments() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

private:
    struct Step;
    // After each request: go on, or stop at once (a signal came, or the link was
    // reopened and the drive is not the one identified: no further writes).
    enum class Next { Go, Signal, IdentityLost };

    Next restoreOne(const ParameterSet::Value &saved, bool dryRun, Step *step);
    Next writeOne(const LustBus::CatalogueEntry &entry, const ParameterSet::Value &saved,
                  Step *step);
    Next afterRequest(CatalogueAccess::Outcome outcome);
    // The parameter's line (text) and its entry in parameters.
    void report(const ParameterSet::Value &saved, const Step &step, bool json);
    int finish(Next next, bool dryRun, bool json);

    std::unique_ptr<CatalogueAccess> m_access;
    std::unique_ptr<IdentityCheck> m_identity;
    QString m_file;
    DriveIdentity m_setIdentity;
    QString m_lost; //!< why no further writes go to the station
    QJsonArray m_parameters;
    QMap<int, int> m_counts; //!< by outcome
    QStringList m_done, m_unknown; //!< names, for the message when the run breaks off
    int m_troubled = 0; //!< parameters whose line names a fault
};

#endif // LUSTBUS_RESTORECOMMAND_H
