// lustbus backup: every parameter of the catalogue from one station, saved as a
// parameter set (see parameterset.h).
#ifndef LUSTBUS_BACKUPCOMMAND_H
#define LUSTBUS_BACKUPCOMMAND_H

#include "linkcommand.h"

class BackupCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("backup"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;
};

#endif // LUSTBUS_BACKUPCOMMAND_H
