// A drive's parameter catalogue: one JSON file that names and describes the drive's
// parameters for the tools and gives the simulator its table (see docs/catalogue.md).
//
//   { "drive": "CDE sample", "version": 1,
//     "parameters": [
//       { "name": "speed_setpoint", "number": 12, "type": "INT16", "unit": "rpm",
//         "access": "rw", "min": -3000, "max": 3000, "description": "...",
//         "value": -1234 },
//       { "name": "gains", "number": 101, "type": "INT16", "elements": 8,
//         "value": [0, -1, 2, -3, 4, -5, 6, -7] } ] }
//
// Every entry is checked; the first fault refuses the whole file with a message that
// names the file, the entry (index and name) and the cause: an unknown key, a bad or
// duplicate name or number, an unknown type, a bad range, a value that does not fit its
// type or lies outside the range, an "identity" on an array or a parameter with write
// access, a STRING start text longer than one telegram carries.
#ifndef LUSTBUS_CATALOGUE_H
#define LUSTBUS_CATALOGUE_H

#include "catalogueentry.h"

#include <QtCore/QJsonValue>
#include <QtCore/QList>
#include <QtCore/QString>

namespace LustBus {

class Catalogue
{
public:
    // What a file is for. The tools read and write through a catalogue: every entry has
    // a name, and a simple INT32Q16 has a "min" of 0 or more, as the driver cannot read
    // it below 0. A simulator's table only serves its values: names are optional, and
    // any value of the type goes.
    enum class Use { Tools, Simulator };

    // "catalogue \"PATH\": ..." in error when the file does not open or is refused.
    static bool load(const QString &path, Catalogue *catalogue, QString *error);
    // source starts every message ("parameter table", "catalogue \"PATH\"").
    static bool fromJson(const QByteArray &json, const QString &source, Use use,
                         Catalogue *catalogue, QString *error);

    const CatalogueEntry *find(const QString &name) const;

    // The JSON checks that parameter sets share with catalogues: a parameter name
    // ([A-Za-z_][A-Za-z0-9_]*), and a whole number from min to max.
    static bool isName(const QString &text);
    static bool isWholeNumber(const QJsonValue &json, double min, double max,
                              double *value = nullptr);

    QString drive;
    int version = 0;
    QString path;   //!< the file it came from, as given
    QString sha256; //!< of the file's bytes, lower-case hex: which catalogue made a set
    QList<CatalogueEntry> entries; //!< in the file's order

    QString fileName() const; //!< the path's last part
};

} // namespace LustBus

#endif // LUSTBUS_CATALOGUE_H
