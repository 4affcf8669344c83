// A command that talks to servos over a link: read, write, scan, watch, list, backup,
// restore and diff. It reads the link options (and the catalogue), loads the driver,
// takes the driver's defaults for what was not given and opens the link.
#ifndef LUSTBUS_LINKCOMMAND_H
#define LUSTBUS_LINKCOMMAND_H

#include "catalogue.h"
#include "command.h"
#include "driverplugin.h"
#include "exitstatus.h"
#include "identitycheck.h"
#include "linkbusaccess.h"
#include "linkfactory.h"
#include "linkoptions.h"
#include "requestguard.h"
#include "stopsignals.h"

#include <QtCore/QJsonObject>

#include <functional>
#include <memory>

class LinkCommand : public Command
{
public:
    using Command::Command;

protected:
    // What the command takes of the link options besides the link (LinkOptions::Use).
    virtual int linkUses() const { return LinkOptions::AllUses; }
    // The exit status when the plugin does not load or the link does not open.
    virtual int environmentStatus() const { return ExitEnvironment; }

    // Step 1, before anything is loaded: false after a usage error (status set).
    bool readLinkOptions(const QCommandLineParser &parser, int *status);
    // Step 1 too: the catalogue of --catalogue or LUSTBUS_CATALOGUE; false after a
    // usage error (status set), also when required and none is given.
    bool readCatalogue(const QCommandLineParser &parser, bool required, int *status);
    // For read, write and watch: the catalogue when --catalogue is given or an address
    // is a name; LUSTBUS_CATALOGUE is not read for numeric addresses alone, as other
    // variables are read only where they are used.
    bool readCatalogueFor(const QCommandLineParser &parser, const QStringList &addresses,
                          int *status);
    const LustBus::Catalogue *catalogue() const
    {
        return m_hasCatalogue ? &m_catalogue : nullptr;
    }

    // Step 2: loads the plugin and opens the link; false with the status to return,
    // a usage error when no link was named. --sim serves the catalogue's parameters
    // when there is one.
    bool openLink(int *status);

    // How many SIGINT or SIGTERM end the program at once once the link is open (see
    // StopSignals); 0: the signals keep their default, which ends it at any time.
    virtual int signalsToEnd() const { return 1; }
    // After a driver call: whether the signal that ends the program at once came; the
    // command then returns signalExit(): "ended by SIGINT" (with --json as the object)
    // and 128 + that signal.
    bool endedBySignal() const { return m_stop && m_stop->endNow(); }
    int signalExit() const { return signalExit(m_stop->exitStatus()); }
    int signalExit(int status) const;

    // The driver; once the link is open, behind the RequestGuard that every request of
    // the command passes.
    DriverInterface &driver() const
    {
        return m_guard ? static_cast<DriverInterface &>(*m_guard) : *m_plugin.driver();
    }
    RequestGuard &requestGuard() { return *m_guard; }
    LinkDevice &link() { return m_factory.link(); }

    // After openLink: the bus as the parameter sets use it, on the station of the
    // options, behind the request guard.
    std::unique_ptr<LinkBusAccess> busAccess();
    // After openLink: the identity check of the station through the catalogue's identity
    // entries (none without a catalogue).
    std::unique_ptr<IdentityCheck> identityCheck();

    // With --stats, after every driver read or write: the driver's verdict goes into
    // the statistics. Without it, nothing happens.
    void finishRequest();
    // For CatalogueAccess: finishRequest(), then whether to go on (no signal came).
    std::function<bool()> requestHook()
    {
        return [this] {
            finishRequest();
            return !endedBySignal();
        };
    }
    // With --stats: the table on stderr, after a line that names the link.
    void printStatistics();
    // With --stats: {"stations": [...]}; an empty object without.
    QJsonObject statisticsJson() const;
    // With --stats: that object as the "stats" of object. Without, nothing.
    void insertStatistics(QJsonObject *object) const;
    // At the end: with --json the statistics go into the command's object (a failure's
    // too), without it on stderr.
    void reportStatistics(bool json);

    LinkOptions m_options;
    LustBus::Catalogue m_catalogue;
    bool m_hasCatalogue = false;
    DriverPlugin m_plugin;
    std::unique_ptr<StopSignals> m_stop; //!< from openLink on; outlives the link
    LinkFactory m_factory;
    std::unique_ptr<RequestGuard> m_guard; //!< from openLink on
};

#endif // LUSTBUS_LINKCOMMAND_H
