// lustbus read ADDRESS: one DriverInterface::read, the value printed by data type.
#ifndef LUSTBUS_READCOMMAND_H
#define LUSTBUS_READCOMMAND_H

#include "linkcommand.h"

class RequestAddress;

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

    // The text that the address forms and value forms share in read and write help.
    static QString addressNotes();
};

#endif // LUSTBUS_READCOMMAND_H
