#include "parametertable.h"

#include <QtCore/QFile>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

namespace LustBusSim {

namespace {

QJsonValue rawToJson(const Parameter &p, int index)
{
    if (p.type == DataType::FixPt16 || p.type == DataType::Int32Q16
        || p.type == DataType::Float32)
        return p.real(index);
    return double(p.raw(index));
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

ParameterTable ParameterTable::fromCatalogue(const LustBus::Catalogue &catalogue)
{
    ParameterTable table;
    for (const LustBus::CatalogueEntry &entry : catalogue.entries) {
        if (entry.type == DataType::String) {
            table.insert(Parameter::text(entry.number, entry.startText, entry.readOnly));
            continue;
        }
        QVector<qint64> raws;
        for (double value : entry.start)
            raws.append(Parameter::rawFromReal(entry.type, value));
        table.insert(entry.isArray()
                         ? Parameter::array(entry.number, entry.type, raws, entry.readOnly)
                         : Parameter::simple(entry.number, entry.type, raws.value(0),
                                             entry.readOnly));
    }
    return table;
}

bool ParameterTable::fromJson(const QByteArray &json, ParameterTable *table, QString *error)
{
    return fromJson(json, QStringLiteral("parameter table"), table, error);
}

bool ParameterTable::fromJson(const QByteArray &json, const QString &source,
                              ParameterTable *table, QString *error)
{
    LustBus::Catalogue catalogue;
    if (!LustBus::Catalogue::fromJson(json, source, LustBus::Catalogue::Use::Simulator,
                                      &catalogue, error))
        return false;
    *table = fromCatalogue(catalogue);
    return true;
}

bool ParameterTable::load(const QString &path, ParameterTable *table, QString *error)
{
    QFile file(path);
    const QString source = QStringLiteral("parameter table \"%1\"").arg(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(source, file.errorString());
        return false;
    }
    return fromJson(file.readAll(), source, table, error);
}

QByteArray ParameterTable::toJson() const
{
    QJsonArray entries;
    for (const Parameter &p : m_parameters) {
        QJsonObject object;
        object.insert(QStringLiteral("number"), int(p.number));
        object.insert(QStringLiteral("type"), QLatin1String(LustBus::dataTypeName(p.type)));
        if (p.type == DataType::String) {
            object.insert(QStringLiteral("value"), QString::fromLatin1(p.data));
        } else if (p.isArray) {
            QJsonArray values;
            for (int i = 0; i < p.elementCount(); ++i)
                values.append(rawToJson(p, i));
            object.insert(QStringLiteral("value"), values);
        } else {
            object.insert(QStringLiteral("value"), rawToJson(p, 0));
        }
        if (p.readOnly)
            object.insert(QStringLiteral("access"), QStringLiteral("ro"));
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
