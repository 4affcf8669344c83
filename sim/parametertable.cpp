#include "parametertable.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

#include <cmath>

namespace LustBusSim {

namespace {

bool rawFits(DataType type, qint64 raw)
{
    const LustBus::DataTypeInfo &info = LustBus::dataTypeInfo(type);
    return info.telegramWidth > 0 && raw >= info.rawMin() && raw <= info.rawMax();
}

bool rawFromJson(DataType type, const QJsonValue &value, qint64 *raw, QString *why)
{
    if (!value.isDouble()) {
        *why = QStringLiteral("value is not a number");
        return false;
    }
    const double number = value.toDouble();
    const bool integral = type != DataType::FixPt16 && type != DataType::Int32Q16
                          && type != DataType::Float32;
    if (!std::isfinite(number) || (integral && std::floor(number) != number)
        || std::fabs(number) > 1e15) {
        *why = QStringLiteral("value %1 is not a %2 value")
                   .arg(number).arg(integral ? QStringLiteral("whole") : QStringLiteral("finite"));
        return false;
    }
    *raw = Parameter::rawFromReal(type, number);
    if (!rawFits(type, *raw)) {
        *why = QStringLiteral("value %1 does not fit %2")
                   .arg(number)
                   .arg(QLatin1String(LustBus::dataTypeName(type)));
        return false;
    }
    return true;
}

QJsonValue rawToJson(const Parameter &p, int index)
{
    if (p.type == DataType::FixPt16 || p.type == DataType::Int32Q16
        || p.type == DataType::Float32)
        return p.real(index);
    return double(p.raw(index));
}

bool parameterFromJson(const QJsonObject &object, Parameter *parameter, QString *why)
{
    const QJsonValue numberValue = object.value(QStringLiteral("number"));
    const double number = numberValue.toDouble(-1);
    if (!numberValue.isDouble() || number < 0 || number > 65535 || std::floor(number) != number) {
        *why = QStringLiteral("\"number\" is not a whole number from 0 to 65535");
        return false;
    }
    const QString typeName = object.value(QStringLiteral("type")).toString();
    const DataType type = LustBus::dataTypeFromName(typeName);
    if (type == DataType::Unknown) {
        *why = QStringLiteral("\"type\" \"%1\" is not a data type name").arg(typeName);
        return false;
    }
    const QJsonValue readOnlyValue = object.value(QStringLiteral("readOnly"));
    if (!readOnlyValue.isUndefined() && !readOnlyValue.isBool()) {
        *why = QStringLiteral("\"readOnly\" is not true or false");
        return false;
    }
    const bool readOnly = readOnlyValue.toBool(false);
    const auto n = quint16(number);
    const QJsonValue value = object.value(QStringLiteral("value"));
    if (type == DataType::String) {
        if (!value.isString()) {
            *why = QStringLiteral("value of a STRING is not a string");
            return false;
        }
        const QByteArray text = value.toString().toUtf8();
        if (text.contains('\0') || text.contains('\x03') || text.contains('\x04')) {
            *why = QStringLiteral("text holds NUL, ETX or EOT, which end a telegram");
            return false;
        }
        *parameter = Parameter::text(n, text, readOnly);
        return true;
    }
    if (value.isArray()) {
        const QJsonArray items = value.toArray();
        if (items.isEmpty()) {
            *why = QStringLiteral("an array parameter needs at least one element");
            return false;
        }
        QVector<qint64> raws;
        for (int i = 0; i < items.size(); ++i) {
            qint64 raw = 0;
            if (!rawFromJson(type, items.at(i), &raw, why)) {
                *why = QStringLiteral("element %1: %2").arg(i).arg(*why);
                return false;
            }
            raws.append(raw);
        }
        *parameter = Parameter::array(n, type, raws, readOnly);
        return true;
    }
    qint64 raw = 0;
    if (!rawFromJson(type, value, &raw, why))
        return false;
    *parameter = Parameter::simple(n, type, raw, readOnly);
    return true;
}

} // namespace

ParameterTable ParameterTable::defaultTable()
{
    ParameterTable t;
    t.insert(Parameter::simple(10, DataType::Int8, -100));
    t.insert(Parameter::simple(11, DataType::USign8, 200));
    t.insert(Parameter::simple(12, DataType::Int16, -1234));
    t.insert(Parameter::simple(13, DataType::USign16, 0xABCD));
    t.insert(Parameter::simple(14, DataType::Int32, -123456));
    t.insert(Parameter::simple(15, DataType::USign32, 0xDEADBEEFLL));
    t.insert(Parameter::simple(16, DataType::Float32, Parameter::rawFromReal(DataType::Float32, 1.5)));
    t.insert(Parameter::simple(17, DataType::FixPt16, 25));
    t.insert(Parameter::simple(18, DataType::Int32Q16, -163840));
    t.insert(Parameter::text(19, "LUST CDE SIM"));
    t.insert(Parameter::simple(20, DataType::USign32, 0x00010203, true));
    t.insert(Parameter::text(21, "CDE", true));

    QVector<qint64> bytes, words, dwords, fix, q16, floats, constant, wide;
    for (int i = 0; i < 16; ++i)
        bytes.append(i);
    for (int i = 0; i < 8; ++i) {
        words.append(i % 2 ? -i : i);
        dwords.append(100000LL * i);
    }
    for (int i = 0; i < 4; ++i) {
        fix.append(20 * (i + 1));
        q16.append(65536LL * i);
        floats.append(Parameter::rawFromReal(DataType::Float32, 0.5 + i));
        constant.append(0x1111 * (i + 1));
    }
    for (int i = 0; i < 300; ++i)
        wide.append(i % 256);
    t.insert(Parameter::array(100, DataType::USign8, bytes));
    t.insert(Parameter::array(101, DataType::Int16, words));
    t.insert(Parameter::array(102, DataType::Int32, dwords));
    t.insert(Parameter::array(103, DataType::FixPt16, fix));
    t.insert(Parameter::array(104, DataType::Int32Q16, q16));
    t.insert(Parameter::array(105, DataType::Float32, floats));
    t.insert(Parameter::array(106, DataType::USign16, constant, true));
    t.insert(Parameter::simple(1000, DataType::Int16, 0x1234));
    t.insert(Parameter::array(1100, DataType::USign8, wide));
    return t;
}

bool ParameterTable::fromJson(const QByteArray &json, ParameterTable *table, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull()) {
        *error = QStringLiteral("parameter table: %1 at offset %2")
                     .arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    const QJsonValue list = document.object().value(QStringLiteral("parameters"));
    if (!list.isArray()) {
        *error = QStringLiteral("parameter table: no \"parameters\" array");
        return false;
    }
    ParameterTable parsed;
    const QJsonArray entries = list.toArray();
    for (int i = 0; i < entries.size(); ++i) {
        Parameter parameter;
        QString why;
        if (!entries.at(i).isObject()) {
            why = QStringLiteral("not an object");
        } else if (parameterFromJson(entries.at(i).toObject(), &parameter, &why)
                   && parsed.find(parameter.number)) {
            why = QStringLiteral("number %1 appears twice").arg(parameter.number);
        }
        if (!why.isEmpty()) {
            *error = QStringLiteral("parameter table: entry %1: %2").arg(i).arg(why);
            return false;
        }
        parsed.insert(parameter);
    }
    *table = parsed;
    return true;
}

bool ParameterTable::load(const QString &path, ParameterTable *table, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("parameter table \"%1\": %2").arg(path, file.errorString());
        return false;
    }
    return fromJson(file.readAll(), table, error);
}

