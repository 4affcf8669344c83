// The checks of the JSON that lustbus web takes: a request body is one object, and a
// field of the wrong type is named in the 400 reply.
#ifndef LUSTBUS_WEBJSON_H
#define LUSTBUS_WEBJSON_H

#include "webbus.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonObject>
#include <QtCore/QStringList>

namespace WebJson {

WebBus::Reply error(int status, const QString &text);
// The body as one object; false with the 400 reply.
bool object(const std::string &body, QJsonObject *object, WebBus::Reply *refusal);
// "station" of object, default the bus's first; false with 400 (not a whole number)
// or 404 (not one of the bus's).
bool station(const QJsonObject &object, const WebBus &bus, int *station, WebBus::Reply *refusal);
// A text, a list of texts (at most max) or an object that must be there.
bool text(const QJsonObject &object, const char *field, QString *value, WebBus::Reply *refusal);
bool names(const QJsonObject &object, const char *field, int max, QStringList *names,
           WebBus::Reply *refusal);
// Names that the bus resolves, else 404 with the first that it does not (400 when the
// text is no address).
bool entries(const WebBus &bus, const QStringList &names, QList<LustBus::CatalogueEntry> *entries,
             WebBus::Reply *refusal);

} // namespace WebJson

#endif // LUSTBUS_WEBJSON_H
