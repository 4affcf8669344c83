// The kinds of a host address (DataAddress::kind): how the host sees the data of a
// request. The numbers are the host's and fixed. The count of an address counts bits
// for the two bit kinds and elements of the kind's width otherwise. The driver treats
// the value kinds 1 to 5 alike and the bit kinds alike; any other number is no kind.
//
// Header only: the host's tools module uses it without linking the protocol core.
#ifndef LUSTBUS_ADDRESSKIND_H
#define LUSTBUS_ADDRESSKIND_H

#include <QtCore/QtGlobal>

namespace LustBus {

enum class AddressKind : qint32 {
    Bits = 0,   //!< bits; address text in the bit form
    Bytes = 1,  //!< 8-bit elements
    Words = 2,  //!< 16-bit elements
    DWords = 3, //!< 32-bit elements
    QWords = 4, //!< 64-bit elements
    String = 5, //!< bytes of a text
    MoreBits = 6, //!< bits, as kind 0
};

constexpr AddressKind MaxAddressKind = AddressKind::MoreBits;

constexpr bool isBitKind(qint32 kind)
{
    return kind == qint32(AddressKind::Bits) || kind == qint32(AddressKind::MoreBits);
}

constexpr bool isValueKind(qint32 kind)
{
    return kind >= qint32(AddressKind::Bytes) && kind <= qint32(AddressKind::String);
}

constexpr bool isBitKind(AddressKind kind) { return isBitKind(qint32(kind)); }

} // namespace LustBus

#endif // LUSTBUS_ADDRESSKIND_H
