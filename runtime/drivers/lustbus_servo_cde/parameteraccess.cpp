// Typed reads, writes and bit accesses of servo parameters. The data type name of
// the address decides the conversion; the servo is never asked for a type.
#include "datatypes.h"
#include "driverlustbusservoccde.h"
#include "errortexts.h"
#include "tools/bytesandbits.h"

using namespace LustBus;
using namespace LustBus::ErrorText;

QByteArray DriverLustBusServoCCDE::fixPt16FromServo(const QByteArray &raw)
{
    if (raw.size() % 2 != 0) {
        setError(InvalidAddress);
        return QByteArray();
    }
    QByteArray host;
    host.reserve(raw.size() * 2);
    for (int at = 0; at < raw.size(); at += 2) {
        const quint16 r = quint16(quint8(raw[at]) << 8 | quint8(raw[at + 1]));
        host += Int32ToBytes(fixPt16HostValue(r));
    }
    return host;
}

QByteArray DriverLustBusServoCCDE::int32Q16FromServo(const QByteArray &raw)
{
    if (raw.size() % 4 != 0) {
        setError(InvalidAddress);
        return QByteArray();
    }
    QByteArray host = raw;
    SwapBytes32(host);
    for (int at = 0; at < host.size(); at += 4) {
        const qint32 q = qint32(BytesToUInt32(host.mid(at, 4)));
        host.replace(at, 4, Int32ToBytes(int32Q16HostValue(q)));
    }
    return host;
}

QByteArray DriverLustBusServoCCDE::readParameter(LinkDevice &link, DataType type,
                                                 quint16 parameter)
{
    bool ok = false;
    switch (type) {
    case DataType::Int32Q16: {
        const qint32 raw = m_transactions.queryParameterSigned(link, parameter, ok);
        return ok ? Int32ToBytes(int32Q16HostValue(raw)) : QByteArray();
    }
    case DataType::FixPt16: {
        const quint32 raw = m_transactions.queryParameterUnsigned(link, parameter, ok);
        return ok ? Int32ToBytes(fixPt16HostValue(raw)) : QByteArray();
    }
    default:
        // One value of any width, most significant byte first: reversed as a whole.
        // A simple read rejects no type name, STRING included.
        return ReverseBytes(m_transactions.queryParameterBytes(link, parameter));
    }
}

QByteArray DriverLustBusServoCCDE::readArrayParameter(LinkDevice &link, DataType type,
                                                      quint16 parameter, quint16 index,
                                                      quint8 byte_count)
{
    // Counted in telegram elements; a FIXPT16 element gives 4 host bytes.
    const auto query = [&](quint32 elements) {
        return m_transactions.queryArrayBytes(link, parameter, index, quint8(elements));
    };
    QByteArray raw;
    switch (type) {
    case DataType::Int32Q16:
        raw = query(NumOfBytesToNumOfDWords(byte_count));
        return raw.isEmpty() ? raw : int32Q16FromServo(raw);
    case DataType::FixPt16:
        raw = query(NumOfBytesToNumOfWords(byte_count));
        return raw.isEmpty() ? raw : fixPt16FromServo(raw);
    case DataType::String:
        return m_transactions.queryParameterText(link, parameter);
    case DataType::Float32:
    case DataType::USign32:
    case DataType::Int32:
        raw = query(NumOfBytesToNumOfDWords(byte_count));
        if (raw.isEmpty())
            return raw;
        if (raw.size() % 4 != 0) {
            setError(InvalidAddress);
            return QByteArray();
        }
        return SwapBytes32(raw);
    case DataType::USign16:
    case DataType::Int16:
        raw = query(NumOfBytesToNumOfWords(byte_count));
        if (raw.isEmpty())
            return raw;
        if (raw.size() % 2 != 0) {
            setError(InvalidAddress);
            return QByteArray();
        }
        return SwapBytes16(raw);
    case DataType::USign8:
    case DataType::Int8:
        return query(byte_count);
    case DataType::Unknown:
        break;
    }
    setError(InternalError);
    return QByteArray();
}

