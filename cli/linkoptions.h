// The link options of the commands that talk to servos, and what they say once parsed:
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
//                     (default 1000, 0 never); requests between wait, at most their
//                     time-out
//   --keep-trying     keeps asking a station that left two requests in a row without
//                     a response (by default the rest of the run's requests to it are
//                     not sent)
//   --trace           every telegram on stderr
//   --stats           per-station link statistics after the command
//   --plugin PATH     the driver plugin file
//
// LUSTBUS_PORT, LUSTBUS_TCP, LUSTBUS_SETTINGS and LUSTBUS_STATION in the environment
// stand for --port, --tcp, --settings and --station where those are not given; an
// empty variable counts as unset. LUSTBUS_CATALOGUE (--catalogue) goes the same way,
// see catalogueoption.h.
#ifndef LUSTBUS_LINKOPTIONS_H
#define LUSTBUS_LINKOPTIONS_H

#include "protocolsettings.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QList>
#include <QtCore/QProcessEnvironment>
#include <QtCore/QString>

#include <initializer_list>

class LinkOptions
{
public:
    enum Target { NoLink, Simulator, Serial, Tcp };

    // What a command takes besides the link and its time-outs: read, write and watch
    // all of it; scan picks the stations itself; the gateway passes its clients'
    // requests on as they come and leaves station, repeats and statistics to them; the
    // bridge keeps polling a silent station at its own pace.
    enum Use { Station = 0x1, Attempts = 0x2 /* --retries, --delay */, Statistics = 0x4,
               KeepTrying = 0x8,
               AllUses = Station | Attempts | Statistics | KeepTrying };

    // An option that a command explains its own way: its help text, or none to hide
    // it from the help (an option the command takes only to refuse it).
    struct Retold
    {
        const char *name;
        const char *description; //!< nullptr: hidden
    };
    static QList<QCommandLineOption> options(int uses = AllUses,
                                             std::initializer_list<Retold> retold = {});
    // The usage error of a command that was given no link (target NoLink).
    static QString noLinkError();

    // Defaults come from the driver, loaded after the command line was read: the
    // fields given on it (or in the environment) are kept in given*, the others are
    // filled by applyDefaults. Options outside uses are not read (without Station,
    // LUSTBUS_STATION neither: scan tries every station).
    static bool fromParser(const QCommandLineParser &parser,
                           const QProcessEnvironment &environment, int uses,
                           LinkOptions *options, QString *error);
    void applyDefaults(const ProtocolSettings &driverDefaults, const QString &settingsText);

    // Where a setting comes from: --OPTION when given, else the environment variable
    // (an empty one counts as unset); source is "--port", "LUSTBUS_PORT" or empty.
    struct Setting
    {
        QString source;
        QString text;
        bool given() const { return !source.isEmpty(); }
    };
    static Setting setting(const QCommandLineParser &parser,
                           const QProcessEnvironment &environment, const char *option,
                           const char *variable);

    // "HOST:PORT" or, when hostOptional, "PORT" alone (host 127.0.0.1); "[::1]:PORT"
    // for an IPv6 address. Port 0 (any free one) only for a server, with portZero.
    static bool parseEndpoint(const QString &text, bool hostOptional, QString *host,
                              quint16 *port, QString *error, bool portZero = false);

    Target target = NoLink;
    QString device;
    QString host;
    quint16 port = 0;
    QString settingsText;
    ProtocolSettings protocol;
    int interByteTimeoutMs = -1; //!< -1: the link's own default (not given)
    bool localEcho = false;
    bool rs485 = false;
    int rtsDelayBeforeMs = 0;
    int rtsDelayAfterMs = 0;
    int reconnectIntervalMs = 1000;
    bool trace = false;
    bool stats = false;
    bool keepTrying = false;
    QString pluginPath;

    bool settingsGiven = false;
    bool stationGiven = false;
    bool timeoutGiven = false;
    bool retriesGiven = false;
    bool delayGiven = false;

private:
    // The parts of fromParser: the link, the serial line and station, the numbers.
    bool readTarget(const QCommandLineParser &parser, const QProcessEnvironment &environment,
                    QString *error);
    bool readLine(const QCommandLineParser &parser, const QProcessEnvironment &environment,
                  int uses, QString *error);
    bool readNumbers(const QCommandLineParser &parser, int uses, QString *error);
};

#endif // LUSTBUS_LINKOPTIONS_H
