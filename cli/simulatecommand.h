// lustbus simulate: the simulated servos on a pseudo-terminal or a loopback TCP port,
// until SIGINT or SIGTERM.
#ifndef LUSTBUS_SIMULATECOMMAND_H
#define LUSTBUS_SIMULATECOMMAND_H

#include "command.h"

class SimulateCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("simulate"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;
};

#endif // LUSTBUS_SIMULATECOMMAND_H
