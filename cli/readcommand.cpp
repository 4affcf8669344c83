#include "readcommand.h"

#include "console.h"
#include "catalogueoption.h"
#include "exitstatus.h"
#include "nameaddress.h"
#include "requestaddress.h"
#include "valuetext.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>


using LustBus::DataType;

QString ReadCommand::summary() const
{
    return QStringLiteral("reads a parameter and prints its value");
}

QString ReadCommand::description() const
{
    return QStringLiteral(
        "Reads the parameter that ADDRESS names through DriverInterface::read and prints\n"
        "the value decoded by its data type: INT8 to USIGN32 in decimal, FLOAT32 as a\n"
        "float, FIXPT16 and INT32Q16 (hundredths) with two decimal places, STRING as\n"
        "text, element reads as a list \"a, b, c\", bit reads as 0/1 digits, LOWEST BIT\n"
        "FIRST (\"1000\" means only the first bit read is set).\n"
        "\n"
        "A simple INT32Q16 read that comes back as 32768.00 fails (exit 1), --hex too:\n"
        "the driver's read stops there, and a negative value reads as that as well. The\n"
        "elements of an array (TYPE:PARAM:INDEX) are read with their sign.");
}

QList<Command::Argument> ReadCommand::arguments() const
{
    return {{QStringLiteral("ADDRESS"),
             QStringLiteral("TYPE:PARAM, TYPE:PARAM:INDEX or a bit address TYPE:PARAM.BIT, "
                            "TYPE:PARAM:INDEX.BIT; with a catalogue also NAME, NAME[I], "
                            "NAME[I..J], NAME.BIT (see below).")}};
}

QString ReadCommand::addressNotes()
{
    return QStringLiteral(
        "Addresses (TYPE: INT8 USIGN8 INT16 USIGN16 INT32 USIGN32 FLOAT32 FIXPT16\n"
        "INT32Q16 STRING, any letter case):\n"
        "  TYPE:PARAM            a simple parameter (\"20\" telegrams)\n"
        "  TYPE:PARAM:INDEX      --count elements of an array parameter from INDEX on\n"
        "                        (\"70\" telegrams); STRING texts always need this form\n"
        "  TYPE:PARAM.BIT        --count bits from bit BIT of a simple parameter\n"
        "  TYPE:PARAM:INDEX.BIT  the same in the elements from INDEX on\n"
        "With --catalogue FILE (or $LUSTBUS_CATALOGUE), by the catalogue's names:\n"
        "  NAME                  the whole parameter: a value, a STRING's text, or every\n"
        "                        element of an array (as many as one request carries)\n"
        "  NAME[I], NAME[I..J]   element I (--count elements from I on), elements I to J\n"
        "  NAME.BIT              --count bits from bit BIT\n"
        "Values by name print with the catalogue's unit; a write by name is refused\n"
        "before anything is sent when the parameter is \"ro\" or a value lies outside\n"
        "its min and max. Numeric addresses go unchecked.\n"
        "\n"
        "Kind and count default from the address: INT8/USIGN8 kind 1, INT16/USIGN16\n"
        "kind 2, the 32-bit types and both fixed-point types kind 3 (element reads of\n"
        "FIXPT16 kind 2, so that the servo is asked for --count elements), STRING kind 5\n"
        "with count 800 on a read and the text's length on a write, bit addresses kind 0\n"
        "with --count bits (default 1); count 1 otherwise. An element read carries at\n"
        "most 255 bytes, a bit access at most 255 bits.\n"
        "\n"
        "Values: decimal integers (or 0x and hex digits, the element's bit pattern:\n"
        "0xFFFF is -1 as INT16), floats such as 1.5, FIXPT16 0.00 to 3276.75 and\n"
        "INT32Q16 -32768.00 to 32767.99 with at most two places, Latin-1 text, lists\n"
        "\"1, 2, 3\", bits as 0/1 digits lowest first, host bytes with --hex.\n");
}

QString ReadCommand::epilogue() const
{
    return addressNotes() + QLatin1Char('\n') + linkNotes()
           + QStringLiteral("\n"
                            "Examples: the link from LUSTBUS_PORT or LUSTBUS_TCP, or add --sim\n"
                            "  lustbus read INT16:12                  # -1234 with --sim\n"
                            "  lustbus read FIXPT16:103:0 --count 4   # 1.00, 2.00, 3.00, 4.00\n"
                            "  lustbus read STRING:19:0               # LUST CDE SIM\n"
                            "  lustbus read USIGN16:13.4 --count 8    # bits 4 to 11, lowest first\n"
                            "  lustbus read INT32:14 --hex            # C01DFEFF (host bytes)\n"
                            "  lustbus read speed_setpoint --catalogue catalogues/sample.json\n"
                            "  lustbus read gains[2..5]               # with LUSTBUS_CATALOGUE set\n"
                            "  lustbus read INT16:12 --json --port /dev/ttyUSB0 --station 3\n");
}

