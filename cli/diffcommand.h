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

protected:
    int environmentStatus() const override;

private:
    // The drive's values of the parameters in set, as a set, and the names of those whose
    // read failed; false with the status.
    bool readLive(const ParameterSet &set, bool force, ParameterSet *live, QStringList *failed,
                  int *status);
    // Prints what differs between a and b, named aName and bName; unread names the
    // parameters that a read did not give. The exit status.
    int report(const ParameterSet &a, const QString &aName, const ParameterSet &b,
               const QString &bName, const QStringList &unread, bool json);
};

#endif // LUSTBUS_DIFFCOMMAND_H
