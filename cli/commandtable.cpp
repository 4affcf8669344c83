#include "commandtable.h"

#include "backupcommand.h"
#include "bridgecommand.h"
#include "console.h"
#include "democommand.h"
#include "diffcommand.h"
#include "exitstatus.h"
#include "gatewaycommand.h"
#include "infocommand.h"
#include "linkoptions.h"
#include "listcommand.h"
#include "manualpage.h"
#include "portscommand.h"
#include "readcommand.h"
#include "restorecommand.h"
#include "scancommand.h"
#include "shellcompletion.h"
#include "simulatecommand.h"
#include "watchcommand.h"
#include "writecommand.h"

#include <QtCore/QCoreApplication>

CommandTable::CommandTable()
{
    m_commands.push_back(std::make_unique<InfoCommand>());
    m_commands.push_back(std::make_unique<ReadCommand>());
    m_commands.push_back(std::make_unique<WriteCommand>());
    m_commands.push_back(std::make_unique<ScanCommand>());
    m_commands.push_back(std::make_unique<WatchCommand>());
    m_commands.push_back(std::make_unique<ListCommand>());
    m_commands.push_back(std::make_unique<BackupCommand>());
    m_commands.push_back(std::make_unique<RestoreCommand>());
    m_commands.push_back(std::make_unique<DiffCommand>());
    m_commands.push_back(std::make_unique<PortsCommand>());
    m_commands.push_back(std::make_unique<SimulateCommand>());
    m_commands.push_back(std::make_unique<GatewayCommand>());
    m_commands.push_back(std::make_unique<BridgeCommand>());
    m_commands.push_back(std::make_unique<DemoCommand>());
}

CommandTable::~CommandTable() = default;

const Command *CommandTable::find(const QString &name) const
{
    for (const auto &command : m_commands) {
        if (command->name() == name)
            return command.get();
    }
    return nullptr;
}

QList<const Command *> CommandTable::commands() const
{
    QList<const Command *> list;
    for (const auto &command : m_commands)
        list.append(command.get());
    return list;
}

QString CommandTable::introduction()
{
    return QStringLiteral(
        "Reads and writes parameters of LustBus ServoC/CDE servo drives through the driver\n"
        "plugin, loaded the way an HMI host loads it, over a serial port (--port), a TCP\n"
        "serial server (--tcp) or the built-in simulated servo (--sim); the commands that\n"
        "talk to a servo need one of the three. With a drive's parameter catalogue\n"
        "(--catalogue FILE) parameters go by name, and list, backup, restore and diff\n"
        "show, save, write back and compare a drive's whole parameter set.\n");
}

QList<QCommandLineOption> CommandTable::programOptions()
{
    return {QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                               QStringLiteral("this overview; 'lustbus COMMAND --help' "
                                              "explains a command")),
            QCommandLineOption(QStringLiteral("version"),
                               QStringLiteral("the version of the package: lustbus, the "
                                              "plugin, the host kit"))};
}

QCommandLineOption CommandTable::helpOption()
{
    return QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")},
                              QStringLiteral("Shows this help."));
}

QString CommandTable::exitStatusNotes()
{
    return QStringLiteral(
        "Exit status: 0 success, 1 the driver reported an error (its text on stderr),\n"
        "2 a usage error, 3 the plugin did not load or the link did not open, 4 the\n"
        "output could not be written (the message says why), 130 ended by SIGINT\n"
        "(Ctrl-C), 143 by SIGTERM, 141 the reader of a pipe went away (quietly).\n"
        "With --json, stdout carries one JSON object for each outcome but 4 and 141;\n"
        "a failure's has \"error\" and \"exit\".\n");
}

QString CommandTable::overview() const
{
    QString text = QStringLiteral("Usage: lustbus COMMAND [options] [arguments]\n\n")
                   + introduction() + QStringLiteral("\nCommands:\n");
    for (const auto &command : m_commands)
        text += QStringLiteral("  %1 %2\n").arg(command->name(), -9).arg(command->summary());
    text += QStringLiteral("\nOptions:\n");
    for (const QCommandLineOption &option : programOptions())
        text += QStringLiteral("  %1 %2\n")
                    .arg(Command::spelledNames(option).join(QStringLiteral(", ")), -11)
                    .arg(option.description());
    return text + QLatin1Char('\n') + LinkOptions::environmentNotes() + QLatin1Char('\n')
           + exitStatusNotes();
}

QString CommandTable::helpText(const Command &command, const QCommandLineParser &parser)
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

