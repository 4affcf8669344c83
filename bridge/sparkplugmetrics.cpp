#include "sparkplugmetrics.h"

#include "catalogueentry.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QtEndian>

#include <cstring>

using LustBus::CatalogueEntry;
using BusType = LustBus::DataType;

namespace {

using Metric = SparkplugMetrics::Metric;
using PropertyValue = org::eclipse::tahu::protobuf::Payload_PropertyValue;

// The array type of an element type: Int8 -> Int8Array and so on.
quint32 arrayOf(quint32 element)
{
    switch (element) {
    case SparkplugMetrics::Int8: return SparkplugMetrics::Int8Array;
    case SparkplugMetrics::Int16: return SparkplugMetrics::Int16Array;
    case SparkplugMetrics::Int32: return SparkplugMetrics::Int32Array;
    case SparkplugMetrics::UInt8: return SparkplugMetrics::UInt8Array;
    case SparkplugMetrics::UInt16: return SparkplugMetrics::UInt16Array;
    case SparkplugMetrics::UInt32: return SparkplugMetrics::UInt32Array;
    case SparkplugMetrics::Float: return SparkplugMetrics::FloatArray;
    default: return SparkplugMetrics::DoubleArray;
    }
}

// Bytes of one packed array element.
int elementWidth(quint32 element)
{
    switch (element) {
    case SparkplugMetrics::Int8:
    case SparkplugMetrics::UInt8:
        return 1;
    case SparkplugMetrics::Int16:
    case SparkplugMetrics::UInt16:
        return 2;
    case SparkplugMetrics::Double:
        return 8;
    default:
        return 4;
    }
}

bool isSigned(quint32 type)
{
    return type == SparkplugMetrics::Int8 || type == SparkplugMetrics::Int16
           || type == SparkplugMetrics::Int32 || type == SparkplugMetrics::Int64;
}

// A metric or a property value: both have the same value fields.
template <class Target>
void setTyped(Target *target, quint32 type, const QJsonValue &value)
{
    const double number = value.toDouble();
    switch (type) {
    case SparkplugMetrics::Int8:
    case SparkplugMetrics::Int16:
    case SparkplugMetrics::Int32:
    case SparkplugMetrics::UInt8:
    case SparkplugMetrics::UInt16:
    case SparkplugMetrics::UInt32:
        // Two's complement for the signed ones, as the wire wants them.
        target->set_int_value(quint32(qint64(number)));
        break;
    case SparkplugMetrics::Int64:
    case SparkplugMetrics::UInt64:
        target->set_long_value(quint64(qint64(number)));
        break;
    case SparkplugMetrics::Float:
        target->set_float_value(float(number));
        break;
    case SparkplugMetrics::Double:
        target->set_double_value(number);
        break;
    case SparkplugMetrics::Boolean:
        target->set_boolean_value(value.toBool());
        break;
    default:
        target->set_string_value(value.toString().toStdString());
        break;
    }
}

std::string packed(quint32 element, const QJsonArray &values)
{
    const int width = elementWidth(element);
    std::string bytes(size_t(values.size() * width), '\0');
    char *at = &bytes[0];
    for (const QJsonValue &value : values) {
        const double number = value.toDouble();
        if (element == SparkplugMetrics::Float) {
            const float single = float(number);
            quint32 bits;
            std::memcpy(&bits, &single, sizeof bits);
            qToLittleEndian(bits, at);
        } else if (element == SparkplugMetrics::Double) {
            quint64 bits;
            std::memcpy(&bits, &number, sizeof bits);
            qToLittleEndian(bits, at);
        } else if (width == 1) {
            *at = char(qint64(number));
        } else if (width == 2) {
            qToLittleEndian(quint16(qint64(number)), at);
        } else {
            qToLittleEndian(quint32(qint64(number)), at);
        }
        at += width;
    }
    return bytes;
}

QJsonValue unpackedElement(quint32 element, const uchar *at)
{
    switch (element) {
    case SparkplugMetrics::Int8: return qint8(*at);
    case SparkplugMetrics::UInt8: return *at;
    case SparkplugMetrics::Int16: return qFromLittleEndian<qint16>(at);
    case SparkplugMetrics::UInt16: return qFromLittleEndian<quint16>(at);
    case SparkplugMetrics::Int32: return qFromLittleEndian<qint32>(at);
    case SparkplugMetrics::UInt32: return double(qFromLittleEndian<quint32>(at));
    case SparkplugMetrics::Float: {
        const quint32 bits = qFromLittleEndian<quint32>(at);
        float single;
        std::memcpy(&single, &bits, sizeof single);
        return double(single);
    }
    default: {
        const quint64 bits = qFromLittleEndian<quint64>(at);
        double number;
        std::memcpy(&number, &bits, sizeof number);
        return number;
    }
    }
}

void addProperty(Metric *metric, const char *key, quint32 type, const QJsonValue &value)
{
    auto *properties = metric->mutable_properties();
    properties->add_keys(key);
    PropertyValue *property = properties->add_values();
    property->set_type(type);
    setTyped(property, type, value);
}

// What a command's metric holds for a simple parameter of type element.
bool commandScalar(const Metric &metric, quint32 element, QJsonValue *value)
{
    switch (metric.value_case()) {
    case Metric::kIntValue:
        if (element == SparkplugMetrics::Float || element == SparkplugMetrics::Double
            || element == SparkplugMetrics::String)
            return false;
        *value = isSigned(element) ? QJsonValue(qint32(metric.int_value()))
                                   : QJsonValue(double(metric.int_value()));
        return true;
    case Metric::kLongValue:
        // Hosts that follow Sparkplug before 3.0 send a UInt32 there.
        if (element != SparkplugMetrics::UInt32)
            return false;
        *value = double(metric.long_value());
        return true;
    case Metric::kFloatValue:
        *value = double(metric.float_value());
        return element == SparkplugMetrics::Float;
    case Metric::kDoubleValue:
        *value = metric.double_value();
        return element == SparkplugMetrics::Double;
    case Metric::kStringValue:
        *value = QString::fromStdString(metric.string_value());
        return element == SparkplugMetrics::String;
    default:
        return false;
    }
}

} // namespace

