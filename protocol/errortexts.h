// Every message the driver reports through its error text. The host shows them as
// they stand; a failed request gets them marked once as "read ADDRESS> message" or
// "write ADDRESS> message".
#ifndef LUSTBUS_ERRORTEXTS_H
#define LUSTBUS_ERRORTEXTS_H

#include <QtCore/QString>

namespace LustBus {
namespace ErrorText {

// Exchanges on the link.
inline const QString NoResponse = QStringLiteral("no response");
inline const QString InvalidResponse = QStringLiteral("invalid response from servo");
inline const QString InvalidStation = QStringLiteral("invalid station id from servo");
inline const QString InvalidParameter = QStringLiteral("invalid param no.");
inline const QString ChecksumError = QStringLiteral("checksum error");
inline const QString UnknownFormat = QStringLiteral("unknown format from servo");
// Refused before anything is sent: a station id outside 0 to 63, and a value or text
// that does not fit into one telegram.
inline const QString StationOutOfRange = QStringLiteral("invalid station id");
inline const QString ValueTooLong = QStringLiteral("value too long for telegram");

// Addresses and data types.
inline const QString InvalidAddress = QStringLiteral("invalid address");
inline const QString InvalidWriteAddress = QStringLiteral("invalid write address");
inline const QString InvalidWritingAddress = QStringLiteral("invalid writing address");
inline const QString InternalReadError = QStringLiteral("internal read error");
inline const QString InternalError = QStringLiteral("internal error");
inline const QString InternalWriteError = QStringLiteral("internal write error");
// A bit write whose data holds fewer bytes than its bit count needs.
inline const QString TooFewBits = QStringLiteral("bit data shorter than bit count");

// The message of a marked error text, without its "read ADDRESS> " or "write ADDRESS> ":
// what statistics count and callers compare with the texts above. An unmarked text
// is its own message.
inline QString messageOf(const QString &errorText)
{
    const int mark = errorText.lastIndexOf(QLatin1String("> "));
    return mark < 0 ? errorText : errorText.mid(mark + 2);
}

} // namespace ErrorText
} // namespace LustBus

#endif // LUSTBUS_ERRORTEXTS_H