namespace {

// "lustbus write INT16:12 -5": no option name starts with a digit or a point, so an
// argument such as -5 or -.5 that is not the value of an option is a negative number.
// It goes behind "--", where the parser takes it as an argument; the order of the
// arguments among themselves stays as it was.
QStringList withNegativeNumbersAsArguments(const QStringList &arguments,
                                           const QList<QCommandLineOption> &options)
{
    auto takesValue = [&options](const QString &argument) {
        if (!argument.startsWith(QLatin1Char('-')) || argument.contains(QLatin1Char('=')))
            return false;
        QString name = argument;
        while (name.startsWith(QLatin1Char('-')))
            name.remove(0, 1);
        for (const QCommandLineOption &option : options) {
            if (option.names().contains(name))
                return !option.valueName().isEmpty();
        }
        return false;
    };
    QStringList kept;
    QStringList numbers;
    bool afterDashes = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        const bool negativeNumber = argument.size() > 1 && argument[0] == QLatin1Char('-')
                                    && (argument[1].isDigit() || argument[1] == QLatin1Char('.'));
        if (argument == QLatin1String("--"))
            afterDashes = true;
        if (!afterDashes && negativeNumber && i > 0 && !takesValue(arguments[i - 1]))
            numbers.append(argument);
        else
            kept.append(argument);
    }
    if (numbers.isEmpty())
        return arguments;
    if (!afterDashes)
        kept.append(QStringLiteral("--"));
    return kept + numbers;
}

// --json among the options, before a "--" that ends them.
bool asksForJson(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--json") || argument == QLatin1String("-json"))
            return true;
    }
    return false;
}

} // namespace

int CommandTable::run(const QStringList &arguments)
{
    int status = dispatch(arguments);
    // Output that did not get out turns a success into a failure; any other failure's
    // status stands, and the message tells what else went wrong.
    if (Console::writeError() != 0) {
        const Command *command = find(arguments.value(1));
        const int failed = Command::writeFailure(
            command ? QStringLiteral("lustbus ") + command->name() : QStringLiteral("lustbus"));
        if (status == ExitSuccess)
            status = failed;
    }
    return status;
}

int CommandTable::dispatch(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("help")) {
        const Command *topic = find(arguments.value(2));
        if (first == QLatin1String("help") && topic) {
            return run({arguments.value(0), topic->name(), QStringLiteral("--help")});
        }
        (first.isEmpty() ? Console::err() : Console::out()) << overview() << Qt::flush;
        return first.isEmpty() ? ExitUsageError : ExitSuccess;
    }
    // The build makes the man page and the shell completions with these, from the same
    // texts as --help; they are no options for users and stay out of the help.
    if (first == QLatin1String("--man")) {
        Console::out() << ManualPage::roff(*this) << Qt::flush;
        return ExitSuccess;
    }
    if (first == QLatin1String("--completion")) {
        const QString script = ShellCompletion::script(*this, arguments.value(2));
        if (script.isEmpty()) {
            Console::err() << "lustbus --completion: expected "
                           << ShellCompletion::shells().join(QStringLiteral(" or "))
                           << ", not '" << arguments.value(2) << "'" << Qt::endl;
            return ExitUsageError;
        }
        Console::out() << script << Qt::flush;
        return ExitSuccess;
    }
    if (first == QLatin1String("--version")) {
        Console::out() << "lustbus " << QCoreApplication::applicationVersion() << Qt::endl;
        return ExitSuccess;
    }
    Command *command = nullptr;
    for (const auto &candidate : m_commands) {
        if (candidate->name() == first)
            command = candidate.get();
    }
    if (!command) {
        Console::err() << "lustbus: unknown command '" << first << "'\n"
                       << "Try 'lustbus --help' for the list of commands." << Qt::endl;
        return ExitUsageError;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(command->description());
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = helpOption();
    parser.addOption(help);
    const QList<QCommandLineOption> options = command->options();
    parser.addOptions(options);
    for (const Command::Argument &argument : command->arguments())
        parser.addPositionalArgument(argument.name, argument.description,
                                     argument.repeatable ? argument.name + QStringLiteral("...")
                                                         : QString());

    QStringList commandArguments = arguments;
    commandArguments.removeAt(1);
    // A script that asked for JSON gets its object even when the command line itself
    // does not parse.
    const bool hasJson = command->hasJsonOption();
    command->setJsonOutput(hasJson && asksForJson(commandArguments));
    if (!parser.parse(withNegativeNumbersAsArguments(commandArguments, options)))
        return command->usageError(parser.errorText());
    command->setJsonOutput(hasJson && parser.isSet(QStringLiteral("json")));
    if (parser.isSet(help)) {
        Console::out() << helpText(*command, parser) << Qt::flush;
        return ExitSuccess;
    }
    const QList<Command::Argument> expected = command->arguments();
    const QStringList given = parser.positionalArguments();
    const bool lastOptional = !expected.isEmpty() && expected.last().optional;
    if (given.size() < expected.size() - int(lastOptional))
        return command->usageError(
            QStringLiteral("missing %1").arg(expected.value(given.size()).name));
    const bool repeats = !expected.isEmpty() && expected.last().repeatable;
    if (given.size() > expected.size() && !repeats)
        return command->usageError(
            QStringLiteral("unexpected argument '%1'").arg(given.value(expected.size())));
    return command->run(parser);
}