quint32 SparkplugMetrics::elementType(const CatalogueEntry &entry)
{
    switch (entry.type) {
    case BusType::Int8: return Int8;
    case BusType::USign8: return UInt8;
    case BusType::Int16: return Int16;
    case BusType::USign16: return UInt16;
    case BusType::Int32: return Int32;
    case BusType::USign32: return UInt32;
    case BusType::Float32: return Float;
    case BusType::FixPt16:
    case BusType::Int32Q16: return Double;
    default: return String;
    }
}

quint32 SparkplugMetrics::dataType(const CatalogueEntry &entry)
{
    const quint32 element = elementType(entry);
    return entry.isArray() ? arrayOf(element) : element;
}

QString SparkplugMetrics::typeName(quint32 type)
{
    static const char *const names[] = {
        "Unknown", "Int8", "Int16", "Int32", "Int64", "UInt8", "UInt16", "UInt32", "UInt64",
        "Float", "Double", "Boolean", "String", "DateTime", "Text", "UUID", "DataSet", "Bytes",
        "File", "Template", "PropertySet", "PropertySetList", "Int8Array", "Int16Array",
        "Int32Array", "Int64Array", "UInt8Array", "UInt16Array", "UInt32Array", "UInt64Array",
        "FloatArray", "DoubleArray", "BooleanArray", "StringArray", "DateTimeArray"};
    return type < std::size(names) ? QLatin1String(names[type])
                                   : QStringLiteral("datatype %1").arg(type);
}

quint64 SparkplugMetrics::alias(int station, const CatalogueEntry &entry)
{
    return quint64(station) * 65536 + entry.number;
}

void SparkplugMetrics::setBirth(Metric *metric, int station, const CatalogueEntry &entry,
                                const QJsonValue &value)
{
    metric->set_name(entry.name.toStdString());
    metric->set_alias(alias(station, entry));
    metric->set_datatype(dataType(entry));
    const quint32 element = elementType(entry);
    if (!entry.unit.isEmpty())
        addProperty(metric, "engUnit", String, entry.unit);
    if (entry.min)
        addProperty(metric, "engLow", element, *entry.min);
    if (entry.max)
        addProperty(metric, "engHigh", element, *entry.max);
    addProperty(metric, "readOnly", Boolean, entry.readOnly);
    setValue(metric, entry, value);
}

void SparkplugMetrics::setValue(Metric *metric, const CatalogueEntry &entry,
                                const QJsonValue &value)
{
    if (value.isUndefined() || value.isNull())
        metric->set_is_null(true);
    else if (entry.isArray())
        metric->set_bytes_value(packed(elementType(entry), value.toArray()));
    else
        setTyped(metric, elementType(entry), value);
}

void SparkplugMetrics::setScalar(Metric *metric, quint32 type, const QJsonValue &value)
{
    setTyped(metric, type, value);
}

bool SparkplugMetrics::commandPayload(const Metric &metric, const CatalogueEntry &entry,
                                      QByteArray *payload, QString *error)
{
    const quint32 type = dataType(entry);
    if (metric.has_datatype() && metric.datatype() != type) {
        *error = QStringLiteral("a %1 value for %2, whose datatype is %3")
                     .arg(typeName(metric.datatype()), entry.name, typeName(type));
        return false;
    }
    if (metric.is_null()) {
        *error = QStringLiteral("a null value for %1").arg(entry.name);
        return false;
    }
    const quint32 element = elementType(entry);
    QJsonValue value;
    if (entry.isArray()) {
        const int size = entry.elements * elementWidth(element);
        if (metric.value_case() != Metric::kBytesValue
            || metric.bytes_value().size() != size_t(size)) {
            *error = QStringLiteral("%1 takes %2 bytes of %3 elements of %4")
                         .arg(entry.name)
                         .arg(size)
                         .arg(entry.elements)
                         .arg(typeName(element));
            return false;
        }
        QJsonArray elements;
        const auto *at = reinterpret_cast<const uchar *>(metric.bytes_value().data());
        for (int i = 0; i < entry.elements; ++i, at += elementWidth(element))
            elements.append(unpackedElement(element, at));
        value = elements;
    } else if (!commandScalar(metric, element, &value)) {
        *error = QStringLiteral("no %1 value for %2").arg(typeName(type), entry.name);
        return false;
    }
    const QByteArray list = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    *payload = list.mid(1, list.size() - 2);
    return true;
}
