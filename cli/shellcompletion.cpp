#include "shellcompletion.h"

#include "programhelp.h"

#include <QtCore/QRegularExpression>

namespace {

// What a value completes to, by the name its option gives it.
enum class ValueKind { None, File, Device };

ValueKind valueKind(const QCommandLineOption &option)
{
    const QString name = option.valueName();
    if (name == QLatin1String("DEVICE"))
        return ValueKind::Device;
    if (name == QLatin1String("PATH") || name == QLatin1String("FILE"))
        return ValueKind::File;
    return ValueKind::None;
}

// The options of a command that its help shows: --help and its own, without those it
// only refuses (scan's --station).
QList<QCommandLineOption> allOptions(const Command &command)
{
    QList<QCommandLineOption> options{ProgramHelp::helpOption()};
    for (const QCommandLineOption &option : command.options()) {
        if (!(option.flags() & QCommandLineOption::HiddenFromHelp))
            options.append(option);
    }
    return options;
}

// Inside single quotes.
QString shellQuoted(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("'\\''"))
           + QLatin1Char('\'');
}

// The first sentence, for the one line zsh shows beside an option.
QString firstSentence(const QString &text)
{
    static const QRegularExpression sentenceEnd(QStringLiteral("\\.\\s+(?=[A-Z0-9$])"));
    const int end = text.indexOf(sentenceEnd);
    QString sentence = (end < 0 ? text : text.left(end)).simplified();
    if (sentence.endsWith(QLatin1Char('.')))
        sentence.chop(1);
    return sentence;
}

// A text inside an _arguments entry: an explanation in brackets ends at a bracket, a
// message at a colon.
QString zshArgumentText(QString text, char end)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    for (const char c : {'[', end})
        text.replace(QLatin1Char(c), QStringLiteral("\\") + QLatin1Char(c));
    return text;
}

QString zshArgumentEntries(const Command &command)
{
    QStringList entries;
    for (const QCommandLineOption &option : allOptions(command)) {
        const QStringList names = Command::spelledNames(option);
        QString rest = QLatin1Char('[') + zshArgumentText(firstSentence(option.description()), ']')
                       + QLatin1Char(']');
        if (!option.valueName().isEmpty()) {
            rest += QLatin1Char(':') + zshArgumentText(option.valueName(), ':') + QLatin1Char(':');
            switch (valueKind(option)) {
            case ValueKind::Device: rest += QStringLiteral("_files -g \"/dev/tty*\""); break;
            case ValueKind::File: rest += QStringLiteral("_files"); break;
            case ValueKind::None: rest += QLatin1Char(' '); break;
            }
        }
        // -h and --help exclude each other; "--port=": the value after = or as the next word.
        if (names.size() > 1)
            entries.append(shellQuoted(QStringLiteral("(%1)").arg(names.join(QLatin1Char(' '))))
                           + QStringLiteral("{%1}").arg(names.join(QLatin1Char(',')))
                           + shellQuoted(rest));
        else
            entries.append(shellQuoted(names.value(0)
                                       + (option.valueName().isEmpty() ? QString()
                                                                       : QStringLiteral("="))
                                       + rest));
    }
    int position = 0;
    for (const Command::Argument &argument : command.arguments())
        entries.append(shellQuoted((argument.repeatable ? QStringLiteral("*")
                                                      : QString::number(++position))
                                 + QLatin1Char(':') + zshArgumentText(argument.name, ':')
                                 + QStringLiteral(": ")));
    return entries.join(QStringLiteral(" \\\n            "));
}

// --help, -h, --version: what completes in place of a command.
QString programOptionNames()
{
    QStringList names;
    for (const QCommandLineOption &option : ProgramHelp::programOptions())
        names += Command::spelledNames(option);
    return names.join(QLatin1Char(' '));
}

} // namespace

QStringList ShellCompletion::shells()
{
    return {QStringLiteral("bash"), QStringLiteral("zsh")};
}

QString ShellCompletion::script(const QList<const Command *> &commands, const QString &shell)
{
    if (shell == QLatin1String("bash"))
        return bash(commands);
    if (shell == QLatin1String("zsh"))
        return zsh(commands);
    return QString();
}

