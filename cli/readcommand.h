// lustbus read ADDRESS: one DriverInterface::read, the value printed by data type.
#ifndef LUSTBUS_READCOMMAND_H
#define LUSTBUS_READCOMMAND_H

#include "linkcommand.h"
#include "requestaddress.h"

class QJsonObject;

class ReadCommand : public LinkCommand
{
public:
    QString name() const override { return QStringLiteral("read"); }
    QString summary() const override;
    QString description() const override;
    QList<Argument> arguments() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

    // The value text of host data read from address (bits, list, scalar or text).
    static QString valueText(const RequestAddress &address, const QByteArray &host);

    // What read and watch print for a value: the value text, or with hex (or when the
    // bytes are no whole elements) the host bytes as hex; asHex tells which.
    static QString shownText(const RequestAddress &address, const QByteArray &host, bool hex,
                             bool *asHex = nullptr);
    // The "hex" and "value" members of a read's JSON object ("value" only where the
    // bytes decode).
    static void insertJsonValue(const RequestAddress &address, const QByteArray &host,
                                QJsonObject *object);
    // A STRING parameter reads as text only through an element address: false with the
    // message for a usage error.
    static bool isReadable(const RequestAddress &address, bool hex, QString *error);

    // --raw-address, shared by read, write and watch, and the address check it picks.
    static QCommandLineOption rawAddressOption();
    static RequestAddress::TextCheck textCheck(const QCommandLineParser &parser);

    // The text that the address forms and value forms share in read and write help.
    static QString addressNotes();
};

#endif // LUSTBUS_READCOMMAND_H
