// lustbus scan: which stations answer on a bus.
#ifndef LUSTBUS_SCANCOMMAND_H
#define LUSTBUS_SCANCOMMAND_H

#include "linkcommand.h"

class ScanCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("scan"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // Every station is tried: --station and LUSTBUS_STATION are not read.
    int linkUses() const override { return LinkOptions::AllUses & ~LinkOptions::Station; }
};

#endif // LUSTBUS_SCANCOMMAND_H