QList<QCommandLineOption> ReadCommand::options() const
{
    QList<QCommandLineOption> list{
        QCommandLineOption(QStringLiteral("kind"),
                           QStringLiteral("Address kind: 0 and 6 bits, 1 and 5 bytes, 2 16-bit, "
                                          "3 32-bit, 4 64-bit elements. Default: from the "
                                          "address (see below)."),
                           QStringLiteral("K")),
        QCommandLineOption(QStringLiteral("count"),
                           QStringLiteral("Elements of the kind (bits for bit addresses). "
                                          "Default: 1, STRING 800."),
                           QStringLiteral("N")),
        QCommandLineOption(QStringLiteral("hex"),
                           QStringLiteral("Prints the host bytes as upper-case hex digits "
                                          "without spaces instead of the value.")),
        QCommandLineOption(QStringLiteral("json"),
                           QStringLiteral("Prints one JSON object: address, kind, count, hex "
                                          "(host bytes), value; or error and exit.")),
        rawAddressOption(),
        CatalogueOption::option(),
    };
    return list + LinkOptions::options();
}

QCommandLineOption ReadCommand::rawAddressOption()
{
    return QCommandLineOption(
        QStringLiteral("raw-address"),
        QStringLiteral("Hands ADDRESS to the driver unchanged, to see what the driver itself "
                       "makes of it: no check of the data type name, blanks, characters after "
                       "the bit number, or --count on a simple parameter."));
}

RequestAddress::TextCheck ReadCommand::textCheck(const QCommandLineParser &parser)
{
    return parser.isSet(QStringLiteral("raw-address")) ? RequestAddress::TextCheck::Raw
                                                       : RequestAddress::TextCheck::Strict;
}

QString ReadCommand::valueText(const RequestAddress &address, const QByteArray &host)
{
    if (address.bitForm)
        return ValueText::formatBits(host, int(address.count));
    return ValueText::format(address.type, host, address.isList());
}

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
                              parser.value(QStringLiteral("kind")),
                              parser.value(QStringLiteral("count")), textCheck(parser), &address,
                              &named, &error))
        return usageError(error);
    addJsonFields(address.toJson());
    const bool hex = parser.isSet(QStringLiteral("hex"));
    const bool json = parser.isSet(QStringLiteral("json"));
    if (!isReadable(address, hex, &error))
        return usageError(error);
    if (!openLink(&status))
        return status;

    const QByteArray host = driver().read(link(), address.dataAddress());
    if (endedBySignal())
        return signalExit();
    const bool failed = driver().hasError();
    finishRequest();

    if (m_options.stats)
        addJsonFields({{QStringLiteral("stats"), statisticsJson()}});
    if (!json)
        printStatistics();
    if (failed)
        return failure(ExitDriverError, driver().errorText());
    // Not a value: in any form, --hex too, it would pass for one.
    const QString clamp = address.int32Q16ClampError(host);
    if (!clamp.isEmpty())
        return failure(ExitDriverError, clamp);
    if (json) {
        QJsonObject object = address.toJson();
        insertJsonValue(address, host, &object);
        if (m_options.stats)
            object.insert(QStringLiteral("stats"), statisticsJson());
        Console::out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << '\n';
        return ExitSuccess;
    }
    bool asHex = false;
    const QString text = shownText(address, host, hex, &asHex);
    if (asHex && !hex)
        Console::err() << "lustbus read: the " << host.size() << " bytes read are no whole "
                       << LustBus::dataTypeName(address.type) << " values (kind "
                       << qint32(address.kind) << "); shown as hex" << Qt::endl;
    Console::out() << text << (asHex || address.bitForm ? QString() : address.unitSuffix()) << '\n';
    return ExitSuccess;
}

QString ReadCommand::shownText(const RequestAddress &address, const QByteArray &host, bool hex,
                               bool *asHex)
{
    const bool whole = address.bitForm || ValueText::isWholeElements(address.type, host);
    if (asHex)
        *asHex = hex || !whole;
    if (hex || !whole)
        return ValueText::toHex(host);
    return valueText(address, host);
}

void ReadCommand::insertJsonValue(const RequestAddress &address, const QByteArray &host,
                                  QJsonObject *object)
{
    object->insert(QStringLiteral("hex"), ValueText::toHex(host));
    if (address.bitForm)
        object->insert(QStringLiteral("value"), valueText(address, host));
    else if (ValueText::isWholeElements(address.type, host))
        object->insert(QStringLiteral("value"),
                       ValueText::toJson(address.type, host, address.isList()));
}

bool ReadCommand::isReadable(const RequestAddress &address, bool hex, QString *error)
{
    if (address.type != DataType::String || address.hasIndex() || address.bitForm || hex)
        return true;
    *error = QStringLiteral("'%1': a STRING parameter is read as text only through an address "
                            "with an element index, such as %1:0 (--hex shows what the simple "
                            "read returns)")
                 .arg(address.text);
    return false;
}
