#include "servoaccess.h"

#include <algorithm>

using LustBusSim::DataType;
using LustBusSim::Parameter;
using LustBusSim::ParameterTable;

namespace ServoAccess {

namespace {

bool isInteger(DataType type)
{
    switch (type) {
    case DataType::Int8: case DataType::USign8: case DataType::Int16: case DataType::USign16:
    case DataType::Int32: case DataType::USign32:
        return true;
    default:
        return false;
    }
}

// Bytes per element in the host's data.
int hostWidth(DataType type)
{
    switch (type) {
    case DataType::Int8: case DataType::USign8: return 1;
    case DataType::Int16: case DataType::USign16: return 2;
    case DataType::String: return 1;
    default: return 4;
    }
}

QByteArray littleEndian(qint64 value, int width)
{
    QByteArray bytes;
    for (int i = 0; i < width; ++i)
        bytes += char((quint64(value) >> (8 * i)) & 0xFF);
    return bytes;
}

qint64 fromLittleEndian(const QByteArray &bytes, int at, int width, bool isSigned)
{
    quint64 value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    if (isSigned && (value >> (8 * width - 1)) != 0)
        return qint64(value) - (qint64(1) << (8 * width));
    return qint64(value);
}

// One element as the host sees it. The scalings round as the driver documents it:
// add 0.5, cut toward zero; worked out here in integers, exactly.
QByteArray hostElement(DataType type, qint64 raw, bool simple)
{
    switch (type) {
    case DataType::FixPt16:
        return littleEndian(qint64(quint16(raw)) * 5, 4);
    case DataType::Int32Q16: {
        qint64 q = qint32(raw);
        // A simple read parses the value text as a signed number, which stops at
        // 0x7FFFFFFF: a negative raw value comes back as that.
        if (simple && q < 0)
            q = 0x7FFFFFFF;
        return littleEndian((100 * q + 32768) / 65536, 4);
    }
    default:
        return littleEndian(raw, hostWidth(type));
    }
}

qint64 rawFromHost(DataType type, const QByteArray &host, int at)
{
    switch (type) {
    case DataType::FixPt16: {
        const qint64 h = fromLittleEndian(host, at, 4, true);
        return quint16((20 * h + 50) / 100);
    }
    case DataType::Int32Q16: {
        const qint64 h = fromLittleEndian(host, at, 4, true);
        return (65536 * h + 50) / 100;
    }
    default:
        return fromLittleEndian(host, at, hostWidth(type), false);
    }
}

int kindOf(DataType type)
{
    switch (hostWidth(type)) {
    case 1: return 1;
    case 2: return 2;
    default: return 3;
    }
}

// Host elements that a bit access reads and writes back.
int bitElements(const Access &access, DataType type)
{
    const int bytes = (access.bit + access.count + 7) / 8;
    const int width = hostWidth(type);
    return (bytes + width - 1) / width;
}

QByteArray hostElements(const Parameter &p, int first, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += hostElement(p.type, p.raw(first + i), false);
    return bytes;
}

bool bitOf(const QByteArray &bytes, int bit)
{
    return (quint8(bytes.at(bit / 8)) >> (bit % 8)) & 1;
}

void setBitOf(QByteArray &bytes, int bit, bool on)
{
    const char mask = char(1 << (bit % 8));
    bytes[bit / 8] = on ? char(bytes.at(bit / 8) | mask) : char(bytes.at(bit / 8) & ~mask);
}

QByteArray cutBits(const QByteArray &value, int first, int count)
{
    QByteArray bits((count + 7) / 8, '\0');
    for (int i = 0; i < count; ++i)
        setBitOf(bits, i, bitOf(value, first + i));
    return bits;
}

int uniform(std::mt19937 &random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

QByteArray randomBytes(std::mt19937 &random, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += char(uniform(random, 0, 255));
    return bytes;
}

QByteArray randomText(std::mt19937 &random)
{
    QByteArray text;
    const int length = uniform(random, 1, 24);
    for (int i = 0; i < length; ++i)
        text += char(uniform(random, 0x20, 0x7E));
    return text;
}

// Host bytes of one element with a random value the type can hold.
QByteArray randomHostElement(std::mt19937 &random, DataType type)
{
    switch (type) {
    case DataType::FixPt16: return littleEndian(uniform(random, 0, 327675), 4);
    case DataType::Int32Q16: return littleEndian(uniform(random, -3276800, 3276799), 4);
    default: return randomBytes(random, hostWidth(type));
    }
}

qint64 randomRaw(std::mt19937 &random, DataType type)
{
    const int width = LustBusSim::elementWidth(type);
    qint64 raw = 0;
    for (int i = 0; i < width; ++i)
        raw = (raw << 8) | uniform(random, 0, 255);
    return raw;
}

} // namespace

std::string Access::describe() const
{
    return QStringLiteral("%1 %2 kind %3 count %4%5")
        .arg(write ? QStringLiteral("write") : QStringLiteral("read"), address.text)
        .arg(address.kind)
        .arg(address.count)
        .arg(write ? QStringLiteral(" data ") + QString::fromLatin1(data.toHex(' '))
                   : QString())
        .toStdString();
}

ParameterTable randomTable(std::mt19937 &random)
{
    ParameterTable table = ParameterTable::defaultTable();
    table.insert(Parameter::array(110, DataType::Int8, QVector<qint64>(12)));
    table.insert(Parameter::array(111, DataType::USign16, QVector<qint64>(10)));
    table.insert(Parameter::array(112, DataType::USign32, QVector<qint64>(6)));
    for (Parameter p : table.parameters()) {
        if (p.type == DataType::String)
            p.data = randomText(random);
        else
            for (int i = 0; i < p.elementCount(); ++i)
                p.setRaw(i, randomRaw(random, p.type));
        table.insert(p);
    }
    return table;
}

Access randomAccess(std::mt19937 &random, const ParameterTable &table, double writeShare)
{
    const QList<Parameter> parameters = table.parameters();
    const Parameter &p = parameters.at(uniform(random, 0, int(parameters.size()) - 1));
    Access a;
    a.parameter = p.number;
    a.write = !p.readOnly && std::uniform_real_distribution<double>(0, 1)(random) < writeShare;
    const QString name = LustBusSim::dataTypeName(p.type);
    const int width = hostWidth(p.type);
    if (p.type == DataType::String) {
        a.form = Form::Element;
        a.index = 0;
        a.data = a.write ? randomText(random) : QByteArray();
        a.count = a.write ? int(a.data.size()) : 800;
        a.address.kind = 1;
        a.address.count = quint64(a.count);
        a.address.text = QStringLiteral("STRING:%1:0").arg(p.number);
        return a;
    }
    const bool bits = isInteger(p.type) && uniform(random, 0, 3) == 0;
    if (!p.isArray) {
        a.form = bits ? Form::Bit : Form::Simple;
        if (bits) {
            a.bit = uniform(random, 0, 8 * width - 1);
            a.count = uniform(random, 1, 8 * width - a.bit);
            a.address.text = QStringLiteral("%1:%2.%3").arg(name).arg(p.number).arg(a.bit);
        } else {
            a.address.text = QStringLiteral("%1:%2").arg(name).arg(p.number);
            if (a.write)
                a.data = randomHostElement(random, p.type);
        }
    } else {
        const int elements = p.elementCount();
        a.index = uniform(random, 0, elements - 1);
        if (bits) {
            a.form = Form::ElementBit;
            const int room = 8 * width * (elements - a.index);
            a.bit = uniform(random, 0, qMin(15, room - 1));
            a.count = uniform(random, 1, qMin(40, room - a.bit));
            a.address.text = QStringLiteral("%1:%2:%3.%4")
                                 .arg(name).arg(p.number).arg(a.index).arg(a.bit);
        } else {
            a.form = Form::Element;
            // An element access carries at most 255 bytes of the address's size.
            const int most = qMin(elements - a.index, qMin(60, 255 / width));
            a.count = uniform(random, 1, most);
            a.address.text = QStringLiteral("%1:%2:%3").arg(name).arg(p.number).arg(a.index);
            for (int i = 0; a.write && i < a.count; ++i)
                a.data += randomHostElement(random, p.type);
        }
    }
    if (bits) {
        a.address.kind = 0;
        a.address.count = quint64(a.count);
        if (a.write)
            a.data = randomBytes(random, (a.count + 7) / 8);
    } else {
        // FIXPT16 elements read with kind 2: the servo is asked for size / 2 of its
        // 2-byte elements, each giving 4 host bytes. Writes count the host data.
        a.address.kind = p.type == DataType::FixPt16 && a.form == Form::Element && !a.write
            ? 2 : kindOf(p.type);
        a.address.count = quint64(a.count);
    }
    return a;
}

QByteArray expectedRead(const Access &access, const Parameter &p)
{
    switch (access.form) {
    case Form::Simple:
        return hostElement(p.type, p.raw(0), true);
    case Form::Element:
        if (p.type == DataType::String)
            return p.data;
        return hostElements(p, access.index, access.count);
    case Form::Bit:
        return cutBits(hostElement(p.type, p.raw(0), true), access.bit, access.count);
    case Form::ElementBit:
        return cutBits(hostElements(p, access.index, bitElements(access, p.type)),
                       access.bit, access.count);
    }
    return QByteArray();
}

Parameter expectedAfterWrite(const Access &access, const Parameter &before)
{
    Parameter after = before;
    const int width = hostWidth(before.type);
    switch (access.form) {
    case Form::Simple:
        after.setRaw(0, rawFromHost(before.type, access.data, 0));
        break;
    case Form::Element:
        if (before.type == DataType::String) {
            after.data = access.data;
            break;
        }
        for (int i = 0; i * width < access.data.size(); ++i)
            after.setRaw(access.index + i, rawFromHost(before.type, access.data, i * width));
        break;
    case Form::Bit:
    case Form::ElementBit: {
        const bool simple = access.form == Form::Bit;
        const int first = simple ? 0 : access.index;
        const int elements = simple ? 1 : bitElements(access, before.type);
        QByteArray value = simple ? hostElement(before.type, before.raw(0), true)
                                  : hostElements(before, first, elements);
        for (int i = 0; i < access.count; ++i)
            setBitOf(value, access.bit + i, bitOf(access.data, i));
        for (int i = 0; i < elements; ++i)
            after.setRaw(first + i, rawFromHost(before.type, value, i * width));
        break;
    }
    }
    return after;
}

std::string hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toStdString();
}

} // namespace ServoAccess
