// The link options of read, write, scan and watch, and what they say once parsed:
//
//   --port DEVICE     a serial port (/dev/ttyUSB0); the line from --settings
//   --tcp HOST:PORT   a TCP serial device server
//   --sim             the built-in simulated servo (never without being asked for: a
//                     script that forgot --port must not read a simulated value)
//   --settings TEXT   serial line, "RS485,57600,EVEN,7,1" by default (the driver's)
//   --station N       station id 0 to 63        (default: the driver's, 1)
//   --timeout MS      wait for a reply           (default: the driver's, 500)
//   --retries N       repeats of a failed request (default: the driver's, 3)
//   --delay MS        pause before every attempt (default: the driver's, 0)
//   --inter-byte-timeout MS  gap allowed inside a reply (default: the link's, 0 off)
//   --echo            the adapter hears its own transmission: check and drop the echo
//   --rs485           the kernel's RS485 mode on the serial port (RTS while sending),
//                     with --rts-delay-before MS and --rts-delay-after MS
//   --reconnect-interval MS  least time between reopens of a vanished device
//                     (default 1000, 0 never)
//   --trace           every telegram on stderr
//   --stats           per-station link statistics after the command
//   --plugin PATH     the driver plugin file
//
// LUSTBUS_PORT, LUSTBUS_TCP, LUSTBUS_SETTINGS and LUSTBUS_STATION in the environment
// stand for --port, --tcp, --settings and --station where those are not given; an
// empty variable counts as unset.
#ifndef LUSTBUS_LINKOPTIONS_H
#define LUSTBUS_LINKOPTIONS_H

#include "protocolsettings.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QList>
#include <QtCore/QProcessEnvironment>
#include <QtCore/QString>

class LinkOptions
{
public:
    enum Target { NoLink, Simulator, Serial, Tcp };

    static QList<QCommandLineOption> options();
    // The plugin option alone, for commands without a link (info).
    static QCommandLineOption pluginOption();
    // "LUSTBUS_PORT ..." lines for the help texts.
    static QString environmentNotes();
    // The usage error of a command that was given no link (target NoLink).
    static QString noLinkError();

    // Defaults come from the driver, loaded after the command line was read: the
    // fields given on it (or in the environment) are kept in given*, the others are
    // filled by applyDefaults. Without stationUsed, --station and LUSTBUS_STATION are
    // not read (scan tries every station).
    static bool fromParser(const QCommandLineParser &parser,
                           const QProcessEnvironment &environment, bool stationUsed,
                           LinkOptions *options, QString *error);
    void applyDefaults(const ProtocolSettings &driverDefaults, const QString &settingsText);

    // "HOST:PORT" or, when hostOptional, "PORT" alone (host 127.0.0.1).
    static bool parseEndpoint(const QString &text, bool hostOptional, QString *host,
                              quint16 *port, QString *error);

    Target target = NoLink;
    QString device;
    QString host;
    quint16 port = 0;
    QString settingsText;
    ProtocolSettings protocol;
    int interByteTimeoutMs = -1; //!< -1: the link's own default
    bool localEcho = false;
    bool rs485 = false;
    int rtsDelayBeforeMs = 0;
    int rtsDelayAfterMs = 0;
    int reconnectIntervalMs = 1000;
    bool trace = false;
    bool stats = false;
    QString pluginPath;

    bool settingsGiven = false;
    bool stationGiven = false;
    bool timeoutGiven = false;
    bool retriesGiven = false;
    bool delayGiven = false;
};

#endif // LUSTBUS_LINKOPTIONS_H
