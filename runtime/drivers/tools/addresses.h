// Sizes and kinds of a host address. Kinds: 0 and 6 bits, 1 and 5 bytes, 2 16-bit,
// 3 32-bit and 4 64-bit elements; the count counts bits or elements.
#ifndef TOOLS_ADDRESSES_H
#define TOOLS_ADDRESSES_H

#include <QtCore/QByteArray>

class DataAddress;

// The byte size of count elements of the address's kind (0 for an unknown kind), as
// its low 32 bits taken as a signed number: huge counts wrap, possibly to 0 or below.
qint32 addressByteCount(const DataAddress &address);

// The bytes cut or zero-padded at the end to addressByteCount(address); a size that
// wrapped below 0 gives an empty array.
QByteArray fitToAddressSize(const DataAddress &address, const QByteArray &bytes);

bool IsBitAddress(const DataAddress &address);    //!< kind 0
bool IsByteAddress(const DataAddress &address);   //!< kind 1
bool IsWordAddress(const DataAddress &address);   //!< kind 2
bool IsDWordAddress(const DataAddress &address);  //!< kind 3
bool IsStringAddress(const DataAddress &address); //!< kind 5

#endif // TOOLS_ADDRESSES_H