QByteArray ParameterTable::toJson() const
{
    QJsonArray entries;
    for (const Parameter &p : m_parameters) {
        QJsonObject object;
        object.insert(QStringLiteral("number"), int(p.number));
        object.insert(QStringLiteral("type"), QLatin1String(LustBus::dataTypeName(p.type)));
        if (p.type == DataType::String) {
            object.insert(QStringLiteral("value"), QString::fromUtf8(p.data));
        } else if (p.isArray) {
            QJsonArray values;
            for (int i = 0; i < p.elementCount(); ++i)
                values.append(rawToJson(p, i));
            object.insert(QStringLiteral("value"), values);
        } else {
            object.insert(QStringLiteral("value"), rawToJson(p, 0));
        }
        if (p.readOnly)
            object.insert(QStringLiteral("readOnly"), true);
        entries.append(object);
    }
    QJsonObject root;
    root.insert(QStringLiteral("parameters"), entries);
    return QJsonDocument(root).toJson();
}

const Parameter *ParameterTable::find(quint16 number) const
{
    const auto it = m_parameters.constFind(number);
    return it == m_parameters.constEnd() ? nullptr : &it.value();
}

Parameter *ParameterTable::find(quint16 number)
{
    const auto it = m_parameters.find(number);
    return it == m_parameters.end() ? nullptr : &it.value();
}

void ParameterTable::insert(const Parameter &parameter)
{
    m_parameters.insert(parameter.number, parameter);
}

bool ParameterTable::remove(quint16 number)
{
    return m_parameters.remove(number) > 0;
}

} // namespace LustBusSim
