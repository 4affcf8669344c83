#include "programhelp.h"

namespace ProgramHelp {

QString introduction()
{
    return QStringLiteral(
        "Reads and writes parameters of LustBus ServoC/CDE servo drives through the driver\n"
        "plugin, loaded the way an HMI host loads it, over a serial port (--port), a TCP\n"
        "serial server (--tcp) or the built-in simulated servo (--sim); the commands that\n"
        "talk to a servo need one of the three. With a drive's parameter catalogue\n"
        "(--catalogue FILE) parameters go by name, and list, backup, restore and diff\n"
        "show, save, write back and compare a drive's whole parameter set.\n");
}

QList<QCommandLineOption> programOptions()
{
    return {QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                               QStringLiteral("this overview; 'lustbus COMMAND --help' "
                                              "explains a command")),
            QCommandLineOption(QStringLiteral("version"),
                               QStringLiteral("the version of the package: lustbus, the "
                                              "plugin, the host kit"))};
}

QCommandLineOption helpOption()
{
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Shows this help."));
}

QString environmentNotes()
{
    return QStringLiteral(
        "Environment (an option given on the command line wins; empty counts as unset):\n"
        "  LUSTBUS_PORT      serial port, as --port\n"
        "  LUSTBUS_TCP       HOST:PORT of a TCP serial server, as --tcp\n"
        "  LUSTBUS_SETTINGS  serial line, as --settings\n"
        "  LUSTBUS_STATION   station id, as --station\n"
        "  LUSTBUS_CATALOGUE parameter catalogue, as --catalogue (read, write, watch,\n"
        "                    list, backup, restore, diff, simulate)\n");
}

QString exitStatusNotes()
{
    return QStringLiteral(
        "Exit status: 0 success, 1 the driver reported an error (its text on stderr),\n"
        "2 a usage error, 3 the plugin did not load or the link did not open, 4 the\n"
        "output could not be written (the message says why), 130 ended by SIGINT\n"
        "(Ctrl-C), 143 by SIGTERM, 141 the reader of a pipe went away (quietly).\n"
        "With --json, stdout carries one JSON object for each outcome but 4 and 141;\n"
        "a failure's has \"error\" and \"exit\".\n");
}

QString linkNotes()
{
    return QStringLiteral(
               "Link: --port DEVICE for a serial port, --tcp HOST:PORT for a TCP serial server,\n"
               "--sim for the built-in simulated servo (on a pseudo-terminal, through the\n"
               "serial link). One of them is needed: without, lustbus stops with exit status 2.\n"
               "Station, time-out, retries, delay and serial line default to the driver's own\n"
               "defaults.\n"
               "\n")
           + environmentNotes()
           + QStringLiteral(
               "\n"
               "SIGINT (Ctrl-C) or SIGTERM ends the command at once, also while a request waits\n"
               "on a silent line (watch: the second one). Output that can no longer be written\n"
               "ends it too: quietly when the reader of a pipe went away (| head).\n"
               "\n")
           + exitStatusNotes();
}

QString addressNotes()
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

QString overview(const QList<const Command *> &commands)
{
    QString text = QStringLiteral("Usage: lustbus COMMAND [options] [arguments]\n\n")
                   + introduction() + QStringLiteral("\nCommands:\n");
    for (const Command *command : commands)
        text += QStringLiteral("  %1 %2\n").arg(command->name(), -9).arg(command->summary());
    text += QStringLiteral("\nOptions:\n");
    for (const QCommandLineOption &option : programOptions())
        text += QStringLiteral("  %1 %2\n")
                    .arg(Command::spelledNames(option).join(QStringLiteral(", ")), -11)
                    .arg(option.description());
    return text + QLatin1Char('\n') + environmentNotes() + QLatin1Char('\n')
           + exitStatusNotes();
}

QString helpText(const Command &command, const QCommandLineParser &parser)
{
    // Qt's usage line names the program by the path it was started with and puts the
    // options first; ours names the command.
    QString qtText = parser.helpText();
    const int lineEnd = qtText.indexOf(QLatin1Char('\n'));
    qtText = lineEnd < 0 ? QString() : qtText.mid(lineEnd + 1);
    QString usage = QStringLiteral("Usage: lustbus %1 [options]").arg(command.name());
    for (const Command::Argument &argument : command.arguments())
        usage += QLatin1Char(' ')
                 + (argument.optional ? QStringLiteral("[%1]").arg(argument.name) : argument.name)
                 + (argument.repeatable ? QStringLiteral("...") : QString());
    QString text = usage + QLatin1Char('\n') + qtText;
    const QString epilogue = command.epilogue();
    if (!epilogue.isEmpty())
        text += QLatin1Char('\n') + epilogue;
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return text;
}

} // namespace ProgramHelp
