#include "manualpage.h"

#include "programhelp.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QRegularExpression>

namespace {

// One input line; a line that starts with a point or a quote would be a request.
QString inputLine(const QString &text)
{
    const QString line = ManualPage::escaped(text);
    return (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\''))
                ? QStringLiteral("\\&") + line
                : line)
           + QLatin1Char('\n');
}

QString bold(const QString &text)
{
    return QStringLiteral("\\fB") + ManualPage::escaped(text) + QStringLiteral("\\fR");
}

QString italic(const QString &text)
{
    return QStringLiteral("\\fI") + ManualPage::escaped(text) + QStringLiteral("\\fR");
}

// ".TP" entries: "-h, --help" in bold, the value's name in italics, the description.
QString optionList(const QList<QCommandLineOption> &options)
{
    QString text;
    for (const QCommandLineOption &option : options) {
        if (option.flags() & QCommandLineOption::HiddenFromHelp)
            continue;
        QStringList names;
        for (const QString &name : Command::spelledNames(option))
            names.append(bold(name));
        text += QStringLiteral(".TP\n") + names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            text += QLatin1Char(' ') + italic(option.valueName());
        text += QLatin1Char('\n') + inputLine(option.description());
    }
    return text;
}

QString usage(const Command &command)
{
    QString text = bold(QStringLiteral("lustbus ") + command.name()) + QStringLiteral(" [")
                   + italic(QStringLiteral("options")) + QLatin1Char(']');
    for (const Command::Argument &argument : command.arguments())
        text += QLatin1Char(' ') + italic(argument.name)
                + (argument.repeatable ? QStringLiteral("...") : QString());
    return text + QLatin1Char('\n');
}

QString commandSection(const Command &command)
{
    QString text = QStringLiteral(".SS ") + command.name() + QLatin1Char('\n')
                   + QStringLiteral(".PP\n") + usage(command)
                   + ManualPage::paragraphs(command.description());
    if (!command.arguments().isEmpty()) {
        text += QStringLiteral(".PP\nArguments:\n");
        for (const Command::Argument &argument : command.arguments())
            text += QStringLiteral(".TP\n") + italic(argument.name) + QLatin1Char('\n')
                    + inputLine(argument.description);
    }
    text += QStringLiteral(".PP\nOptions:\n") + optionList(command.options());
    if (!command.epilogue().isEmpty())
        text += ManualPage::paragraphs(command.epilogue());
    return text;
}

} // namespace

QString ManualPage::escaped(const QString &text)
{
    QString result = text;
    result.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    result.replace(QLatin1Char('-'), QLatin1String("\\-"));
    return result;
}

QString ManualPage::paragraphs(const QString &text)
{
    static const QRegularExpression blankLines(QStringLiteral("\\n[ \\t]*\\n"));
    QString result;
    for (const QString &paragraph : text.split(blankLines, Qt::SkipEmptyParts)) {
        const QStringList lines = paragraph.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        bool flowing = true;
        for (const QString &line : lines)
            flowing = flowing && !line.startsWith(QLatin1Char(' '));
        result += flowing ? QStringLiteral(".PP\n") : QStringLiteral(".PP\n.nf\n");
        for (const QString &line : lines)
            result += inputLine(line);
        if (!flowing)
            result += QStringLiteral(".fi\n");
    }
    return result;
}

QString ManualPage::roff(const QList<const Command *> &commands)
{
    const QString version = QCoreApplication::applicationVersion();
    QString text = QStringLiteral(
                       ".\\\" Made by \"lustbus --man\" from the help texts of lustbus %1.\n"
                       ".TH LUSTBUS 1 \"\" \"lustbus %1\" \"User Commands\"\n"
                       // Option names and values stay whole where a line breaks.
                       ".nh\n"
                       ".SH NAME\n"
                       "lustbus \\- the command\\-line host of the LustBus ServoC/CDE driver "
                       "plugin\n"
                       ".SH SYNOPSIS\n")
                       .arg(version)
                   + bold(QStringLiteral("lustbus")) + QLatin1Char(' ')
                   + italic(QStringLiteral("COMMAND")) + QStringLiteral(" [")
                   + italic(QStringLiteral("options")) + QStringLiteral("] [")
                   + italic(QStringLiteral("arguments")) + QStringLiteral("]\n.br\n")
                   + bold(QStringLiteral("lustbus help")) + QLatin1Char(' ')
                   + italic(QStringLiteral("COMMAND")) + QStringLiteral("\n.br\n")
                   + bold(QStringLiteral("lustbus --help")) + QStringLiteral(" | ")
                   + bold(QStringLiteral("--version")) + QLatin1Char('\n')
                   + QStringLiteral(".SH DESCRIPTION\n") + paragraphs(ProgramHelp::introduction())
                   + QStringLiteral(".SH OPTIONS\n") + optionList(ProgramHelp::programOptions())
                   + QStringLiteral(".SH COMMANDS\n");
    for (const Command *command : commands)
        text += QStringLiteral(".TP\n") + bold(command->name()) + QLatin1Char('\n')
                + inputLine(command->summary());
    for (const Command *command : commands)
        text += commandSection(*command);
    text += QStringLiteral(".SH ENVIRONMENT\n") + paragraphs(ProgramHelp::environmentNotes())
            + QStringLiteral(".SH \"EXIT STATUS\"\n") + paragraphs(ProgramHelp::exitStatusNotes())
            + QStringLiteral(".SH \"SEE ALSO\"\n")
            + inputLine(QStringLiteral("lustbus COMMAND --help; the README of the lustbus "
                                       "package and its docs/ pages; docs/kit.md explains "
                                       "find_package(LustBus) and pkg-config lustbus for "
                                       "hosts of the driver."));
    return text;
}
