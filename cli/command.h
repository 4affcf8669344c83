// One lustbus command: its options, its help and what it does. The command table
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
    virtual ~Command() = default;

    virtual QString name() const = 0;
    virtual QString summary() const = 0;         //!< one line for the command list
    virtual QString description() const = 0;     //!< the paragraph under the usage line
    struct Argument
    {
        QString name;        //!< ADDRESS, VALUE
        QString description;
        bool repeatable = false; //!< the last argument only: one or more of it (ADDRESS...)
        bool optional = false;   //!< the last argument only: it may be left out ([B])
    };
    virtual QList<Argument> arguments() const { return {}; }
    virtual QString epilogue() const { return QString(); } //!< notes and examples
    virtual QList<QCommandLineOption> options() const = 0;
    virtual int run(const QCommandLineParser &parser) = 0;

    // "-h", "--help": the names of an option as they are typed.
    static QStringList spelledNames(const QCommandLineOption &option);
    // --NAME VALUE with its help text.
    static QCommandLineOption valueOption(const char *name, const char *description,
                                          const char *valueName);

    // The value of --NAME as a whole number from min to max; an option not given leaves
    // *value as it is. False with "bad --NAME 'TEXT': ..." in *error otherwise.
    static bool wholeNumberOption(const QCommandLineParser &parser, const char *name, qint64 min,
                                  qint64 max, qint64 *value, QString *error);
    // The same for a text from elsewhere (an environment variable): source names it in
    // "bad SOURCE 'TEXT': ...".
    static bool wholeNumber(const QString &source, const QString &text, qint64 min, qint64 max,
                            qint64 *value, QString *error);

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

private:
    void printJsonFailure(int status, const QString &message) const;

    bool m_jsonOutput = false;
    QJsonObject m_jsonFields;
};

#endif // LUSTBUS_COMMAND_H
