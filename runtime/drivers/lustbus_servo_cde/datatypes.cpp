#include "datatypes.h"

#include "tools/bytesandbits.h"

#include <cmath>
#include <limits>

namespace LustBus {

namespace {

struct NamedType
{
    const char *name;
    DataType type;
};

const NamedType dataTypes[] = {
    {"INT8", DataType::Int8},       {"USIGN8", DataType::USign8},
    {"INT16", DataType::Int16},     {"USIGN16", DataType::USign16},
    {"INT32", DataType::Int32},     {"USIGN32", DataType::USign32},
    {"FLOAT32", DataType::Float32}, {"FIXPT16", DataType::FixPt16},
    {"INT32Q16", DataType::Int32Q16}, {"STRING", DataType::String},
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

DataType dataTypeFromName(const QString &name)
{
    for (const NamedType &entry : dataTypes) {
        const QLatin1String entryName(entry.name);
        // The length test first: a case-blind compare costs more than a miss needs.
        if (name.size() == entryName.size()
            && name.compare(entryName, Qt::CaseInsensitive) == 0)
            return entry.type;
    }
    return DataType::Unknown;
}

const char *dataTypeName(DataType type)
{
    for (const NamedType &entry : dataTypes) {
        if (entry.type == type)
            return entry.name;
    }
    return "";
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
