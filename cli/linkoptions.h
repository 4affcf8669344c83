// The link options of read, write, scan and watch, and what they say once parsed:
//
//   --port DEVICE     a serial port (/dev/ttyUSB0); the line from --settings
//   --tcp HOST:PORT   a TCP serial device server
//   (neither)         the built-in simulated servo
//   --settings TEXT   serial line, "RS485,57600,EVEN,7,1" by default (the driver's)
//   --station N       station id 0 to 63        (default: the driver's, 1)
//   --timeout MS      wait for a reply           (default: the driver's, 500)
//   --retries N       repeats of a failed request (default: the driver's, 3)
//   --delay MS        pause before every attempt (default: the driver's, 0)
//   --inter-byte-timeout MS  gap allowed inside a reply (default: the link's, 0 off)
//   --echo            the adapter hears its own transmission: check and drop the echo
//   --reconnect-interval MS  least time between reopens of a vanished device
//                     (default 1000, 0 never)
//   --trace           every telegram on stderr
//   --stats           per-station link statistics after the command
//   --plugin PATH     the driver plugin file
#ifndef LUSTBUS_LINKOPTIONS_H
#define LUSTBUS_LINKOPTIONS_H

#include "protocolsettings.h"

#include <QtCore/QCommandLineParser>
#include <QtCore/QList>
#include <QtCore/QString>

class LinkOptions
{
public:
    enum Target { Simulator, Serial, Tcp };

    static QList<QCommandLineOption> options();
    // The plugin option alone, for commands without a link (info).
    static QCommandLineOption pluginOption();

    // Defaults come from the driver, loaded after the command line was read: the
    // fields given on it are kept in given*, the others are filled by applyDefaults.
    static bool fromParser(const QCommandLineParser &parser, LinkOptions *options,
                           QString *error);
    void applyDefaults(const ProtocolSettings &driverDefaults, const QString &settingsText);

    // "HOST:PORT" or, when hostOptional, "PORT" alone (host 127.0.0.1).
    static bool parseEndpoint(const QString &text, bool hostOptional, QString *host,
                              quint16 *port, QString *error);

    Target target = Simulator;
    QString device;
    QString host;
    quint16 port = 0;
    QString settingsText;
    ProtocolSettings protocol;
    int interByteTimeoutMs = -1; //!< -1: the link's own default
    bool localEcho = false;
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
