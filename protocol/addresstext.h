// The address texts the host names servo parameters with.
//
//   value form (kinds 1 to 5)   TYPE:PARAM  TYPE:PARAM:INDEX  TYPE:PARAM:INDEX:EXTRA
//   bit form (kinds 0 and 6)    TYPE:PARAM.BIT  TYPE:PARAM:INDEX.BIT
//
// Parts are split at every ':' (empty parts count). TYPE is looked up in the data type
// table without regard to case; an empty or other name gives Unknown. PARAM, INDEX and
// EXTRA are decimal as QString::toInt reads them (sign and surrounding blanks allowed);
// EXTRA must be a number but is not used. "PARAM.BIT" and "INDEX.BIT" are scanned like
// sscanf "%d.%d": leading blanks and signs are accepted and anything after the second
// number is ignored. A negative INDEX means no element index.
#ifndef LUSTBUS_ADDRESSTEXT_H
#define LUSTBUS_ADDRESSTEXT_H

#include "datatypes.h"

#include <QtCore/QString>

namespace LustBus {

struct ParameterAddress
{
    DataType type = DataType::Unknown;
    int parameter = -1;
    int index = -1; //!< -1 when the text has none
    int bit = -1;   //!< bit form only
};

bool parseParameterAddress(const QString &text, ParameterAddress &address);
bool parseBitAddress(const QString &text, ParameterAddress &address);

} // namespace LustBus

#endif // LUSTBUS_ADDRESSTEXT_H
