// One lustbus command: its help, its options and what it does. The command table
// parses the command line with the options a command declares and calls run() only
// with a parser that holds no unknown option and the right number of arguments.
#ifndef LUSTBUS_COMMAND_H
#define LUSTBUS_COMMAND_H

#include <QtCore/QCommandLineParser>
#include <QtCore/QJsonObject>
#include <QtCore/QString>
#include <QtCore/QStringList>

class Command
{
public:
    struct Argument
    {
        QString name;        //!< ADDRESS, VALUE
        QString description;
        bool repeatable = false; //!< the last argument only: one or more of it (ADDRESS...)
        bool optional = false;   //!< the last argument only: it may be left out ([B])
    };
    // What --help, the overview and the man page say of a command.
    struct Help
    {
        QString name;
        QString summary;     //!< one line for the command list
        QString description; //!< the paragraph under the usage line
        QString epilogue;    //!< notes and examples after the options
        QList<Argument> arguments;
    };

    explicit Command(Help help) : m_help(std::move(help)) {}
    virtual ~Command() = default;

    const QString &name() const { return m_help.name; }
    const QString &summary() const { return m_help.summary; }
    const QString &description() const { return m_help.description; }
    const QString &epilogue() const { return m_help.epilogue; }
    const QList<Argument> &arguments() const { return m_help.arguments; }
    virtual QList<QCommandLineOption> options() const = 0;
    virtual int run(const QCommandLineParser &parser) = 0;

    // "-h", "--help": the names of an option as they are typed.
    static QStringList spelledNames(const QCommandLineOption &option);

    // The value of --NAME as a whole number from min to max; an option not given leaves
    // *value as it is. False with "bad --NAME 'TEXT': ..." in *error otherwise.
    static bool wholeNumberOption(const QCommandLineParser &parser, const char *name, qint64 min,
                                  qint64 max, qint64 *value, QString *error);
    // The same for a text from elsewhere (an environment variable): source names it in
    // "bad SOURCE 'TEXT': ...".
    static bool wholeNumber(const QString &source, const QString &text, qint64 min, qint64 max,
                            qint64 *value, QString *error);
    // A station id from source ("--station", "LUSTBUS_STATION"), in the codec's range.
    static bool stationId(const QString &source, const QString &text, int *station,
                          QString *error);
    // Every --station given, each once, in the order given.
    static bool stationIds(const QCommandLineParser &parser, QList<int> *stations,
                           QString *error);

    // Prints "lustbus NAME: message" and a pointer to --help; returns ExitUsageError.
    int usageError(const QString &message) const;
    // Prints "lustbus NAME: message" without the pointer; returns status.
    int failure(int status, const QString &message) const;
    // Once Console::writeError() tells of a failed write: "lustbus NAME: cannot write
    // to standard output: <why>" and ExitOutputError, or nothing and ExitOutputClosed
    // when the reader of a pipe went away. Says it once, however often it is called.
    int writeFailure() const { return writeFailure(QStringLiteral("lustbus ") + name()); }
    static int writeFailure(const QString &program);

    // With --json, every outcome is one JSON object on stdout, failures included:
    // usageError and failure then also print {"error": message, "exit": status} with
    // the fields known so far (address, kind, count, ...). The command table switches
    // this on from the command line, before the command's own checks run.
    bool hasJsonOption() const;
    void setJsonOutput(bool on) { m_jsonOutput = on; }
    void addJsonFields(const QJsonObject &fields);
    // One JSON object as a line on stdout, flushed.
    static void printJson(const QJsonObject &object);

private:
    void printJsonFailure(int status, const QString &message) const;

    Help m_help;
    bool m_jsonOutput = false;
    QJsonObject m_jsonFields;
};

#endif // LUSTBUS_COMMAND_H
