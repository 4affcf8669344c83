#include "commandtable.h"

#include "commands.h"
#include "console.h"
#include "exitstatus.h"
#include "manualpage.h"
#include "options.h"
#include "programhelp.h"
#include "shellcompletion.h"

#include <QtCore/QCoreApplication>

CommandTable::CommandTable()
{
    for (auto make : {Commands::info, Commands::read, Commands::write, Commands::scan,
                      Commands::watch, Commands::list, Commands::backup, Commands::restore,
                      Commands::diff, Commands::ports, Commands::simulate, Commands::gateway,
                      Commands::bridge, Commands::web, Commands::demo})
        m_commands.push_back(make());
}

CommandTable::~CommandTable() = default;

Command *CommandTable::find(const QString &name) const
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
        if (argument == QLatin1String("--") + Options::Json.name()
            || argument == QLatin1String("-") + Options::Json.name())
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
    int status = ExitSuccess;
    if (programRequest(arguments, &status))
        return status;
    Command *command = find(arguments.value(1));
    if (!command) {
        Console::err() << "lustbus: unknown command '" << arguments.value(1) << "'\n"
                       << "Try 'lustbus --help' for the list of commands." << Qt::endl;
        return ExitUsageError;
    }
    QStringList commandArguments = arguments;
    commandArguments.removeAt(1);
    return runCommand(*command, commandArguments);
}

bool CommandTable::programRequest(const QStringList &arguments, int *status)
{
    const QString first = arguments.value(1);
    *status = ExitSuccess;
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h")
        || first == QLatin1String("help")) {
        const Command *topic = find(arguments.value(2));
        if (first == QLatin1String("help") && topic) {
            *status = run({arguments.value(0), topic->name(), QStringLiteral("--help")});
            return true;
        }
        (first.isEmpty() ? Console::err() : Console::out())
            << ProgramHelp::overview(commands()) << Qt::flush;
        *status = first.isEmpty() ? ExitUsageError : ExitSuccess;
        return true;
    }
    // The build makes the man page and the shell completions with these, from the same
    // texts as --help; they are no options for users and stay out of the help.
    if (first == QLatin1String("--man")) {
        Console::out() << ManualPage::roff(commands()) << Qt::flush;
        return true;
    }
    if (first == QLatin1String("--completion")) {
        const QString script = ShellCompletion::script(commands(), arguments.value(2));
        if (script.isEmpty()) {
            Console::err() << "lustbus --completion: expected "
                           << ShellCompletion::shells().join(QStringLiteral(" or "))
                           << ", not '" << arguments.value(2) << "'" << Qt::endl;
            *status = ExitUsageError;
            return true;
        }
        Console::out() << script << Qt::flush;
        return true;
    }
    if (first == QLatin1String("--version")) {
        Console::out() << "lustbus " << QCoreApplication::applicationVersion() << Qt::endl;
        return true;
    }
    return false;
}

int CommandTable::runCommand(Command &command, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(command.description());
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = ProgramHelp::helpOption();
    parser.addOption(help);
    const QList<QCommandLineOption> options = command.options();
    parser.addOptions(options);
    for (const Command::Argument &argument : command.arguments())
        parser.addPositionalArgument(argument.name, argument.description,
                                     argument.repeatable ? argument.name + QStringLiteral("...")
                                                         : QString());
    // A script that asked for JSON gets its object even when the command line itself
    // does not parse.
    const bool hasJson = command.hasJsonOption();
    command.setJsonOutput(hasJson && asksForJson(arguments));
    if (!parser.parse(withNegativeNumbersAsArguments(arguments, options)))
        return command.usageError(parser.errorText());
    command.setJsonOutput(hasJson && Options::Json.isSet(parser));
    if (parser.isSet(help)) {
        Console::out() << ProgramHelp::helpText(command, parser) << Qt::flush;
        return ExitSuccess;
    }
    const QList<Command::Argument> &expected = command.arguments();
    const QStringList given = parser.positionalArguments();
    const bool lastOptional = !expected.isEmpty() && expected.last().optional;
    if (given.size() < expected.size() - int(lastOptional))
        return command.usageError(
            QStringLiteral("missing %1").arg(expected.value(given.size()).name));
    const bool repeats = !expected.isEmpty() && expected.last().repeatable;
    if (given.size() > expected.size() && !repeats)
        return command.usageError(
            QStringLiteral("unexpected argument '%1'").arg(given.value(expected.size())));
    return command.run(parser);
}
