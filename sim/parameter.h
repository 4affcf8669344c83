// One servo parameter as the simulator keeps it: number, data type, read-only flag and
// its value in telegram order (each element most significant byte first), or its text.
#ifndef LUSTBUSSIM_PARAMETER_H
#define LUSTBUSSIM_PARAMETER_H

#include "datatypes.h"

#include <QtCore/QByteArray>
#include <QtCore/QVector>

namespace LustBusSim {

// The driver's table: a parameter's element is telegramWidth bytes of the servo's raw
// number (0 for a STRING, which has no elements).
using LustBus::DataType;

class Parameter
{
public:
    Parameter() = default;
    // Raw values are the servo's own numbers: twentieths for FIXPT16, 16 fraction bits
    // for INT32Q16, the bit pattern for FLOAT32. Only the element's width is kept.
    static Parameter simple(quint16 number, DataType type, qint64 raw, bool readOnly = false);
    static Parameter array(quint16 number, DataType type, const QVector<qint64> &raw,
                           bool readOnly = false);
    static Parameter text(quint16 number, const QByteArray &text, bool readOnly = false);

    quint16 number = 0;
    DataType type = DataType::USign8;
    bool readOnly = false;
    bool isArray = false; //!< reached by "70" telegrams; simple ones by "20"
    QByteArray data;      //!< telegram order; the characters for STRING

    int elementCount() const; //!< 1 for a simple value or a text
    qint64 raw(int index = 0) const; //!< sign-extended for the signed types
    void setRaw(int index, qint64 raw);
    // The value in the servo's units: FIXPT16 raw / 20, INT32Q16 raw / 65536, FLOAT32
    // as a float, the integer types as they are.
    double real(int index = 0) const;
    // The raw value nearest to a value in the servo's units.
    static qint64 rawFromReal(DataType type, double value);
};

bool operator==(const Parameter &a, const Parameter &b);

} // namespace LustBusSim

#endif // LUSTBUSSIM_PARAMETER_H
