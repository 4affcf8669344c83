// lustbus restore FILE: writes a parameter set back to a drive, only what differs, each
// write read back and compared.
#ifndef LUSTBUS_RESTORECOMMAND_H
#define LUSTBUS_RESTORECOMMAND_H

#include "linkcommand.h"

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
};

#endif // LUSTBUS_RESTORECOMMAND_H
