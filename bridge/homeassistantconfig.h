// The Home Assistant discovery configs of the bridge's parameters, made from the
// catalogue entry, the station and the bridge's topics alone:
//
//   PREFIX/COMPONENT/NODE_ID/OBJECT_ID/config   retained; NODE_ID from the bridge's
//                                               prefix and bus, OBJECT_ID STATION_NAME
//                                               (STATION_NAME_BIT for a named bit)
//
// A number is a "sensor" (with its unit and state_class "measurement"), or a "number"
// that writes through its .../NAME/set topic when it is "rw" and writes are allowed;
// a text a "sensor"; each named bit a "binary_sensor", or a "switch" that writes
// through .../NAME/BIT/set. An array has no entity: HA keeps a state of 255 characters
// at most, and its list stays on the value topic. Every entity reads the value topic,
// belongs to its station's device and is available while both the bus and the
// station say "online".
#ifndef LUSTBUS_HOMEASSISTANTCONFIG_H
#define LUSTBUS_HOMEASSISTANTCONFIG_H

#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QString>

namespace LustBus {
class Catalogue;
struct CatalogueEntry;
}
class DriveIdentity;

class HomeAssistantConfig
{
public:
    struct Node
    {
        QString discoveryPrefix = QStringLiteral("homeassistant");
        QString prefix = QStringLiteral("lustbus"); //!< the bridge's --prefix
        QString bus;
        bool allowWrites = false;
        QString version; //!< the program's, for "origin"

        QString base() const { return prefix + QLatin1Char('/') + bus; }
        // The prefix and bus as one discovery level: [a-zA-Z0-9_-] only.
        QString nodeId() const;
    };
    struct Config
    {
        QString topic;
        QJsonObject payload;
    };

    // The HA device of the drive at station: identified by the node, the station and
    // the drive's identity (so two alike drives differ, and another drive is another
    // device), its model from the catalogue, sw_version and serial_number from identity
    // values whose names say so.
    static QJsonObject device(const Node &node, const LustBus::Catalogue &catalogue,
                              int station, const DriveIdentity &identity);
    // The configs of entry at station, the parameter's own first, then one per bit;
    // none for an array.
    static QList<Config> configs(const Node &node, const LustBus::CatalogueEntry &entry,
                                 int station, const QJsonObject &device);
    // The config topics alone, for what a run publishes (device does not change them).
    static QStringList topics(const Node &node, const LustBus::CatalogueEntry &entry, int station);
};

#endif // LUSTBUS_HOMEASSISTANTCONFIG_H
