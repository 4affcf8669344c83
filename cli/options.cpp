#include "options.h"

QCommandLineOption OptionName::with(const QString &description, const char *valueName) const
{
    const char *shownValue = valueName ? valueName : m_valueName;
    return QCommandLineOption(name(), description,
                              shownValue ? QString::fromLatin1(shownValue) : QString());
}

namespace Options {

QCommandLineOption flag(const char *name, const QString &description)
{
    return OptionName(name).with(description);
}

QCommandLineOption value(const char *name, const QString &description, const char *valueName)
{
    return OptionName(name, valueName).with(description);
}

QCommandLineOption rawAddress()
{
    return RawAddress.with(
        "Hands ADDRESS to the driver unchanged, to see what the driver itself makes of it: no "
        "check of the data type name, blanks, characters after the bit number, or --count on "
        "a simple parameter.");
}

RequestAddress::TextCheck textCheck(const QCommandLineParser &parser)
{
    return RawAddress.isSet(parser) ? RequestAddress::TextCheck::Raw
                                    : RequestAddress::TextCheck::Strict;
}

QCommandLineOption plugin()
{
    return Plugin.with("The driver plugin file. Default: the installed one (the program of a "
                       "build tree takes its own tree's plugin first).");
}

} // namespace Options
