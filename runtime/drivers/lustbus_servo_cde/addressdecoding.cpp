// The per-kind operations of the request cycle: decode the address text and call the
// typed access. A text that does not decode sends nothing.
#include "addresstext.h"
#include "driverlustbusservoccde.h"
#include "errortexts.h"
#include "tools/addresses.h"
#include "tools/bytesandbits.h"

using namespace LustBus;
using namespace LustBus::ErrorText;

QByteArray DriverLustBusServoCCDE::readValue(LinkDevice &link, const DataAddress &address)
{
    ParameterAddress target;
    if (!parseParameterAddress(address.text, target)) {
        setError(InvalidAddress);
        return QByteArray();
    }
    if (target.parameter < 0) {
        setError(InternalReadError);
        return QByteArray();
    }
    const quint16 parameter = quint16(target.parameter);
    if (target.index < 0) {
        const QByteArray value = readParameter(link, target.type, parameter);
        return value.isEmpty() ? value : fitToAddressSize(address, value);
    }
    // An element read is not fitted: the servo's element width decides its size.
    const quint8 byteCount = quint8(address.byteSize());
    return readArrayParameter(link, target.type, parameter, quint16(target.index), byteCount);
}

int DriverLustBusServoCCDE::writeValue(LinkDevice &link, const QString &address_text,
                                       const QByteArray &data)
{
    ParameterAddress target;
    if (!parseParameterAddress(address_text, target)) {
        setError(InvalidWriteAddress);
        return 0;
    }
    if (target.parameter < 0) {
        setError(InternalReadError);
        return 0;
    }
    const quint16 parameter = quint16(target.parameter);
    if (target.index < 0)
        return writeParameter(link, target.type, parameter, data);
    return writeArrayParameter(link, target.type, parameter, quint16(target.index), data);
}

QByteArray DriverLustBusServoCCDE::readBitRange(LinkDevice &link, const DataAddress &address)
{
    ParameterAddress target;
    if (!parseBitAddress(address.text, target)) {
        setError(InvalidAddress);
        return QByteArray();
    }
    if (target.parameter < 0 || target.bit < 0) {
        setError(InternalReadError);
        return QByteArray();
    }
    const quint16 parameter = quint16(target.parameter);
    const quint8 bit = quint8(target.bit);
    const quint8 bits = quint8(address.count);
    if (target.index < 0)
        return readParameterBits(link, target.type, parameter, bit, bits);
    return readArrayParameterBits(link, target.type, parameter, quint16(target.index), bit,
                                  bits);
}

int DriverLustBusServoCCDE::writeBitRange(LinkDevice &link, const QString &address_text,
                                          const QByteArray &bits, qint32 num_of_bits)
{
    // bits.size() >= (int)NumOfBitsToNumOfBytes(0, num_of_bits): reported, not asserted,
    // so that a host's short data cannot take its process down. A negative bit count
    // needs more bytes than any array holds.
    if (bits.size() < int(NumOfBitsToNumOfBytes(0, quint32(num_of_bits)))) {
        setError(TooFewBits);
        return 0;
    }
    ParameterAddress target;
    if (!parseBitAddress(address_text, target)) {
        setError(InvalidWritingAddress);
        return 0;
    }
    if (target.parameter < 0 || target.bit < 0) {
        setError(InternalReadError);
        return 0;
    }
    const quint16 parameter = quint16(target.parameter);
    const quint8 bit = quint8(target.bit);
    if (target.index < 0)
        return writeParameterBits(link, target.type, parameter, bit, bits, num_of_bits);
    return writeArrayParameterBits(link, target.type, parameter, quint16(target.index), bit,
                                   bits, num_of_bits);
}
