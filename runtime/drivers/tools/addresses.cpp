#include "addresses.h"

#include "addresskind.h"
#include "driverinterface.h"

using LustBus::AddressKind;

qint32 addressByteCount(const DataAddress &address)
{
    quint64 bytes = 0;
    if (LustBus::isBitKind(address.kind)) {
        // What a bit read returns: the bytes that hold count bits. The host's byteSize
        // gives 1 for kind 6 and for kind 0 without bits instead; the driver never asks
        // it for a bit kind.
        bytes = address.count / 8 + (address.count % 8 != 0);
    } else if (LustBus::isValueKind(address.kind)) {
        // The host's own rule, not that of a subclass.
        bytes = address.DataAddress::byteSize();
    }
    return qint32(quint32(bytes & 0xFFFFFFFFu));
}

QByteArray fitToAddressSize(const DataAddress &address, const QByteArray &bytes)
{
    const qint32 size = addressByteCount(address);
    if (size <= 0)
        return QByteArray();
    if (bytes.size() >= size)
        return bytes.left(size);
    QByteArray fitted = bytes;
    fitted.append(size - int(bytes.size()), '\0');
    return fitted;
}

namespace {

bool isKind(const DataAddress &address, AddressKind kind)
{
    return address.kind == qint32(kind);
}

} // namespace

bool IsBitAddress(const DataAddress &address) { return isKind(address, AddressKind::Bits); }
bool IsByteAddress(const DataAddress &address) { return isKind(address, AddressKind::Bytes); }
bool IsWordAddress(const DataAddress &address) { return isKind(address, AddressKind::Words); }
bool IsDWordAddress(const DataAddress &address) { return isKind(address, AddressKind::DWords); }
bool IsStringAddress(const DataAddress &address) { return isKind(address, AddressKind::String); }
