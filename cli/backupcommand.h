// lustbus backup: every parameter of the catalogue from one station, saved as a
// parameter set (see parameterset.h).
#ifndef LUSTBUS_BACKUPCOMMAND_H
#define LUSTBUS_BACKUPCOMMAND_H

#include "linkcommand.h"

class ParameterSet;

class BackupCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("backup"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

private:
    // Writes set to -o output (see SetFile) and says so; failed names the parameters
    // that could not be read, message says how many. The exit status.
    int save(const ParameterSet &set, const QStringList &failed, QString message,
             const QString &output, bool force, bool json);
};

#endif // LUSTBUS_BACKUPCOMMAND_H