bool DriverLustBusServoCCDE::writeParameter(LinkDevice &link, DataType type,
                                            quint16 parameter, const QByteArray &data)
{
    // Every byte of the host data is sent; the servo judges the width.
    switch (type) {
    case DataType::Int32Q16:
        return m_transactions.storeParameter(link, parameter, int32Q16ToServo(data));
    case DataType::FixPt16:
        return m_transactions.storeParameter(link, parameter, fixPt16ToServo(data));
    case DataType::Float32:
    case DataType::USign32:
    case DataType::Int32:
        return m_transactions.storeParameter(link, parameter, ToBigEndian32(data));
    case DataType::USign16:
    case DataType::Int16:
        return m_transactions.storeParameter(link, parameter, ToBigEndian16(data));
    case DataType::USign8:
    case DataType::Int8:
        return m_transactions.storeParameter(link, parameter, data);
    case DataType::String: // texts go only through an address with an element index
    case DataType::Unknown:
        break;
    }
    setError(InternalError);
    return false;
}

bool DriverLustBusServoCCDE::writeArrayParameter(LinkDevice &link, DataType type,
                                                 quint16 parameter, quint16 index,
                                                 const QByteArray &data)
{
    // The element count comes from the converted bytes, modulo 256.
    QByteArray raw;
    switch (type) {
    case DataType::Int32Q16:
        raw = int32Q16ToServo(data);
        return m_transactions.storeArray(link, parameter, index, quint8(raw.size() / 4), raw);
    case DataType::String:
        return m_transactions.storeParameterText(link, parameter, data);
    case DataType::FixPt16:
        raw = fixPt16ToServo(data);
        return m_transactions.storeArray(link, parameter, index, quint8(raw.size() / 2), raw);
    case DataType::Float32:
    case DataType::USign32:
    case DataType::Int32:
        raw = ToBigEndian32(data);
        return m_transactions.storeArray(link, parameter, index, quint8(raw.size() / 4), raw);
    case DataType::USign16:
    case DataType::Int16:
        raw = ToBigEndian16(data);
        return m_transactions.storeArray(link, parameter, index, quint8(raw.size() / 2), raw);
    case DataType::USign8:
    case DataType::Int8:
        return m_transactions.storeArray(link, parameter, index, quint8(data.size()), data);
    case DataType::Unknown:
        break;
    }
    setError(InternalWriteError);
    return false;
}

QByteArray DriverLustBusServoCCDE::cutBits(QByteArray value, quint8 start_bit,
                                           quint8 num_of_bits)
{
    if (value.isEmpty())
        return value;
    if (NumOfBitsToNumOfBytes(start_bit, num_of_bits) > quint32(value.size())) {
        setError(InvalidAddress);
        return QByteArray();
    }
    ShiftBitsDown(value, start_bit);
    ResizeToBits(value, num_of_bits);
    ClearUnusedBits(value, num_of_bits);
    return value;
}

bool DriverLustBusServoCCDE::changeBits(QByteArray &value, quint8 start_bit,
                                        const QByteArray &bits, qint32 num_of_bits)
{
    // An empty value (nothing between "=" and ETX) is no failure: nothing to change.
    if (value.isEmpty())
        return false;
    if (NumOfBitsToNumOfBytes(start_bit, quint32(num_of_bits)) > quint32(value.size())) {
        setError(InvalidWritingAddress);
        return false;
    }
    for (qint32 i = 0; i < num_of_bits; ++i)
        SetBit(value, quint32(start_bit) + quint32(i), TestBit(bits, quint32(i)));
    return true;
}

QByteArray DriverLustBusServoCCDE::readParameterBits(LinkDevice &link, DataType type,
                                                     quint16 parameter, quint8 start_bit,
                                                     quint8 num_of_bits)
{
    return cutBits(readParameter(link, type, parameter), start_bit, num_of_bits);
}

QByteArray DriverLustBusServoCCDE::readArrayParameterBits(LinkDevice &link, DataType type,
                                                          quint16 parameter, quint16 index,
                                                          quint8 start_bit, quint8 num_of_bits)
{
    const quint32 bytes = NumOfBitsToNumOfBytes(start_bit, num_of_bits);
    return cutBits(readArrayParameter(link, type, parameter, index, quint8(bytes)), start_bit,
                   num_of_bits);
}

bool DriverLustBusServoCCDE::writeParameterBits(LinkDevice &link, DataType type,
                                                quint16 parameter, quint8 start_bit,
                                                const QByteArray &bits, qint32 num_of_bits)
{
    QByteArray value = readParameter(link, type, parameter);
    if (!changeBits(value, start_bit, bits, num_of_bits))
        return false;
    return writeParameter(link, type, parameter, value);
}

bool DriverLustBusServoCCDE::writeArrayParameterBits(LinkDevice &link, DataType type,
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
