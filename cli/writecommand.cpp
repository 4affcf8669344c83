// lustbus write ADDRESS VALUE: VALUE parsed by data type, one DriverInterface::write.
#include "catalogueoption.h"
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "nameaddress.h"
#include "options.h"
#include "programhelp.h"
#include "valueform.h"
#include "valuetext.h"
#include "writewatch.h"

#include <QtCore/QJsonDocument>

using LustBus::DataType;

namespace {

const char Description[] =
    "Parses VALUE by the data type of ADDRESS, in the forms that read prints, and\n"
    "writes it through DriverInterface::write. Bit addresses take 0/1 digits,\n"
    "LOWEST BIT FIRST; the driver reads the whole value, changes those bits and\n"
    "writes it back. A negative VALUE can be given as it is (write INT16:12 -5).\n"
    "\n"
    "With a catalogue (a name, or --catalogue) the drive is identified first (see\n"
    "restore --help), and nothing is sent to a drive that cannot be; without one, a\n"
    "numeric address is written to whatever answers at the station. The write is done\n"
    "(the servo acknowledged it: \"written ...\"), refused (the servo said no, or nothing\n"
    "was sent) or unknown (it went out and no valid reply came). An unknown write is\n"
    "read back: the new value makes it done (\"confirmed by read back\"), another one\n"
    "refused (\"not carried out\"), a failed read leaves it unknown. Exit 1 unless done.";

const char Examples[] =
    "\n"
    "Examples: the link from LUSTBUS_PORT or LUSTBUS_TCP, or add --sim\n"
    "  lustbus write INT16:12 -5\n"
    "  lustbus write FIXPT16:17 12.5\n"
    "  lustbus write INT16:101:2 \"7, 8, 9\"       # elements 2 to 4\n"
    "  lustbus write STRING:19:0 \"NEW NAME\"\n"
    "  lustbus write USIGN8:11.0 101              # bits 0 and 2 on, bit 1 off\n"
    "  lustbus write USIGN16:13 CDAB --hex         # host bytes: 0xABCD\n"
    "  lustbus write speed_setpoint 1500 --catalogue catalogues/sample.json\n"
    "  lustbus write gains[2..4] \"7, 8, 9\"        # with LUSTBUS_CATALOGUE set\n"
    "  lustbus write INT16:12 42 --tcp 192.0.2.10:4001 --station 2\n";

class WriteCommand : public LinkCommand
{
public:
    WriteCommand()
        : LinkCommand({"write", "writes a value to a parameter", Description,
                       ProgramHelp::addressNotes() + '\n' + ProgramHelp::linkNotes() + Examples,
                       {{"ADDRESS", "The parameter, as for read: a numeric address or, with a "
                                    "catalogue, a name."},
                        {"VALUE", "The value by data type, a list \"1, 2, 3\" for an element "
                                  "address, 0/1 digits for a bit address, host bytes with "
                                  "--hex."}}})
    {
    }

    QList<QCommandLineOption> options() const override
    {
        return QList<QCommandLineOption>{
                   Options::Kind.with("Address kind: 0 and 6 bits, 1 and 5 bytes, 2 16-bit, 3 "
                                      "32-bit, 4 64-bit elements. Default: from the address."),
                   Options::Count.with("Elements of the kind; for bit addresses the bits, which "
                                       "must match the digits of VALUE. Default: from VALUE."),
                   Options::Hex.with("VALUE is host bytes as hex digits (little-endian, as read "
                                     "--hex prints them)."),
                   Options::Json.with("Prints one JSON object: address, kind, count, hex (host "
                                      "bytes), value (as the servo will hold it), outcome, "
                                      "written (null when unknown), identity; or error and "
                                      "exit."),
                   Options::rawAddress(),
                   CatalogueOption::option(),
               }
               + LinkOptions::options();
    }

    int run(const QCommandLineParser &parser) override;

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

// Why the value the servo holds differs from the one typed: the driver's scalings
// round to the servo's steps.
QString roundingNote(DataType type, const QByteArray &typed, const QByteArray &held)
{
    QStringList notes;
    for (int at = 0; at + 4 <= typed.size() && at + 4 <= held.size(); at += 4) {
        const QString before = ValueText::format(type, typed.mid(at, 4), false);
        const QString after = ValueText::format(type, held.mid(at, 4), false);
        if (before == after)
            continue;
        notes.append(type == DataType::FixPt16
                         ? QStringLiteral("%1 is not a multiple of 0.05").arg(before)
                         : QStringLiteral("%1 becomes %2 by the driver's rounding")
                               .arg(before, after));
    }
    return notes.join(QLatin1String("; "));
}

int WriteCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    if (!readLinkOptions(parser, &status)
        || !readCatalogueFor(parser, parser.positionalArguments().mid(0, 1), &status))
        return status;
    RequestAddress address;
    NameAddress named;
    QString error;
    if (!NameAddress::resolve(parser.positionalArguments().value(0), catalogue(),
                              Options::Kind.value(parser),
                              Options::Count.value(parser),
                              Options::textCheck(parser), &address, &named, &error))
        return usageError(error);
    addJsonFields(address.toJson());
    if (address.type == DataType::String && !address.hasIndex() && !address.bitForm)
        return usageError(QStringLiteral("'%1': a STRING parameter is written as text only "
                                         "through an address with an element index, such as %1:0")
                              .arg(address.text));
    const bool hex = Options::Hex.isSet(parser);
    QByteArray host;
    int bits = 0;
    if (!ValueForm::hostData(address, parser.positionalArguments().value(1), hex, &host, &bits, &error)
        || !address.adoptValue(host.size(), bits, &error))
        return usageError(error);
    addJsonFields(address.toJson());
    addJsonFields({{QStringLiteral("hex"), ValueText::toHex(host)}});
    const QByteArray held = address.bitForm ? host : ValueText::heldByServo(address.type, host);
    if (!named.checkWrite(address, held, &error))
        return usageError(error);
    // A drive is written by name only once it is identified; a numeric address without
    // a catalogue is the raw way in, and cannot be.
    if (catalogue() && DriveIdentity::entries(m_catalogue).isEmpty())
        return usageError(DriveIdentity::noEntriesText(m_catalogue)
                          + QStringLiteral(": write with a catalogue goes only to a drive it "
                                           "identified; nothing was sent"));
    if (!openLink(&status))
        return status;

