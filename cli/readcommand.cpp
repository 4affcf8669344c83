// lustbus read ADDRESS: one DriverInterface::read, the value printed by data type.
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "nameaddress.h"
#include "options.h"
#include "programhelp.h"
#include "valueform.h"

#include <QtCore/QJsonDocument>

namespace {

const char Description[] =
    "Reads the parameter that ADDRESS names through DriverInterface::read and prints\n"
    "the value decoded by its data type: INT8 to USIGN32 in decimal, FLOAT32 as a\n"
    "float, FIXPT16 and INT32Q16 (hundredths) with two decimal places, STRING as\n"
    "text, element reads as a list \"a, b, c\", bit reads as 0/1 digits, LOWEST BIT\n"
    "FIRST (\"1000\" means only the first bit read is set).\n"
    "\n"
    "A simple INT32Q16 read that comes back as 32768.00 fails (exit 1), --hex too:\n"
    "the driver's read stops there, and a negative value reads as that as well. The\n"
    "elements of an array (TYPE:PARAM:INDEX) are read with their sign.";

const char Examples[] =
    "\n"
    "Examples: the link from LUSTBUS_PORT or LUSTBUS_TCP, or add --sim\n"
    "  lustbus read INT16:12                  # -1234 with --sim\n"
    "  lustbus read FIXPT16:103:0 --count 4   # 1.00, 2.00, 3.00, 4.00\n"
    "  lustbus read STRING:19:0               # LUST CDE SIM\n"
    "  lustbus read USIGN16:13.4 --count 8    # bits 4 to 11, lowest first\n"
    "  lustbus read INT32:14 --hex            # C01DFEFF (host bytes)\n"
    "  lustbus read speed_setpoint --catalogue catalogues/sample.json\n"
    "  lustbus read gains[2..5]               # with LUSTBUS_CATALOGUE set\n"
    "  lustbus read INT16:12 --json --port /dev/ttyUSB0 --station 3\n";

class ReadCommand : public LinkCommand
{
public:
    ReadCommand()
        : LinkCommand({"read", "reads a parameter and prints its value", Description,
                       ProgramHelp::addressNotes() + '\n' + ProgramHelp::linkNotes() + Examples,
                       {{"ADDRESS",
                         "TYPE:PARAM, TYPE:PARAM:INDEX or a bit address TYPE:PARAM.BIT, "
                         "TYPE:PARAM:INDEX.BIT; with a catalogue also NAME, NAME[I], "
                         "NAME[I..J], NAME.BIT (see below)."}}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return QList<QCommandLineOption>{
                   Options::Kind.with("Address kind: 0 and 6 bits, 1 and 5 bytes, 2 16-bit, 3 "
                                      "32-bit, 4 64-bit elements. Default: from the address "
                                      "(see below)."),
                   Options::Count.with("Elements of the kind (bits for bit addresses). "
                                       "Default: 1, STRING 800."),
                   Options::Hex.with("Prints the host bytes as upper-case hex digits without "
                                     "spaces instead of the value."),
                   Options::Json.with("Prints one JSON object: address, kind, count, hex (host "
                                      "bytes), value; or error and exit."),
                   Options::rawAddress(),
                   CatalogueOption::option(),
               }
               + LinkOptions::options();
    }

    int run(const QCommandLineParser &parser) override;

private:
    // The value on stdout, as text or as the JSON object.
    int print(const RequestAddress &address, const QByteArray &host, bool hex, bool json);
};

int ReadCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status)
        || !readCatalogueFor(parser, parser.positionalArguments().mid(0, 1), &status))
        return status;
    RequestAddress address;
    NameAddress named;
    QString error;
    if (!NameAddress::resolve(parser.positionalArguments().value(0), catalogue(),
                              Options::Kind.value(parser), Options::Count.value(parser),
                              Options::textCheck(parser), &address, &named, &error))
        return usageError(error);
    addJsonFields(address.toJson());
    const bool hex = Options::Hex.isSet(parser);
    const bool json = Options::Json.isSet(parser);
    if (!ValueForm::isReadable(address, hex, &error))
        return usageError(error);
    if (!openLink(&status))
        return status;

    const QByteArray host = driver().read(link(), address.dataAddress());
    if (endedBySignal())
        return signalExit();
    const bool failed = driver().hasError();
    finishRequest();

    reportStatistics(json);
    if (failed)
        return failure(ExitDriverError, driver().errorText());
    // Not a value: in any form, --hex too, it would pass for one.
    const QString clamp = address.int32Q16ClampError(host);
    if (!clamp.isEmpty())
        return failure(ExitDriverError, clamp);
    return print(address, host, hex, json);
}

int ReadCommand::print(const RequestAddress &address, const QByteArray &host, bool hex, bool json)
{
    if (json) {
        QJsonObject object = address.toJson();
        ValueForm::insertJsonValue(address, host, &object);
        insertStatistics(&object);
        printJson(object);
        return ExitSuccess;
    }
    bool asHex = false;
    const QString text = ValueForm::shownText(address, host, hex, &asHex);
    if (asHex && !hex)
        Console::err() << "lustbus read: the " << host.size() << " bytes read are no whole "
                       << LustBus::dataTypeName(address.type) << " values (kind "
                       << qint32(address.kind) << "); shown as hex" << Qt::endl;
    Console::out() << text << (asHex || address.bitForm ? QString() : address.unitSuffix()) << '\n';
    return ExitSuccess;
}

} // namespace

std::unique_ptr<Command> Commands::read()
{
    return std::make_unique<ReadCommand>();
}
