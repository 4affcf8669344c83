// lustbus info: what the driver says about itself, as a host sees it after loading it.
#ifndef LUSTBUS_INFOCOMMAND_H
#define LUSTBUS_INFOCOMMAND_H

#include "command.h"

class DriverInterface;
class DriverPlugin;

class InfoCommand : public Command
{
public:
    QString name() const override { return QStringLiteral("info"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

    // The lines of the report, also shown by the demo.
    static QString report(const DriverPlugin &plugin);
};

#endif // LUSTBUS_INFOCOMMAND_H
