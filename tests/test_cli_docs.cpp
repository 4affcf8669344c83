// The man page and shell completions that the build makes from lustbus's help texts,
// held against every command and option that --help lists, in man and the real shells.
#include <gtest/gtest.h>

#include "cliprocess.h"

#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>

#include <algorithm>

namespace {

struct CommandHelp
{
    QString name;
    QStringList options; //!< "-h", "--help", "--port", ...
};

// The commands that "lustbus --help" lists, with the options of "lustbus NAME --help".
QList<CommandHelp> commandsFromHelp()
{
    QList<CommandHelp> commands;
    const QStringList overview = lustbus(args("--help")).out.split(QLatin1Char('\n'));
    static const QRegularExpression commandLine(QStringLiteral("^  ([a-z][a-z0-9-]*) "));
    // "  -h, --help   Shows ...", "  --port <DEVICE>   Serial ...": the names before the
    // value or the gap.
    static const QRegularExpression optionLine(QStringLiteral("^  (-[^ ,<]+(?:, -[^ ,<]+)*)"));
    for (int i = overview.indexOf(QStringLiteral("Commands:")) + 1;
         i > 0 && i < overview.size() && !overview[i].isEmpty(); ++i) {
        CommandHelp command{commandLine.match(overview[i]).captured(1), {}};
        for (const QString &line : lustbus({command.name, QStringLiteral("--help")}).out.split(
                 QLatin1Char('\n'))) {
            const QRegularExpressionMatch option = optionLine.match(line);
            if (option.hasMatch())
                command.options += option.captured(1).split(QStringLiteral(", "));
        }
        // Every command lists -h and --help: the lines were read, the lists are whole.
        EXPECT_TRUE(command.options.contains(QStringLiteral("-h"))
                    && command.options.contains(QStringLiteral("--help")))
            << command.name.toStdString();
        commands.append(command);
    }
    EXPECT_GE(commands.size(), 8);
    return commands;
}

// The option as a word of its own, not as the start of a longer name.
bool showsOption(const QString &text, const QString &option)
{
    return text.contains(QRegularExpression(QStringLiteral("(?<![\\w-])")
                                            + QRegularExpression::escape(option)
                                            + QStringLiteral("(?![\\w-])")));
}

// The standard output of a tool that must succeed; its standard error in errors.
QString runTool(const QString &program, const QStringList &arguments,
                const QStringList &environment = {}, QString *errors = nullptr)
{
    const Result r = runProgram(program, arguments, 20000, environment);
    EXPECT_EQ(r.exitCode, 0) << program.toStdString() << ' ' << describe(r);
    if (errors)
        *errors = r.err;
    return r.out;
}

TEST(Documentation, TheManPageRendersEveryCommandAndOption)
{
    const QString man = QStandardPaths::findExecutable(QStringLiteral("man"));
    if (man.isEmpty())
        GTEST_SKIP() << "man is not installed (scripts/install-deps.sh installs man-db)";
    QString warnings;
    QString page = runTool(man, args("--warnings -E UTF-8 -l " LUSTBUS_MAN_PAGE),
                           args("MANWIDTH=100 LC_ALL=C.UTF-8"), &warnings);
    EXPECT_TRUE(warnings.isEmpty()) << warnings.toStdString();
    // Hyphens and minus signs as the terminal shows them, typed.
    page.replace(QChar(0x2010), QLatin1Char('-')).replace(QChar(0x2212), QLatin1Char('-'));
    EXPECT_TRUE(page.startsWith(QLatin1String("LUSTBUS(1)"))) << page.left(200).toStdString();
    EXPECT_TRUE(page.contains(QLatin1String("lustbus " LUSTBUS_PACKAGE_VERSION)));
    for (const char *section : {"OPTIONS", "COMMANDS", "ENVIRONMENT", "EXIT STATUS"})
        EXPECT_TRUE(page.contains(QStringLiteral("\n%1\n").arg(QLatin1String(section))))
            << section;
    EXPECT_TRUE(showsOption(page, QStringLiteral("--version")));

    // Each command's part runs from its usage line to the next one.
    const QList<CommandHelp> commands = commandsFromHelp();
    for (int i = 0; i < commands.size(); ++i) {
        const QString usage = QStringLiteral("lustbus %1 [options]").arg(commands[i].name);
        const int start = page.indexOf(usage);
        ASSERT_GE(start, 0) << usage.toStdString();
        const int end = i + 1 < commands.size()
                            ? page.indexOf(QStringLiteral("lustbus %1 [options]")
                                               .arg(commands[i + 1].name))
                            : page.indexOf(QLatin1String("\nENVIRONMENT\n"));
        const QString part = page.mid(start, end - start);
        for (const QString &option : commands[i].options)
            EXPECT_TRUE(option == QLatin1String("-h") || option == QLatin1String("--help")
                        || showsOption(part, option))
                << usage.toStdString() << ": " << option.toStdString();
    }
}

// What bash offers when the last of words is being completed, as bash would call the
// completion function.
QStringList bashCompletes(const QStringList &words)
{
    const QString script = QStringLiteral(
        "source \"$0\"; COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1)); "
        "$(complete -p lustbus | sed -n 's/^complete -F \\([^ ]*\\) lustbus$/\\1/p'); "
        "[ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\\n' \"${COMPREPLY[@]}\"");
    return runTool(QStringLiteral("bash"),
                   QStringList{QStringLiteral("-c"), script,
                               QStringLiteral(LUSTBUS_BASH_COMPLETION)} + words)
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// What bash offers runs through the function that the file registers for lustbus.
TEST(Documentation, BashCompletesEveryCommandAndOption)
{
    const QList<CommandHelp> commands = commandsFromHelp();
    const QStringList first = bashCompletes({QStringLiteral("lustbus"), QString()});
    for (const CommandHelp &command : commands) {
        EXPECT_TRUE(first.contains(command.name)) << command.name.toStdString();
        QStringList offered = bashCompletes({QStringLiteral("lustbus"), command.name,
                                             QStringLiteral("-")}),
                    options = command.options;
        offered.sort();
        options.sort();
        EXPECT_EQ(offered.join(QLatin1Char(' ')).toStdString(),
                  options.join(QLatin1Char(' ')).toStdString()) << command.name.toStdString();
    }
    for (const char *option : {"--help", "--version"})
        EXPECT_TRUE(first.contains(QLatin1String(option))) << option;

    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString plugin = directory.filePath(QStringLiteral("libdriver.so"));
    ASSERT_TRUE(QFile(plugin).open(QIODevice::WriteOnly));
    const struct { QStringList words, expected; } cases[] = {
        {{"lustbus", "wa"}, {"watch"}},
        {{"lustbus", "we"}, {"web"}},
        {{"lustbus", "web", "--add"}, {"--add-user"}},
        {{"lustbus", "help", "sc"}, {"scan"}},
        {{"lustbus", "read", "--ti"}, {"--timeout"}},
        {{"lustbus", "read", "--timeout", ""}, {}},           // a value of the user's own
        {{"lustbus", "read", "INT16:12", "--port", "/dev/tt"}, {"/dev/tty"}},
        {{"lustbus", "info", "--plugin", directory.filePath(QStringLiteral("libd"))}, {plugin}},
        {{"lustbus", "frobnicate", "-"}, {}},
    };
    for (const auto &c : cases) {
        const QStringList offered = bashCompletes(c.words);
        bool shown = c.expected.isEmpty() == offered.isEmpty();
        for (const QString &expected : c.expected)
            shown = shown && offered.contains(expected);
        EXPECT_TRUE(shown) << c.words.join(QLatin1Char(' ')).toStdString() << ": "
                           << offered.join(QLatin1Char(' ')).toStdString();
    }
}

// zsh completes on a real terminal: an interactive zsh on a zpty takes each line with a
// tab once its prompt shows (typed ahead, zsh would drop it), and what it lists comes
// before a marker that the next command line prints. Prompt and marker are spelled
// so that the echo of the typed lines does not show them.
QStringList zshListings(const QStringList &lines)
{
    QTemporaryDir directory;
    const QString functions = directory.filePath(QStringLiteral("functions"));
    QDir().mkpath(functions);
    QFile::copy(QStringLiteral(LUSTBUS_ZSH_COMPLETION), functions + QStringLiteral("/_lustbus"));
    QString driver = QStringLiteral(
                         "zmodload zsh/zpty\n"
                         "zpty z 'zsh -f -i'\n"
                         "zpty -w z 'PS1=\"=\"\"=ready==> \"; fpath=(%1 $fpath); "
                         "autoload -U compinit; "
                         "compinit -u -D; LISTMAX=100000; COLUMNS=200; lustbus() { }'\n")
                         .arg(functions);
    for (int i = 0; i < lines.size(); ++i)
        driver += QStringLiteral("zpty -r z out '*==ready==> '\n"
                                 "zpty -w -n z '%1'$'\\t'\n"
                                 "zpty -w z $'\\C-u' 'echo \"==listed\"\"-%2==\"'\n"
                                 "zpty -r z out '*==listed-%2==*'\n"
                                 "print -r -- \"$out\"\n")
                      .arg(lines[i])
                      .arg(i);
    driver += QStringLiteral("zpty -d z\n");
    QString output = runTool(QStringLiteral("zsh"), args("-f -c") << driver);
    output.remove(QRegularExpression(QStringLiteral("\x1b\\[[0-9;?]*[A-Za-z]")));
    QStringList listings;
    for (int i = 0; i < lines.size(); ++i) {
        const QString marker = QStringLiteral("==listed-%1==").arg(i);
        const int end = output.indexOf(marker);
        listings.append(output.left(end));
        output = output.mid(end + marker.size());
    }
    return listings;
}

TEST(Documentation, ZshCompletesEveryCommandAndOption)
{
    if (QStandardPaths::findExecutable(QStringLiteral("zsh")).isEmpty())
        GTEST_SKIP() << "zsh is not installed (scripts/install-deps.sh installs it)";
    const QList<CommandHelp> commands = commandsFromHelp();
    QStringList lines{QStringLiteral("lustbus ")};
    for (const CommandHelp &command : commands)
        lines.append(QStringLiteral("lustbus %1 -").arg(command.name));
    lines.append(QStringLiteral("lustbus read --ti"));
    const QStringList listings = zshListings(lines);
    ASSERT_EQ(listings.size(), lines.size());
    for (int i = 0; i < commands.size(); ++i) {
        EXPECT_TRUE(listings[0].contains(
            QRegularExpression(QStringLiteral("\\b%1\\s+-- ").arg(commands[i].name))))
            << commands[i].name.toStdString() << '\n' << listings[0].toStdString();
        for (const QString &option : commands[i].options)
            EXPECT_TRUE(showsOption(listings[i + 1], option))
                << commands[i].name.toStdString() << ": " << option.toStdString() << '\n'
                << listings[i + 1].toStdString();
    }
    EXPECT_TRUE(showsOption(listings.last(), QStringLiteral("--timeout")));
    EXPECT_FALSE(showsOption(listings.last(), QStringLiteral("--trace")));
}

} // namespace
