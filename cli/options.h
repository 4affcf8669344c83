// The options of the commands. Those that several commands take are named here once;
// a command declares one with its own help text where it says it its own way (--json
// names what the command's object holds) and reads it by the same name. The link
// options are LinkOptions', the catalogue's CatalogueOption's.
#ifndef LUSTBUS_OPTIONS_H
#define LUSTBUS_OPTIONS_H

#include "requestaddress.h"

#include <QtCore/QCommandLineParser>

class OptionName
{
public:
    constexpr OptionName(const char *name, const char *valueName = nullptr)
        : m_name(name), m_valueName(valueName)
    {
    }

    QString name() const { return QString::fromLatin1(m_name); }
    // The option with a command's help text, and its own value name where it has one.
    QCommandLineOption with(const QString &description, const char *valueName = nullptr) const;
    bool isSet(const QCommandLineParser &parser) const { return parser.isSet(name()); }
    QString value(const QCommandLineParser &parser) const { return parser.value(name()); }
    QStringList values(const QCommandLineParser &parser) const { return parser.values(name()); }

private:
    const char *m_name;
    const char *m_valueName;
};

namespace Options {

constexpr OptionName Json{"json"};
constexpr OptionName Hex{"hex"};
constexpr OptionName Kind{"kind", "K"};
constexpr OptionName Count{"count", "N"};
constexpr OptionName Station{"station", "N"};
constexpr OptionName Force{"force"};
constexpr OptionName Stats{"stats"};
constexpr OptionName Plugin{"plugin", "PATH"};
constexpr OptionName RawAddress{"raw-address"};
constexpr OptionName Catalogue{"catalogue", "FILE"};

// --NAME and --NAME VALUE, for the options of one command.
QCommandLineOption flag(const char *name, const QString &description);
QCommandLineOption value(const char *name, const QString &description, const char *valueName);

// --raw-address, the same in read, write and watch, and the address check it picks.
QCommandLineOption rawAddress();
RequestAddress::TextCheck textCheck(const QCommandLineParser &parser);

// --plugin, for every command that loads the driver.
QCommandLineOption plugin();

} // namespace Options

#endif // LUSTBUS_OPTIONS_H
