// lustbus diff A B, lustbus diff A --live: what differs between two parameter sets, or
// between a set and the drive. Exits like diff(1): 0 equal, 1 different, 2 trouble.
#ifndef LUSTBUS_DIFFCOMMAND_H
#define LUSTBUS_DIFFCOMMAND_H

#include "linkcommand.h"

class ParameterSet;

class DiffCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("diff"); }
    QString summary() const override;
    QString description() const override;
    QList<Argument> arguments() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

private:
    // The drive's values of the parameters in set, as a set; false with the status.
    bool readLive(const ParameterSet &set, bool force, ParameterSet *live, int *status);
};

#endif // LUSTBUS_DIFFCOMMAND_H
