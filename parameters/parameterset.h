// A drive's parameter set, as backup writes it and diff and restore read it:
//
//   { "format": "lustbus parameter set", "version": 1,
//     "drive": "CDE sample", "catalogue": "sample.json", "catalogueSha256": "9f2c...",
//     "station": 1, "link": "serial /dev/pts/3 (RS485,57600,NONE,8,1)",
//     "time": "2026-12-06T19:27:06Z", "complete": false,
//     "identity": { "drive_type": "CDE", "firmware_version": 66051 },
//     "parameters": [
//       { "name": "speed_setpoint", "number": 12, "type": "INT16", "unit": "rpm",
//         "value": -1234 },
//       { "name": "gains", "number": 101, "type": "INT16", "elements": 8,
//         "value": [0, -1, 2, -3, 4, -5, 6, -7] },
//       { "name": "drive_name", "number": 19, "type": "STRING",
//         "error": "read STRING:19:0> no response" } ] }
//
// Values in their typed form, as read --json prints them; a parameter that could not be
// read has the driver's error text instead, and the set is then not complete. time is
// UTC, ISO 8601. identity is the drive's, as backup read it before the first value
// (see DriveIdentity); a set without it (none could be read, or an older set) is
// restored all the same. A file is checked whole: a fault names the file, the entry and the
// cause. ("error" and "exit" at the top, which backup --json adds on a failure, are
// not part of the set and are passed over.)
#ifndef LUSTBUS_PARAMETERSET_H
#define LUSTBUS_PARAMETERSET_H

#include "catalogue.h"
#include "driveidentity.h"

#include <QtCore/QByteArray>
#include <QtCore/QJsonObject>
#include <QtCore/QList>
#include <QtCore/QString>

class ParameterSet
{
public:
    struct Value
    {
        QString name;
        quint16 number = 0;
        LustBus::DataType type = LustBus::DataType::Unknown;
        int elements = 0; //!< 0: a simple parameter
        QString unit;
        QByteArray host; //!< the value's host data; empty with an error
        QString error;   //!< the driver's text when it could not be read

        bool isArray() const { return elements > 0; }
        // Whether it describes the same parameter as entry: number, type, elements.
        bool matches(const LustBus::CatalogueEntry &entry) const;
        // "-1234 rpm", "0, -1, 2 s", "\"LUST CDE SIM\"" (host given, or the value's own).
        QString text(const QByteArray &other) const;
        QString text() const { return text(host); }
        QJsonObject toJson() const;
    };

    // The description of entry, without a value.
    static Value describe(const LustBus::CatalogueEntry &entry);

    static bool load(const QString &path, ParameterSet *set, QString *error);
    static bool fromJson(const QByteArray &json, const QString &source, ParameterSet *set,
                         QString *error);
    QJsonObject toJson() const;

    const Value *find(const QString &name) const;
    bool complete() const;
    // Empty when the set was made with catalogue (by its SHA-256), else a message that
    // names both.
    QString catalogueMismatch(const LustBus::Catalogue &catalogue) const;

    QString drive;
    QString catalogue;       //!< the catalogue's file name
    QString catalogueSha256; //!< of the catalogue's bytes
    int station = 0;
    QString link;
    QString time;
    DriveIdentity identity; //!< empty when the set holds none
    QList<Value> values;
    QString path; //!< the file it came from, as given
};

#endif // LUSTBUS_PARAMETERSET_H
