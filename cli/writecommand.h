// lustbus write ADDRESS VALUE: VALUE parsed by data type, one DriverInterface::write.
#ifndef LUSTBUS_WRITECOMMAND_H
#define LUSTBUS_WRITECOMMAND_H

#include "linkcommand.h"
#include "writewatch.h"

class RequestAddress;

class WriteCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("write"); }
    QString summary() const override;
    QString description() const override;
    QList<Argument> arguments() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

    // VALUE as host data for address: hex bytes, bit digits (bits set to their count)
    // or the data type's value form. False with error naming the bad part.
    static bool hostData(const RequestAddress &address, const QString &value, bool hex,
                         QByteArray *host, int *bits, QString *error);

private:
    // The write on the open link, once the drive is identified where a catalogue can.
    WriteWatch::Outcome send(const RequestAddress &address, const QByteArray &host,
                             const QByteArray &held, QString *text);
    // The line (or --json object) of a done write; note: how it was settled, if it was.
    int printDone(const RequestAddress &address, const QByteArray &host, const QByteArray &held,
                  bool hex, bool json, const QString &note);
    // An unknown write settled by reading the address back (expected: what the servo
    // holds when the write was carried out).
    WriteWatch::Outcome settle(const RequestAddress &address, const QByteArray &expected,
                               QString *note);

    std::unique_ptr<IdentityCheck> m_identity; //!< with a catalogue
};

#endif // LUSTBUS_WRITECOMMAND_H