QString ShellCompletion::bash(const QList<const Command *> &commands)
{
    QStringList names;
    QString cases;
    for (const Command *command : commands) {
        names.append(command->name());
        QStringList options, values, files, devices;
        for (const QCommandLineOption &option : allOptions(*command)) {
            const QStringList spelled = Command::spelledNames(option);
            options += spelled;
            if (!option.valueName().isEmpty())
                values += spelled;
            if (valueKind(option) == ValueKind::File)
                files += spelled;
            if (valueKind(option) == ValueKind::Device)
                devices += spelled;
        }
        cases += QStringLiteral("    %1)\n"
                                "        options=\"%2\"\n"
                                "        values=\"%3\" files=\"%4\" devices=\"%5\" ;;\n")
                     .arg(command->name(), options.join(QLatin1Char(' ')),
                          values.join(QLatin1Char(' ')), files.join(QLatin1Char(' ')),
                          devices.join(QLatin1Char(' ')));
    }
    return QStringLiteral(
               "# bash completion for lustbus, made by \"lustbus --completion bash\" from its "
               "help texts\n"
               "_lustbus()\n"
               "{\n"
               "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
               "    local commands=\"%1\"\n"
               "    local options values files devices\n"
               "    COMPREPLY=()\n"
               "    if [ \"$COMP_CWORD\" -eq 1 ]; then\n"
               "        COMPREPLY=($(compgen -W \"$commands help %2\" -- \"$cur\"))\n"
               "        return\n"
               "    fi\n"
               "    case ${COMP_WORDS[1]} in\n"
               "    help)\n"
               "        [ \"$COMP_CWORD\" -eq 2 ] && COMPREPLY=($(compgen -W \"$commands\" -- "
               "\"$cur\"))\n"
               "        return ;;\n"
               "%3"
               "    *) return ;;\n"
               "    esac\n"
               "    # A value: files, serial devices, or one of the user's own.\n"
               "    case \" $devices \" in *\" $prev \"*)\n"
               "        compopt -o filenames 2>/dev/null\n"
               "        COMPREPLY=($(compgen -f -- \"${cur:-/dev/tty}\"))\n"
               "        return ;;\n"
               "    esac\n"
               "    case \" $files \" in *\" $prev \"*)\n"
               "        compopt -o filenames 2>/dev/null\n"
               "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
               "        return ;;\n"
               "    esac\n"
               "    case \" $values \" in *\" $prev \"*) return ;; esac\n"
               "    case $cur in -*) COMPREPLY=($(compgen -W \"$options\" -- \"$cur\")) ;; esac\n"
               "}\n"
               "complete -F _lustbus lustbus\n")
        .arg(names.join(QLatin1Char(' ')), programOptionNames(), cases);
}

QString ShellCompletion::zsh(const QList<const Command *> &commands)
{
    QString described;
    QString cases;
    for (const Command *command : commands) {
        described += QStringLiteral("        ")
                    + shellQuoted(command->name() + QLatin1Char(':') + command->summary())
                    + QLatin1Char('\n');
        cases += QStringLiteral("    (%1)\n"
                                "        _arguments -s \\\n"
                                "            %2 ;;\n")
                     .arg(command->name(), zshArgumentEntries(*command));
    }
    return QStringLiteral(
               "#compdef lustbus\n"
               "# zsh completion for lustbus, made by \"lustbus --completion zsh\" from its "
               "help texts\n"
               "\n"
               "_lustbus() {\n"
               "    local -a commands\n"
               "    commands=(\n"
               "%1"
               "    )\n"
               "    if (( CURRENT == 2 )); then\n"
               "        if [[ $PREFIX == -* ]]; then\n"
               "            compadd -- %2\n"
               "        else\n"
               "            _describe -t commands 'lustbus command' commands\n"
               "        fi\n"
               "        return\n"
               "    fi\n"
               "    local command=$words[2]\n"
               "    shift words\n"
               "    (( CURRENT-- ))\n"
               "    case $command in\n"
               "    (help)\n"
               "        (( CURRENT == 2 )) && _describe -t commands 'lustbus command' commands "
               ";;\n"
               "%3"
               "    esac\n"
               "}\n"
               "\n"
               "_lustbus \"$@\"\n")
        .arg(described, programOptionNames(), cases);
}
