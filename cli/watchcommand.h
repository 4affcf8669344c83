// lustbus watch ADDRESS...: polls parameters round after round; a live table on a
// terminal, CSV or JSON lines otherwise.
#ifndef LUSTBUS_WATCHCOMMAND_H
#define LUSTBUS_WATCHCOMMAND_H

#include "linkcommand.h"
#include "requestaddress.h"

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
    // At the start of a round: silent stations get their chances again, and the drive
    // is identified (where the catalogue can) until it is, and again after the link was
    // reopened. False when another drive answers now (m_ended says so).
    bool startRound();
    // One sample: false with the error text. None is taken while the drive is not
    // identified; one read over a link reopened since is not shown when another drive
    // answers (m_ended).
    bool sample(const RequestAddress &address, QByteArray *host, QString *errorText);

    std::unique_ptr<IdentityCheck> m_identity; //!< with a catalogue that can identify
    QString m_unidentified; //!< why this round's samples are not taken
    QString m_ended;        //!< why the watch ends before its time
};

#endif // LUSTBUS_WATCHCOMMAND_H
