// The value forms of read, write, watch and demo: what they print for the host data
// of an address, and what they take as a value to write.
#ifndef LUSTBUS_VALUEFORM_H
#define LUSTBUS_VALUEFORM_H

#include "requestaddress.h"

#include <QtCore/QJsonObject>

namespace ValueForm {

// The value text of host data read from address (bits, list, scalar or text).
QString valueText(const RequestAddress &address, const QByteArray &host);
// What read and watch print for a value: the value text, or with hex (or when the
// bytes are no whole elements) the host bytes as hex; asHex tells which.
QString shownText(const RequestAddress &address, const QByteArray &host, bool hex,
                  bool *asHex = nullptr);
// The "hex" and "value" members of a read's JSON object ("value" only where the bytes
// decode).
void insertJsonValue(const RequestAddress &address, const QByteArray &host,
                     QJsonObject *object);
// A STRING parameter reads as text only through an element address: false with the
// message for a usage error.
bool isReadable(const RequestAddress &address, bool hex, QString *error);

// VALUE as host data for address: hex bytes, bit digits (bits set to their count) or
// the data type's value form. False with error naming the bad part.
bool hostData(const RequestAddress &address, const QString &value, bool hex, QByteArray *host,
              int *bits, QString *error);

} // namespace ValueForm

#endif // LUSTBUS_VALUEFORM_H
