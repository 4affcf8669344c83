#include "parameter.h"

#include <cmath>
#include <cstring>

namespace LustBusSim {

namespace {

int elementWidth(DataType type)
{
    return LustBus::dataTypeInfo(type).telegramWidth;
}

} // namespace

Parameter Parameter::simple(quint16 number, DataType type, qint64 raw, bool readOnly)
{
    Parameter p;
    p.number = number;
    p.type = type;
    p.readOnly = readOnly;
    p.data = QByteArray(elementWidth(type), '\0');
    p.setRaw(0, raw);
    return p;
}

Parameter Parameter::array(quint16 number, DataType type, const QVector<qint64> &raw,
                           bool readOnly)
{
    Parameter p;
    p.number = number;
    p.type = type;
    p.readOnly = readOnly;
    p.isArray = true;
    p.data = QByteArray(elementWidth(type) * raw.size(), '\0');
    for (int i = 0; i < raw.size(); ++i)
        p.setRaw(i, raw.at(i));
    return p;
}

Parameter Parameter::text(quint16 number, const QByteArray &text, bool readOnly)
{
    Parameter p;
    p.number = number;
    p.type = DataType::String;
    p.readOnly = readOnly;
    p.data = text;
    return p;
}

int Parameter::elementCount() const
{
    const int width = elementWidth(type);
    return width == 0 ? 1 : int(data.size()) / width;
}

qint64 Parameter::raw(int index) const
{
    const int width = elementWidth(type);
    if (width == 0 || index < 0 || (index + 1) * width > data.size())
        return 0;
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | quint8(data.at(index * width + i));
    if (LustBus::dataTypeInfo(type).signedRaw && (value >> (8 * width - 1)) != 0)
        return qint64(value) - (qint64(1) << (8 * width));
    return qint64(value);
}

void Parameter::setRaw(int index, qint64 raw)
{
    const int width = elementWidth(type);
    if (width == 0 || index < 0 || (index + 1) * width > data.size())
        return;
    auto value = quint64(raw);
    for (int i = width - 1; i >= 0; --i) {
        data[index * width + i] = char(value & 0xFF);
        value >>= 8;
    }
}

double Parameter::real(int index) const
{
    const qint64 value = raw(index);
    if (type == DataType::Float32) {
        const auto bits = quint32(value);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return double(f);
    }
    return double(value) / double(LustBus::dataTypeInfo(type).rawPerUnit);
}

qint64 Parameter::rawFromReal(DataType type, double value)
{
    if (type == DataType::Float32) {
        const auto f = float(value);
        quint32 bits;
        std::memcpy(&bits, &f, sizeof bits);
        return qint64(bits);
    }
    return qint64(std::llround(value * double(LustBus::dataTypeInfo(type).rawPerUnit)));
}

bool operator==(const Parameter &a, const Parameter &b)
{
    return a.number == b.number && a.type == b.type && a.readOnly == b.readOnly
           && a.isArray == b.isArray && a.data == b.data;
}

} // namespace LustBusSim
