#include "parameteraccess.h"

#include "errortexts.h"
#include "tools/bytesandbits.h"

namespace LustBus {

using namespace ErrorText;

QByteArray ParameterAccess::readParameter(LinkDevice &link, DataType type, quint16 parameter)
{
    const DataTypeInfo &info = dataTypeInfo(type);
    if (!info.isScaled()) {
        // One value of any width, most significant byte first: reversed as a whole.
        // A simple read rejects no type name, STRING included.
        return ReverseBytes(m_transactions.queryParameterBytes(link, parameter));
    }
    // The reply's number, read as the servo's signed or unsigned 32 bits.
    bool ok = false;
    const qint64 raw = info.signedRaw
        ? qint64(m_transactions.queryParameterSigned(link, parameter, ok))
        : qint64(m_transactions.queryParameterUnsigned(link, parameter, ok));
    return ok ? Int32ToBytes(scaledHostValue(info, raw)) : QByteArray();
}

QByteArray ParameterAccess::readArrayParameter(LinkDevice &link, DataType type,
                                               quint16 parameter, quint16 index,
                                               quint8 byte_count)
{
    const DataTypeInfo &info = dataTypeInfo(type);
    if (info.form == HostForm::Text)
        return m_transactions.queryParameterText(link, parameter);
    if (!info.isNumber()) {
        m_errors.set(InternalError);
        return QByteArray();
    }
    const int width = info.telegramWidth;
    const quint8 elements = quint8((quint32(byte_count) + quint32(width) - 1) / quint32(width));
    QByteArray data = m_transactions.queryArrayBytes(link, parameter, index, elements);
    if (data.isEmpty())
        return data;
    if (!telegramToHost(info, data)) {
        m_errors.set(InvalidAddress);
        return QByteArray();
    }
    return data;
}

bool ParameterAccess::writeParameter(LinkDevice &link, DataType type, quint16 parameter,
                                     const QByteArray &data)
{
    const DataTypeInfo &info = dataTypeInfo(type);
    // Texts go only through an address with an element index.
    if (!info.isNumber()) {
        m_errors.set(InternalError);
        return false;
    }
    // Every byte of the host data is sent; the servo judges the width.
    return m_transactions.storeParameter(link, parameter, hostToTelegram(info, data));
}

bool ParameterAccess::writeArrayParameter(LinkDevice &link, DataType type, quint16 parameter,
                                          quint16 index, const QByteArray &data)
{
    const DataTypeInfo &info = dataTypeInfo(type);
    if (info.form == HostForm::Text)
        return m_transactions.storeParameterText(link, parameter, data);
    if (!info.isNumber()) {
        m_errors.set(InternalWriteError);
        return false;
    }
    // The element count comes from the converted bytes, modulo 256.
    const QByteArray raw = hostToTelegram(info, data);
    return m_transactions.storeArray(link, parameter, index,
                                     quint8(raw.size() / info.telegramWidth), raw);
}

QByteArray ParameterAccess::cutBits(QByteArray value, quint8 start_bit,
                                           quint8 num_of_bits)
{
    if (value.isEmpty())
        return value;
    if (NumOfBitsToNumOfBytes(start_bit, num_of_bits) > quint32(value.size())) {
        m_errors.set(InvalidAddress);
        return QByteArray();
    }
    ShiftBitsDown(value, start_bit);
    ResizeToBits(value, num_of_bits);
    ClearUnusedBits(value, num_of_bits);
    return value;
}

bool ParameterAccess::changeBits(QByteArray &value, quint8 start_bit,
                                        const QByteArray &bits, qint32 num_of_bits)
{
    // An empty value (nothing between "=" and ETX) is no failure: nothing to change.
    if (value.isEmpty())
        return false;
    if (NumOfBitsToNumOfBytes(start_bit, quint32(num_of_bits)) > quint32(value.size())) {
        m_errors.set(InvalidWritingAddress);
        return false;
    }
    for (qint32 i = 0; i < num_of_bits; ++i)
        SetBit(value, quint32(start_bit) + quint32(i), TestBit(bits, quint32(i)));
    return true;
}

QByteArray ParameterAccess::readParameterBits(LinkDevice &link, DataType type,
                                                     quint16 parameter, quint8 start_bit,
                                                     quint8 num_of_bits)
{
    return cutBits(readParameter(link, type, parameter), start_bit, num_of_bits);
}

QByteArray ParameterAccess::readArrayParameterBits(LinkDevice &link, DataType type,
                                                          quint16 parameter, quint16 index,
                                                          quint8 start_bit, quint8 num_of_bits)
{
    const quint32 bytes = NumOfBitsToNumOfBytes(start_bit, num_of_bits);
    return cutBits(readArrayParameter(link, type, parameter, index, quint8(bytes)), start_bit,
                   num_of_bits);
}

bool ParameterAccess::writeParameterBits(LinkDevice &link, DataType type,
                                                quint16 parameter, quint8 start_bit,
                                                const QByteArray &bits, qint32 num_of_bits)
{
    QByteArray value = readParameter(link, type, parameter);
    if (!changeBits(value, start_bit, bits, num_of_bits))
        return false;
    return writeParameter(link, type, parameter, value);
}

bool ParameterAccess::writeArrayParameterBits(LinkDevice &link, DataType type,
                                                     quint16 parameter, quint16 index,
                                                     quint8 start_bit, const QByteArray &bits,
                                                     qint32 num_of_bits)
{
    const quint32 bytes = NumOfBitsToNumOfBytes(start_bit, quint32(num_of_bits));
    QByteArray value = readArrayParameter(link, type, parameter, index, quint8(bytes));
    if (!changeBits(value, start_bit, bits, num_of_bits))
        return false;
    // Every element that the read returned goes back.
    return writeArrayParameter(link, type, parameter, index, value);
}

} // namespace LustBus
