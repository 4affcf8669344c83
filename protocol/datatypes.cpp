#include "datatypes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace LustBus {

namespace {

using K = AddressKind;
using F = HostForm;

// In the order of DataType, Unknown last.
const DataTypeInfo dataTypes[] = {
    {DataType::Int8, "INT8", 1, 1, true, K::Bytes, K::Bytes, -128, 127, 1, 1, F::Integer},
    {DataType::USign8, "USIGN8", 1, 1, false, K::Bytes, K::Bytes, 0, 255, 1, 1, F::Integer},
    {DataType::Int16, "INT16", 2, 2, true, K::Words, K::Words, -32768, 32767, 1, 1, F::Integer},
    {DataType::USign16, "USIGN16", 2, 2, false, K::Words, K::Words, 0, 65535, 1, 1, F::Integer},
    {DataType::Int32, "INT32", 4, 4, true, K::DWords, K::DWords, -2147483648LL, 2147483647, 1, 1,
     F::Integer},
    {DataType::USign32, "USIGN32", 4, 4, false, K::DWords, K::DWords, 0, 4294967295LL, 1, 1,
     F::Integer},
    {DataType::Float32, "FLOAT32", 4, 4, false, K::DWords, K::DWords, 0, 4294967295LL, 1, 1,
     F::Float},
    {DataType::FixPt16, "FIXPT16", 2, 4, false, K::DWords, K::Words, 0, 327675, 20, 100,
     F::Integer},
    {DataType::Int32Q16, "INT32Q16", 4, 4, true, K::DWords, K::DWords, -3276800, 3276799, 65536,
     100, F::Integer},
    {DataType::String, "STRING", 0, 1, false, K::String, K::String, 0, 255, 1, 1, F::Text},
    {DataType::Unknown, "", 0, 0, false, K::Bytes, K::Bytes, 0, 0, 1, 1, F::Bytes},
};

// The rounding of every scaling: add 0.5, truncate toward zero.
double roundedUp(double value)
{
    return std::trunc(value + 0.5);
}

// width bytes, most significant first; sign-extended when asked.
qint64 bigEndianValue(const char *bytes, int width, bool isSigned)
{
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = value << 8 | quint8(bytes[i]);
    const int unused = 64 - 8 * width;
    return isSigned ? qint64(value << unused) >> unused : qint64(value);
}

void putBigEndian(char *bytes, int width, quint64 value)
{
    for (int i = width - 1; i >= 0; --i, value >>= 8)
        bytes[i] = char(value);
}

// From the bytes of host at from on, width bytes or fewer at its end (missing ones 0).
quint32 littleEndianValue(const QByteArray &host, int from, int width)
{
    quint32 value = 0;
    for (int i = qMin(width, int(host.size()) - from) - 1; i >= 0; --i)
        value = value << 8 | quint8(host[from + i]);
    return value;
}

void putLittleEndian(char *bytes, int width, quint32 value)
{
    for (int i = 0; i < width; ++i, value >>= 8)
        bytes[i] = char(value);
}

// The servo's number for a host value of a scaled type, 0x80000000 when it leaves the
// signed 32-bit range.
qint32 scaledRawValue(const DataTypeInfo &info, qint32 host)
{
    const double scaled =
        roundedUp(double(host) * double(info.rawPerUnit) / double(info.hostPerUnit));
    // Checked in double: converting an out-of-range double to int is undefined.
    const bool fits = scaled >= double(std::numeric_limits<qint32>::min())
        && scaled <= double(std::numeric_limits<qint32>::max());
    return fits ? qint32(scaled) : std::numeric_limits<qint32>::min();
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

qint32 scaledHostValue(const DataTypeInfo &info, qint64 raw)
{
    // A 32-bit raw value scaled by at most 5 stays exact in a double and in 64 bits.
    const double host =
        roundedUp(double(raw) * double(info.hostPerUnit) / double(info.rawPerUnit));
    return qint32(quint32(qint64(host)));
}

bool telegramToHost(const DataTypeInfo &info, QByteArray &data)
{
    const int width = info.telegramWidth;
    if (width <= 0 || data.size() % width != 0)
        return false;
    if (!info.isScaled()) {
        for (char *element = data.data(), *end = element + data.size(); element < end;
             element += width)
            std::reverse(element, element + width);
        return true;
    }
    const int elements = int(data.size()) / width;
    QByteArray host(elements * info.hostWidth, Qt::Uninitialized);
    for (int i = 0; i < elements; ++i) {
        const qint64 raw = bigEndianValue(data.constData() + i * width, width, info.signedRaw);
        putLittleEndian(host.data() + i * info.hostWidth, info.hostWidth,
                        quint32(scaledHostValue(info, raw)));
    }
    data = host;
    return true;
}

QByteArray hostToTelegram(const DataTypeInfo &info, const QByteArray &host)
{
    const int hostWidth = info.hostWidth;
    if (hostWidth <= 1)
        return host; // single bytes keep their order
    const int elements = (int(host.size()) + hostWidth - 1) / hostWidth;
    const int width = info.isScaled() ? info.telegramWidth : hostWidth;
    QByteArray telegram(elements * width, Qt::Uninitialized);
    for (int i = 0; i < elements; ++i) {
        const quint32 value = littleEndianValue(host, i * hostWidth, hostWidth);
        const quint32 raw = info.isScaled() ? quint32(scaledRawValue(info, qint32(value))) : value;
        putBigEndian(telegram.data() + i * width, width, raw);
    }
    return telegram;
}

} // namespace LustBus
