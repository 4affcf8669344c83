#include "setcomparison.h"

#include "valuetext.h"

using LustBus::DataType;

namespace {

// One element of an array, or a simple value.
QString elementText(const ParameterSet::Value &value, const QByteArray &host)
{
    ParameterSet::Value element = value;
    element.elements = 0;
    return element.text(host);
}

// One side of a difference: its text and, in the JSON object, its value or error.
void side(const char *key, const ParameterSet::Value *value, const QByteArray &host, bool list,
          QString *text, QJsonObject *json)
{
    const QString name = QLatin1String(key);
    if (!value) {
        *text = QStringLiteral("(not in the set)");
        json->insert(name, QJsonValue());
    } else if (!value->error.isEmpty()) {
        *text = QStringLiteral("(%1)").arg(value->error);
        json->insert(name, QJsonValue());
        json->insert(name + QStringLiteral("Error"), value->error);
    } else {
        *text = list ? value->text(host) : elementText(*value, host);
        json->insert(name, ValueText::toJson(value->type, host, list));
    }
}

SetComparison::Difference difference(const QString &name, int index,
                                     const ParameterSet::Value *a, const QByteArray &aHost,
                                     const ParameterSet::Value *b, const QByteArray &bHost,
                                     bool list)
{
    SetComparison::Difference d;
    d.where = index < 0 ? name : QStringLiteral("%1[%2]").arg(name).arg(index);
    d.json.insert(QStringLiteral("name"), name);
    if (index >= 0)
        d.json.insert(QStringLiteral("index"), index);
    const ParameterSet::Value *described = a ? a : b;
    if (!described->unit.isEmpty())
        d.json.insert(QStringLiteral("unit"), described->unit);
    side("a", a, aHost, list, &d.a, &d.json);
    side("b", b, bHost, list, &d.b, &d.json);
    return d;
}

QString described(const ParameterSet::Value &value)
{
    QString text = QStringLiteral("(%1:%2").arg(QLatin1String(LustBus::dataTypeName(value.type)))
                       .arg(value.number);
    if (value.isArray())
        text += QStringLiteral(", %1 elements").arg(value.elements);
    return text + QLatin1Char(')');
}

} // namespace

QList<SetComparison::Difference> SetComparison::compare(const ParameterSet &a,
                                                         const ParameterSet &b)
{
    QList<Difference> differences;
    for (const ParameterSet::Value &va : a.values) {
        const ParameterSet::Value *vb = b.find(va.name);
        // Without a value on a side, equal is unknown: listed, even with one error on both.
        if (!vb || !va.error.isEmpty() || !vb->error.isEmpty()) {
            differences.append(difference(va.name, -1, &va, va.host, vb,
                                          vb ? vb->host : QByteArray(), va.isArray()));
            continue;
        }
        if (va.number != vb->number || va.type != vb->type || va.elements != vb->elements) {
            Difference d = difference(va.name, -1, &va, va.host, vb, vb->host, va.isArray());
            d.a = described(va);
            d.b = described(*vb);
            differences.append(d);
            continue;
        }
        if (va.host == vb->host)
            continue;
        if (!va.isArray()) {
            differences.append(difference(va.name, -1, &va, va.host, vb, vb->host, false));
            continue;
        }
        const int width = LustBus::dataTypeInfo(va.type).hostWidth;
        for (int i = 0; i < va.elements; ++i) {
            const QByteArray ea = va.host.mid(i * width, width);
            const QByteArray eb = vb->host.mid(i * width, width);
            if (ea != eb)
                differences.append(difference(va.name, i, &va, ea, vb, eb, false));
        }
    }
    for (const ParameterSet::Value &vb : b.values) {
        if (!a.find(vb.name))
            differences.append(difference(vb.name, -1, nullptr, QByteArray(), &vb, vb.host,
                                          vb.isArray()));
    }
    return differences;
}

QString SetComparison::line(const Difference &difference)
{
    return QStringLiteral("%1: %2 -> %3").arg(difference.where, difference.a, difference.b);
}
