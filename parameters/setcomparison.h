// What differs between two parameter sets, compared by name: a value (an array element
// by element), a parameter only one side has or that a side could not read (both
// sides too), one whose number, type or elements differ between the sides.
#ifndef LUSTBUS_SETCOMPARISON_H
#define LUSTBUS_SETCOMPARISON_H

#include "parameterset.h"

#include <QtCore/QJsonObject>

class SetComparison
{
public:
    struct Difference
    {
        QString where; //!< "speed_setpoint", "gains[3]"
        QString a;     //!< "-1234 rpm", "\"LUST CDE SIM\"", "(not in the set)", "(read ...)"
        QString b;
        QJsonObject json; //!< name, index, unit, a and b (values), aError, bError
    };

    static QList<Difference> compare(const ParameterSet &a, const ParameterSet &b);

    // "speed_setpoint: -1234 rpm -> 1500 rpm"
    static QString line(const Difference &difference);
};

#endif // LUSTBUS_SETCOMPARISON_H
