#include "linkcommand.h"

#include "catalogueoption.h"
#include "console.h"
#include "exitstatus.h"
#include "linkbusaccess.h"
#include "linkdiagnostics.h"
#include "options.h"
#include "parametertable.h"
#include "protocolsettings.h"
#include "streamlink.h"

#include <csignal>
#include <memory>

bool LinkCommand::readLinkOptions(const QCommandLineParser &parser, int *status)
{
    QString error;
    if (!LinkOptions::fromParser(parser, QProcessEnvironment::systemEnvironment(), linkUses(),
                                 &m_options, &error)) {
        *status = usageError(error);
        return false;
    }
    return true;
}

bool LinkCommand::readCatalogue(const QCommandLineParser &parser, bool required, int *status)
{
    QString error;
    if (!CatalogueOption::load(parser, QProcessEnvironment::systemEnvironment(), &m_catalogue,
                               &m_hasCatalogue, &error)) {
        *status = usageError(error);
        return false;
    }
    if (required && !m_hasCatalogue) {
        *status = usageError(CatalogueOption::missingError());
        return false;
    }
    return true;
}

bool LinkCommand::readCatalogueFor(const QCommandLineParser &parser,
                                   const QStringList &addresses, int *status)
{
    bool named = false;
    for (const QString &address : addresses)
        named = named || !address.contains(QLatin1Char(':'));
    if (Options::RawAddress.isSet(parser) || (!named && !Options::Catalogue.isSet(parser)))
        return true;
    return readCatalogue(parser, false, status);
}

bool LinkCommand::openLink(int *status)
{
    if (m_options.target == LinkOptions::NoLink) {
        *status = usageError(LinkOptions::noLinkError());
        return false;
    }
    if (!m_plugin.load(m_options.pluginPath)) {
        *status = failure(environmentStatus(), m_plugin.errorString());
        return false;
    }
    std::unique_ptr<ProtocolSettings> defaults(driver().defaultProtocolSettings());
    m_options.applyDefaults(*defaults, driver().defaultSettingsText());
    if (m_hasCatalogue)
        m_factory.setSimulatorTable(LustBusSim::ParameterTable::fromCatalogue(m_catalogue));
    QString error;
    if (!m_factory.open(m_options, &error)) {
        *status = failure(environmentStatus(), error);
        return false;
    }
    m_guard = std::make_unique<RequestGuard>(*m_plugin.driver(), *m_factory.streamLink(),
                                             m_options.keepTrying);
    // Until here a signal ends the program as it always does; from here on a request
    // waiting on the line must give up first.
    if (signalsToEnd() > 0) {
        m_stop = std::make_unique<StopSignals>(signalsToEnd());
        m_factory.streamLink()->setInterrupt(&m_stop->interrupt());
    }
    return true;
}

std::unique_ptr<LinkBusAccess> LinkCommand::busAccess()
{
    auto bus = std::make_unique<LinkBusAccess>(driver(), link(), m_factory.streamLink(),
                                               m_options.protocol, m_catalogue.fileName(),
                                               requestHook());
    bus->setGuard(m_guard.get());
    return bus;
}

std::unique_ptr<IdentityCheck> LinkCommand::identityCheck()
{
    return std::make_unique<IdentityCheck>(
        busAccess(), m_options.protocol.stationid, m_factory.description(),
        *m_factory.streamLink(), *m_guard,
        m_hasCatalogue ? DriveIdentity::entries(m_catalogue) : QList<LustBus::CatalogueEntry>());
}

int LinkCommand::signalExit(int status) const
{
    const char *signalName = status == ExitSignalBase + SIGTERM ? "SIGTERM" : "SIGINT";
    return failure(status, QStringLiteral("ended by %1").arg(QLatin1String(signalName)));
}

void LinkCommand::finishRequest()
{
    if (DiagnosticLink *diagnostic = m_factory.diagnosticLink())
        diagnostic->finishRequest(driver().hasError(), driver().errorText());
}

void LinkCommand::printStatistics()
{
    if (const LinkDiagnostics *diagnostics = m_factory.diagnostics())
        Console::err() << "lustbus " << name() << ": link statistics, " << m_factory.description()
                       << '\n'
                       << diagnostics->toText() << Qt::flush;
}

QJsonObject LinkCommand::statisticsJson() const
{
    if (const LinkDiagnostics *diagnostics = m_factory.diagnostics())
        return diagnostics->toJson();
    return QJsonObject();
}

void LinkCommand::insertStatistics(QJsonObject *object) const
{
    if (m_options.stats)
        object->insert(QStringLiteral("stats"), statisticsJson());
}

void LinkCommand::reportStatistics(bool json)
{
    QJsonObject stats;
    insertStatistics(&stats);
    addJsonFields(stats);
    if (!json)
        printStatistics();
}
