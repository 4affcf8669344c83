#include "datatypes.h"

#include "tools/bytesandbits.h"

#include <cmath>
#include <limits>

namespace LustBus {

namespace {

// In the order of DataType, Unknown last.
const DataTypeInfo dataTypes[] = {
    {DataType::Int8, "INT8", 1, 1, true, 1, 1, -128, 127, 1},
    {DataType::USign8, "USIGN8", 1, 1, false, 1, 1, 0, 255, 1},
    {DataType::Int16, "INT16", 2, 2, true, 2, 2, -32768, 32767, 1},
    {DataType::USign16, "USIGN16", 2, 2, false, 2, 2, 0, 65535, 1},
    {DataType::Int32, "INT32", 4, 4, true, 3, 3, -2147483648LL, 2147483647, 1},
    {DataType::USign32, "USIGN32", 4, 4, false, 3, 3, 0, 4294967295LL, 1},
    {DataType::Float32, "FLOAT32", 4, 4, false, 3, 3, 0, 4294967295LL, 1},
    {DataType::FixPt16, "FIXPT16", 2, 4, false, 3, 2, 0, 327675, 20},
    {DataType::Int32Q16, "INT32Q16", 4, 4, true, 3, 3, -3276800, 3276799, 65536},
    {DataType::String, "STRING", 0, 1, false, 5, 5, 0, 255, 1},
    {DataType::Unknown, "", 0, 0, false, 1, 1, 0, 0, 1},
};

// The rounding of every scaling: add 0.5, truncate toward zero.
double roundedUp(double value)
{
    return std::trunc(value + 0.5);
}

qint32 littleEndianInt32(const char *bytes)
{
    return qint32(BytesToUInt32(QByteArray::fromRawData(bytes, 4)));
}

} // namespace

qint64 DataTypeInfo::rawMin() const
{
    return signedRaw ? -(qint64(1) << (8 * telegramWidth - 1)) : 0;
}

qint64 DataTypeInfo::rawMax() const
{
    return telegramWidth == 0 ? 0 : (qint64(1) << (8 * telegramWidth - int(signedRaw))) - 1;
}

DataType dataTypeFromName(QStringView name)
{
    for (const DataTypeInfo &entry : dataTypes) {
        const QLatin1String entryName(entry.name);
        // The length test first: a case-blind compare costs more than a miss needs.
        if (entry.type != DataType::Unknown && name.size() == entryName.size()
            && name.compare(entryName, Qt::CaseInsensitive) == 0)
            return entry.type;
    }
    return DataType::Unknown;
}

const DataTypeInfo &dataTypeInfo(DataType type)
{
    const int at = int(type);
    return dataTypes[at >= 0 && at <= int(DataType::Unknown) ? at : int(DataType::Unknown)];
}

const char *dataTypeName(DataType type)
{
    return dataTypeInfo(type).name;
}

qint32 fixPt16HostValue(quint32 raw)
{
    // At most 5 * (2^32 - 1): exact in a double and in 64 bits.
    return qint32(quint32(qint64(roundedUp(double(raw) * 100.0 / 20.0))));
}

qint32 int32Q16HostValue(qint32 raw)
{
    // |raw| * 100 / 65536 stays below 3276801: always a 32-bit integer.
    return qint32(roundedUp(double(raw) * 100.0 * 1.52587890625e-5));
}

QByteArray fixPt16ToServo(const QByteArray &host)
{
    const QByteArray padded = PadToDWords(host);
    QByteArray raw;
    raw.reserve(padded.size() / 2);
    for (int at = 0; at < padded.size(); at += 4) {
        const double h = littleEndianInt32(padded.constData() + at);
        // |h| * 0.2 + 0.5 always fits into 32 bits.
        const quint16 value = quint16(qint32(roundedUp(h * 20.0 / 100.0)));
        raw += UInt16ToBytes(value);
    }
    return ToBigEndian16(raw);
}

QByteArray int32Q16ToServo(const QByteArray &host)
{
    QByteArray raw = PadToDWords(host);
    for (int at = 0; at < raw.size(); at += 4) {
        const double scaled = roundedUp(littleEndianInt32(raw.constData() + at) * 65536.0 / 100.0);
        // Checked in double: converting an out-of-range double to int is undefined.
        const bool fits = scaled >= double(std::numeric_limits<qint32>::min())
            && scaled <= double(std::numeric_limits<qint32>::max());
        const qint32 value = fits ? qint32(scaled) : std::numeric_limits<qint32>::min();
        raw.replace(at, 4, Int32ToBytes(value));
    }
    return ToBigEndian32(raw);
}

} // namespace LustBus
