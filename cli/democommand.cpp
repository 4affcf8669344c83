// lustbus demo: a short tour of the driver against the built-in simulator on a
// pseudo-terminal, every telegram traced.
#include "commands.h"
#include "console.h"
#include "linkcommand.h"
#include "options.h"
#include "requestaddress.h"
#include "tracinglink.h"
#include "valueform.h"
#include "valuetext.h"

namespace {

// Trace lines go to standard output under the step they belong to.
void printTrace(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (qstrcmp(context.category, "lustbus.trace") == 0) {
        Console::out() << "    " << message << '\n';
        return;
    }
    Console::out().flush();
    Console::err() << qFormatLogMessage(type, context, message) << Qt::endl;
}

void heading(const QString &text)
{
    Console::out() << '\n' << text << '\n';
}

const char Description[] =
    "Starts the built-in simulated servo (station 1) on a pseudo-terminal, opens it\n"
    "with the serial link as a real port, and shows the driver: its identity, a read\n"
    "of every data type, a write read back, a bit write, and a parameter that the\n"
    "servo does not have. Every telegram is traced: '>' sent, '<' received.";

class DemoCommand : public LinkCommand
{
public:
    DemoCommand()
        : LinkCommand({"demo", "a traced tour of the driver on the built-in simulator",
                       Description, QString(), {}})
    {
    }

    QList<QCommandLineOption> options() const override { return {Options::plugin()}; }
    int run(const QCommandLineParser &parser) override;

protected:
    // A short tour: Ctrl-C ends it at any time, as signals do by default.
    int signalsToEnd() const override { return 0; }

private:
    bool read(const QString &text, const QString &count = QString());
    bool write(const QString &text, const QString &value);
    int m_failures = 0;
};

bool DemoCommand::read(const QString &text, const QString &count)
{
    if (Console::writeError() != 0)
        return false; // nobody reads on: the remaining steps only run out
    RequestAddress address;
    QString error;
    if (!RequestAddress::resolve(text, QString(), count, &address, &error)) {
        Console::out() << "  " << error << '\n';
        ++m_failures;
        return false;
    }
    heading(QStringLiteral("read %1  (kind %2, count %3)").arg(text).arg(qint32(address.kind)).arg(address.count));
    const QByteArray host = driver().read(link(), address.dataAddress());
    if (driver().hasError()) {
        Console::out() << "  error: " << driver().errorText() << '\n';
        return false;
    }
    Console::out() << "  = " << ValueForm::valueText(address, host) << "   (host bytes "
                   << ValueText::toHex(host) << ")\n";
    return true;
}

bool DemoCommand::write(const QString &text, const QString &value)
{
    if (Console::writeError() != 0)
        return false;
    RequestAddress address;
    QByteArray host;
    int bits = 0;
    QString error;
    if (!RequestAddress::resolve(text, QString(), QString(), &address, &error)
        || !ValueForm::hostData(address, value, false, &host, &bits, &error)
        || !address.adoptValue(host.size(), bits, &error)) {
        Console::out() << "  " << error << '\n';
        ++m_failures;
        return false;
    }
    heading(QStringLiteral("write %1 %2  (kind %3, count %4)")
                .arg(text, value)
                .arg(qint32(address.kind))
                .arg(address.count));
    const int written = driver().write(link(), address.dataAddress(), host);
    if (driver().hasError() || !written) {
        Console::out() << "  error: " << driver().errorText() << '\n';
        ++m_failures;
        return false;
    }
    Console::out() << "  acknowledged\n";
    return true;
}

int DemoCommand::run(const QCommandLineParser &parser)
{
    int status = ExitSuccess;
    m_options.target = LinkOptions::Simulator;
    m_options.pluginPath = Options::Plugin.value(parser);
    m_options.trace = true;
    qSetMessagePattern(QStringLiteral("%{message}"));
    const QtMessageHandler previous = qInstallMessageHandler(printTrace);
    if (!openLink(&status)) {
        qInstallMessageHandler(previous);
        return status;
    }
    Console::out() << "The driver, loaded as a host loads it:\n" << m_plugin.report()
                   << "\nLink: " << m_factory.description() << ", station "
                   << m_options.protocol.stationid << ", time-out " << m_options.protocol.timeout
                   << " ms, " << m_options.protocol.retry << " retries.\n";

    heading(QStringLiteral("== Every data type"));
    for (const char *address : {"INT8:10", "USIGN8:11", "INT16:12", "USIGN16:13", "INT32:14",
                                "USIGN32:15", "FLOAT32:16", "FIXPT16:17", "STRING:19:0"}) {
        if (!read(QString::fromLatin1(address)))
            ++m_failures;
    }
    if (!read(QStringLiteral("INT32Q16:104:1"), QStringLiteral("3"))
        || !read(QStringLiteral("INT16:101:0"), QStringLiteral("4")))
        ++m_failures;

    heading(QStringLiteral("== A write, read back"));
    write(QStringLiteral("INT16:12"), QStringLiteral("-321"));
    if (!read(QStringLiteral("INT16:12")))
        ++m_failures;

    heading(QStringLiteral("== A bit write: bits 0 to 3 of USIGN8:11 (200 = 00010011 lowest "
                           "first) become 1010; the driver reads the value and writes it back"));
    write(QStringLiteral("USIGN8:11.0"), QStringLiteral("1010"));
    if (!read(QStringLiteral("USIGN8:11")) || !read(QStringLiteral("USIGN8:11.0"), QStringLiteral("8")))
        ++m_failures;

    heading(QStringLiteral("== A parameter the servo does not have: it answers NAK, the driver "
                           "repeats the request %1 times and reports").arg(m_options.protocol.retry));
    if (read(QStringLiteral("INT16:999")))
        ++m_failures; // the servo must refuse it
    if (Console::writeError() != 0) {
        qInstallMessageHandler(previous);
        return writeFailure();
    }

    Console::out() << '\n'
                   << (m_failures == 0 ? "Demo complete." : "Demo finished with unexpected results.")
                   << '\n';
    Console::out().flush();
    qInstallMessageHandler(previous);
    return m_failures == 0 ? ExitSuccess : ExitDriverError;
}

} // namespace

std::unique_ptr<Command> Commands::demo()
{
    return std::make_unique<DemoCommand>();
}
