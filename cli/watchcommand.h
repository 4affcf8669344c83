// lustbus watch ADDRESS...: polls parameters round after round; a live table on a
// terminal, CSV or JSON lines otherwise.
#ifndef LUSTBUS_WATCHCOMMAND_H
#define LUSTBUS_WATCHCOMMAND_H

#include "linkcommand.h"

class WatchTable;

class WatchCommand : public LinkCommand
{
public:
    static constexpr int DefaultIntervalMs = 1000;

    QString name() const override { return QStringLiteral("watch"); }
    QString summary() const override;
    QString description() const override;
    QList<Argument> arguments() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // The first signal ends the watch after the request on the wire, the second at once.
    int signalsToEnd() const override { return 2; }

private:
    // After the second signal: the cursor shown again, nothing more written.
    int endAtOnce(WatchTable *table);
};

#endif // LUSTBUS_WATCHCOMMAND_H
