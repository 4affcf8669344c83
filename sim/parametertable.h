// The parameters of one simulated servo, by number. A built-in default table covers
// every data type; a catalogue can replace it (see catalogue.h and docs/catalogue.md).
// The simulator's own tables are catalogues whose entries need no names:
//
//   { "parameters": [
//       { "number": 12,  "type": "INT16",   "value": -1234 },
//       { "number": 17,  "type": "FIXPT16", "value": 1.25 },
//       { "number": 19,  "type": "STRING",  "value": "LUST CDE SIM" },
//       { "number": 101, "type": "INT16",   "value": [1, -2, 3] },
//       { "number": 20,  "type": "USIGN32", "value": 65539, "access": "ro" } ] }
//
// "value" is the start value in the servo's units (FIXPT16 and INT32Q16 as decimals,
// rounded to the nearest twentieth or 1/65536); "access": "ro" (or the older
// "readOnly": true) makes a parameter answer writes with NAK.
#ifndef LUSTBUSSIM_PARAMETERTABLE_H
#define LUSTBUSSIM_PARAMETERTABLE_H

#include "catalogue.h"
#include "parameter.h"

#include <QtCore/QList>
#include <QtCore/QMap>

namespace LustBusSim {

class ParameterTable
{
public:
    // Number  type      value
    //   10    INT8      -100
    //   11    USIGN8    200
    //   12    INT16     -1234
    //   13    USIGN16   0xABCD
    //   14    INT32     -123456
    //   15    USIGN32   0xDEADBEEF
    //   16    FLOAT32   1.5
    //   17    FIXPT16   1.25 (raw 25)
    //   18    INT32Q16  -2.5 (raw -163840)
    //   19    STRING    "LUST CDE SIM"
    //   20    USIGN32   0x00010203, read-only (firmware version)
    //   21    STRING    "CDE", read-only
    //  100    USIGN8    array of 16: 0, 1, ... 15
    //  101    INT16     array of 8: 0, -1, 2, -3, ... -7
    //  102    INT32     array of 8: 100000 * i
    //  103    FIXPT16   array of 4: raw 20, 40, 60, 80 (1.00 to 4.00)
    //  104    INT32Q16  array of 4: raw 65536 * i (0.00 to 3.00)
    //  105    FLOAT32   array of 4: 0.5, 1.5, 2.5, 3.5
    //  106    USIGN16   array of 4, read-only: 0x1111 * (i + 1)
    // 1000    INT16     4660 (0x1234): a number of four digits
    // 1100    USIGN8    array of 300: i mod 256, for element counts of three digits
    static ParameterTable defaultTable();
    // The catalogue's parameters with their start values; "ro" ones read-only.
    static ParameterTable fromCatalogue(const LustBus::Catalogue &catalogue);
    // false with error naming the entry and the cause; table unchanged then.
    static bool fromJson(const QByteArray &json, ParameterTable *table, QString *error);
    static bool fromJson(const QByteArray &json, const QString &source, ParameterTable *table,
                         QString *error);
    static bool load(const QString &path, ParameterTable *table, QString *error);
    QByteArray toJson() const;

    const Parameter *find(quint16 number) const;
    Parameter *find(quint16 number);
    void insert(const Parameter &parameter); //!< replaces one of the same number
    bool remove(quint16 number);
    QList<Parameter> parameters() const { return m_parameters.values(); }
    int size() const { return int(m_parameters.size()); }

private:
    QMap<quint16, Parameter> m_parameters;
};

} // namespace LustBusSim

#endif // LUSTBUSSIM_PARAMETERTABLE_H
