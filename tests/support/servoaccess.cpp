#include "servoaccess.h"

using LustBusSim::DataType;
using LustBusSim::Parameter;
using LustBusSim::ParameterTable;

namespace ServoAccess {

namespace {

int hostWidth(DataType type)
{
    return LustBus::dataTypeInfo(type).hostWidth;
}

QByteArray littleEndian(quint64 value, int width)
{
    QByteArray bytes;
    for (int i = 0; i < width; ++i)
        bytes += char(value >> (8 * i));
    return bytes;
}

quint64 fromLittleEndian(const QByteArray &bytes, int at, int width)
{
    quint64 value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

// Element i as the host sees it: the scalings to hundredths round as the driver
// documents it (add 0.5, cut toward zero), worked out here exactly in integers. A
// simple INT32Q16 read parses the value text as a signed number, which stops at
// 0x7FFFFFFF: a negative raw value comes back as that.
QByteArray hostElement(const Parameter &p, int i, bool simple)
{
    const qint64 raw = p.raw(i);
    switch (p.type) {
    case DataType::FixPt16: return littleEndian(quint16(raw) * 5, 4);
    case DataType::Int32Q16:
        return littleEndian((100 * (simple && raw < 0 ? 0x7FFFFFFF : raw) + 32768) / 65536, 4);
    default: return littleEndian(quint64(raw), hostWidth(p.type));
    }
}

qint64 rawFromHost(DataType type, const QByteArray &host, int at)
{
    const qint64 h = qint32(fromLittleEndian(host, at, hostWidth(type)));
    switch (type) {
    case DataType::FixPt16: return (20 * h + 50) / 100;
    case DataType::Int32Q16: return (65536 * h + 50) / 100;
    default: return h; // the parameter keeps the element's width
    }
}

// The host bytes of the elements that an access reads, or writes back.
QByteArray hostElements(const Access &a, const Parameter &p)
{
    const int first = qMax(a.index, 0);
    const bool bits = a.form == Form::Bit || a.form == Form::ElementBit;
    const int width = hostWidth(p.type);
    const int count = a.form == Form::Element ? a.count
        : bits ? ((a.bit + a.count + 7) / 8 + width - 1) / width : 1;
    QByteArray bytes;
    for (int i = first; i < first + count; ++i)
        bytes += hostElement(p, i, a.form == Form::Simple || a.form == Form::Bit);
    return bytes;
}

int uniform(std::mt19937 &random, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(random);
}

QByteArray randomBytes(std::mt19937 &random, int count, int low = 0, int high = 255)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += char(uniform(random, low, high));
    return bytes;
}

QByteArray randomText(std::mt19937 &random)
{
    return randomBytes(random, uniform(random, 1, 24), 0x20, 0x7E);
}

// Host bytes of one element with a random value the type can hold: any bit pattern
// but for the fixed-point types, whose range is narrower.
QByteArray randomHostElement(std::mt19937 &random, DataType type)
{
    const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(type);
    if (type != DataType::FixPt16 && type != DataType::Int32Q16)
        return randomBytes(random, info.hostWidth);
    const int value = uniform(random, int(info.hostMin), int(info.hostMax));
    return littleEndian(quint64(qint64(value)), info.hostWidth);
}

} // namespace

std::string Access::describe() const
{
    return (write ? "write " : "read ") + address.text.toStdString() + " kind " + std::to_string(address.kind)
        + " count " + std::to_string(address.count) + (write ? " data " + hex(data) : std::string());
}

ParameterTable randomTable(std::mt19937 &random)
{
    ParameterTable table = ParameterTable::defaultTable();
    table.insert(Parameter::array(110, DataType::Int8, QVector<qint64>(12)));
    table.insert(Parameter::array(111, DataType::USign16, QVector<qint64>(10)));
    table.insert(Parameter::array(112, DataType::USign32, QVector<qint64>(6)));
    for (Parameter p : table.parameters()) {
        p.data = p.type == DataType::String ? randomText(random) : randomBytes(random, int(p.data.size()));
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
    a.address.text = QStringLiteral("%1:%2").arg(QLatin1String(LustBus::dataTypeName(p.type))).arg(p.number);
    if (p.type == DataType::String) { // the whole text, from element 0
        a.form = Form::Element;
        a.index = 0;
        a.data = a.write ? randomText(random) : QByteArray();
        a.count = a.write ? int(a.data.size()) : 800;
        a.address.kind = qint32(LustBus::AddressKind::Bytes);
        a.address.count = quint64(a.count);
        a.address.text += QStringLiteral(":0");
        return a;
    }
    const int width = hostWidth(p.type);
    // Bits only of the integers.
    const bool bits = p.type != DataType::Float32 && p.type != DataType::FixPt16
        && p.type != DataType::Int32Q16 && uniform(random, 0, 3) == 0;
    if (p.isArray) {
        a.index = uniform(random, 0, p.elementCount() - 1);
        a.address.text += QStringLiteral(":%1").arg(a.index);
    }
    if (bits) {
        a.form = p.isArray ? Form::ElementBit : Form::Bit;
        const int room = 8 * width * (p.elementCount() - qMax(a.index, 0));
        a.bit = uniform(random, 0, p.isArray ? qMin(15, room - 1) : room - 1);
        a.count = uniform(random, 1, p.isArray ? qMin(40, room - a.bit) : room - a.bit);
        a.address.text += QStringLiteral(".%1").arg(a.bit);
        a.address.kind = qint32(LustBus::AddressKind::Bits);
    } else {
        a.form = p.isArray ? Form::Element : Form::Simple;
        // An element access carries at most 255 bytes of the address's size.
        a.count = p.isArray ? uniform(random, 1, qMin(p.elementCount() - a.index, qMin(60, 255 / width))) : 1;
        for (int i = 0; a.write && i < a.count; ++i)
            a.data += randomHostElement(random, p.type);
        // Element reads count telegram elements (FIXPT16: kind 2 for its 2-byte
        // elements, each giving 4 host bytes); writes count the host data.
        const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(p.type);
        a.address.kind = qint32(p.isArray && !a.write ? info.elementKind : info.kind);
    }
    if (bits && a.write)
        a.data = randomBytes(random, (a.count + 7) / 8);
    a.address.count = quint64(a.count);
    return a;
}

QByteArray expectedRead(const Access &a, const Parameter &p)
{
    if (p.type == DataType::String)
        return p.data;
    const QByteArray host = hostElements(a, p);
    if (a.form != Form::Bit && a.form != Form::ElementBit)
        return host;
    const quint64 bits = fromLittleEndian(host, 0, int(host.size())) >> a.bit;
    return littleEndian(bits & ((quint64(1) << a.count) - 1), (a.count + 7) / 8);
}

Parameter expectedAfterWrite(const Access &a, const Parameter &before)
{
    Parameter after = before;
    if (before.type == DataType::String) {
        after.data = a.data;
        return after;
    }
    QByteArray host = a.data;
    if (a.form == Form::Bit || a.form == Form::ElementBit) { // the other bits stay
        host = hostElements(a, before);
        const quint64 mask = ((quint64(1) << a.count) - 1) << a.bit;
        const quint64 value = fromLittleEndian(host, 0, int(host.size()));
        const quint64 bits = fromLittleEndian(a.data, 0, int(a.data.size())) << a.bit;
        host = littleEndian((value & ~mask) | (bits & mask), int(host.size()));
    }
    const int width = hostWidth(before.type);
    for (int i = 0; i * width < host.size(); ++i)
        after.setRaw(qMax(a.index, 0) + i, rawFromHost(before.type, host, i * width));
    return after;
}

std::string hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toStdString();
}

std::string run(DriverInterface &driver, LinkDevice &link, LustBusSim::Simulator &sim,
                int station, const Access &a)
{
    Parameter before, after;
    sim.parameter(station, a.parameter, &before);
    if (a.write) {
        const int ok = driver.write(link, a.address, a.data);
        sim.parameter(station, a.parameter, &after);
        if (ok == 0 || !(after == expectedAfterWrite(a, before)))
            return a.describe() + ": servo holds " + hex(after.data);
    } else {
        const QByteArray got = driver.read(link, a.address);
        const QByteArray expected = expectedRead(a, before);
        if (got != expected)
            return a.describe() + ": got " + hex(got) + ", expected " + hex(expected);
    }
    return std::string();
}

} // namespace ServoAccess