    QString message;
    const WriteWatch::Outcome outcome = send(address, host, held, &message);
    if (endedBySignal())
        return signalExit();
    const bool json = Options::Json.isSet(parser);
    const QJsonValue written = outcome == WriteWatch::Done      ? QJsonValue(true)
                               : outcome == WriteWatch::Refused ? QJsonValue(false)
                                                                : QJsonValue();
    addJsonFields({{QStringLiteral("outcome"), QLatin1String(WriteWatch::name(outcome))},
                   {QStringLiteral("written"), written}});
    reportStatistics(json);
    if (outcome != WriteWatch::Done)
        return failure(ExitDriverError, QLatin1String(WriteWatch::name(outcome))
                                            + QStringLiteral(": ") + message);
    return printDone(address, host, held, hex, json, message);
}

int WriteCommand::printDone(const RequestAddress &address, const QByteArray &host,
                            const QByteArray &held, bool hex, bool json, const QString &note)
{
    if (json) {
        QJsonObject object = address.toJson();
        ValueForm::insertJsonValue(address, held, &object);
        object.insert(QStringLiteral("hex"), ValueText::toHex(host));
        object.insert(QStringLiteral("outcome"), QLatin1String(WriteWatch::name(WriteWatch::Done)));
        object.insert(QStringLiteral("written"), true);
        if (!note.isEmpty())
            object.insert(QStringLiteral("note"), note);
        if (m_identity && m_identity->identified())
            object.insert(QStringLiteral("identity"), m_identity->identity().toJson());
        insertStatistics(&object);
        printJson(object);
        return ExitSuccess;
    }
    const QString noted = note.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(note);
    if (hex) {
        Console::out() << "written " << address.label() << " = " << ValueText::toHex(host)
                       << noted << '\n';
        return ExitSuccess;
    }
    const QString rounding = address.bitForm ? QString() : roundingNote(address.type, host, held);
    Console::out() << "written " << address.label() << " = "
                   << ValueForm::valueText(address, held)
                   << (address.bitForm ? QString() : address.unitSuffix())
                   << (rounding.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(rounding))
                   << noted << '\n';
    return ExitSuccess;
}

WriteWatch::Outcome WriteCommand::send(const RequestAddress &address, const QByteArray &host,
                                       const QByteArray &held, QString *text)
{
    if (catalogue()) {
        m_identity = identityCheck();
        const IdentityCheck::Outcome start = m_identity->start(text);
        if (start != IdentityCheck::Same) {
            *text += QStringLiteral("; nothing was sent");
            return WriteWatch::Refused;
        }
        addJsonFields({{QStringLiteral("identity"), m_identity->identity().toJson()}});
    }
    WriteWatch watch(link());
    const int written = driver().write(watch, address.dataAddress(), host);
    if (endedBySignal())
        return WriteWatch::Unknown;
    const bool failed = driver().hasError();
    finishRequest();
    // A bit write whose read brought an empty value writes nothing and reports nothing.
    *text = failed ? driver().errorText()
            : written ? QString()
                      : QStringLiteral("write %1> the servo returned an empty value; nothing "
                                       "was written")
                            .arg(address.text);
    const WriteWatch::Outcome outcome = watch.outcome(failed || !written, driver().errorText());
    if (outcome != WriteWatch::Unknown)
        return outcome;
    QString note;
    const WriteWatch::Outcome settled =
        settle(address, address.bitForm || address.type == DataType::String ? host : held, &note);
    *text = settled == WriteWatch::Unknown ? *text + QStringLiteral("; ") + note : note;
    return settled;
}

WriteWatch::Outcome WriteCommand::settle(const RequestAddress &address,
                                         const QByteArray &expected, QString *note)
{
    QString lost;
    if (m_identity && m_identity->confirm(&lost) != IdentityCheck::Same)
        return WriteWatch::settle(false, false, false, lost, note);
    QByteArray back = driver().read(link(), address.dataAddress());
    if (endedBySignal())
        return WriteWatch::Unknown;
    const bool failed = driver().hasError();
    const QString error = driver().errorText();
    finishRequest();
    if (!failed && m_identity && m_identity->confirm(&lost) != IdentityCheck::Same)
        return WriteWatch::settle(false, false, false, lost, note);
    // A text reads back whole, up to its zero byte.
    if (address.type == DataType::String && !address.bitForm && back.contains('\0'))
        back.truncate(back.indexOf('\0'));
    const bool same = back == expected;
    return WriteWatch::settle(!failed, same, !same,
                              failed ? error : ValueForm::valueText(address, back), note);
}

} // namespace

std::unique_ptr<Command> Commands::write()
{
    return std::make_unique<WriteCommand>();
}
