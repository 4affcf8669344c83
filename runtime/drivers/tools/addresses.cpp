#include "addresses.h"

#include "driverinterface.h"

qint32 addressByteCount(const DataAddress &address)
{
    const quint64 count = address.count;
    quint64 bytes = 0;
    switch (address.kind) {
    case 0:
    case 6: bytes = count / 8 + (count % 8 != 0); break;
    case 1:
    case 5: bytes = count; break;
    case 2: bytes = 2 * count; break;
    case 3: bytes = 4 * count; break;
    case 4: bytes = 8 * count; break;
    default: break;
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

bool IsBitAddress(const DataAddress &address) { return address.kind == 0; }
bool IsByteAddress(const DataAddress &address) { return address.kind == 1; }
bool IsWordAddress(const DataAddress &address) { return address.kind == 2; }
bool IsDWordAddress(const DataAddress &address) { return address.kind == 3; }
bool IsStringAddress(const DataAddress &address) { return address.kind == 5; }
