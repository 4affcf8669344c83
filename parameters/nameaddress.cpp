#include "nameaddress.h"

#include "valuetext.h"

#include <QtCore/QRegularExpression>

using LustBus::CatalogueEntry;
using LustBus::DataType;

namespace {

QString formsText()
{
    return QStringLiteral("expected a catalogue name NAME, NAME[I], NAME[I..J], NAME.BIT or "
                          "NAME[I].BIT, or TYPE:PARAM, TYPE:PARAM:INDEX, TYPE:PARAM.BIT or "
                          "TYPE:PARAM:INDEX.BIT");
}

// A whole number from digits; -1 when it does not fit an int.
int indexNumber(const QString &digits)
{
    bool ok = false;
    const int value = digits.toInt(&ok, 10);
    return ok ? value : -1;
}

} // namespace

bool NameAddress::resolve(const QString &text, const LustBus::Catalogue *catalogue,
                          const QString &kindText, const QString &countText,
                          RequestAddress::TextCheck check, RequestAddress *address,
                          NameAddress *named, QString *error)
{
    *named = NameAddress();
    static const QRegularExpression nameForm(QStringLiteral(
        "^([A-Za-z_][A-Za-z0-9_]*)(?:\\[([0-9]+)(?:\\.\\.([0-9]+))?\\])?(?:\\.([0-9]+))?$"));
    const QRegularExpressionMatch match = nameForm.match(text);
    if (check == RequestAddress::TextCheck::Raw || text.contains(QLatin1Char(':'))
        || (!catalogue && !match.hasMatch()))
        return RequestAddress::resolve(text, kindText, countText, address, error, check);
    if (!catalogue) {
        *error = QStringLiteral("bad address '%1': a name needs the drive's catalogue: give "
                                "--catalogue FILE or set LUSTBUS_CATALOGUE (numeric addresses "
                                "such as INT16:12 need none)")
                     .arg(text);
        return false;
    }
    if (!match.hasMatch()) {
        *error = QStringLiteral("bad address '%1': %2").arg(text, formsText());
        return false;
    }
    const CatalogueEntry *entry = catalogue->find(match.captured(1));
    if (!entry) {
        *error = QStringLiteral("bad address '%1': catalogue %2 has no parameter '%3'")
                     .arg(text, catalogue->fileName(), match.captured(1));
        return false;
    }
    const QString name = entry->name;
    const bool hasIndex = !match.captured(2).isEmpty();
    const bool range = !match.captured(3).isEmpty();
    const int bit = match.captured(4).isEmpty() ? -1 : indexNumber(match.captured(4));
    auto refuse = [&](const QString &why) {
        *error = QStringLiteral("'%1': %2").arg(text, why);
        return false;
    };
    if (hasIndex && !entry->isArray())
        return refuse(QStringLiteral("%1 is a simple parameter, without elements").arg(name));
    if (bit >= 0 && entry->type == DataType::String)
        return refuse(QStringLiteral("%1 is a STRING, which has no bits").arg(name));
    const int first = hasIndex ? indexNumber(match.captured(2)) : -1;
    const int last = range ? indexNumber(match.captured(3)) : first;
    const QString elementsText = QStringLiteral("%1 has elements 0 to %2")
                                     .arg(name)
                                     .arg(entry->elements - 1);
    if (hasIndex && (first < 0 || first >= entry->elements || last < 0
                     || last >= entry->elements))
        return refuse(elementsText);
    if (last < first)
        return refuse(QStringLiteral("the range %1..%2 runs backwards").arg(first).arg(last));
    if (range && !countText.isEmpty())
        return refuse(QStringLiteral("--count and the range [%1..%2] both give the number of "
                                     "elements; give one")
                          .arg(first)
                          .arg(last));

    named->entry = entry;
    named->catalogueName = catalogue->fileName();
    named->bit = bit;
    named->first = entry->isArray() ? qMax(first, 0) : -1;
    if (range)
        named->count = last - first + 1;
    else if (entry->isArray() && !hasIndex && bit < 0 && countText.isEmpty())
        named->count = entry->elements;
    const int index = entry->isArray() ? named->first : -1;
    QString count = countText;
    if (named->count > 0)
        count = QString::number(named->count);
    if (entry->isArray() && bit < 0) {
        const int perRequest = RequestAddress::elementsPerRequest(entry->type);
        if (named->count > perRequest)
            return refuse(QStringLiteral("%1 elements of %2 are more than one request carries "
                                         "(%3); name a range such as %4[%5..%6], or read them "
                                         "all with backup or list --values")
                              .arg(named->count)
                              .arg(QLatin1String(LustBus::dataTypeName(entry->type)))
                              .arg(perRequest)
                              .arg(name)
                              .arg(index)
                              .arg(index + perRequest - 1));
    }
    const QString numeric = numericText(*entry, index, bit);
    if (!RequestAddress::resolve(numeric, kindText, count, address, error, check)) {
        *error = QStringLiteral("'%1' (%2): %3").arg(text, numeric, *error);
        return false;
    }
    if (entry->isArray() && bit < 0 && quint64(index) + address->count > quint64(entry->elements))
        return refuse(QStringLiteral("%1; %2 elements from %3 reach past the last")
                          .arg(elementsText)
                          .arg(address->count)
                          .arg(index));
    address->name = text;
    address->unit = entry->unit;
    return true;
}

bool NameAddress::checkWrite(const RequestAddress &address, const QByteArray &held,
                             QString *error) const
{
    if (!entry)
        return true;
    const QString &text = address.name;
    if (entry->readOnly) {
        *error = QStringLiteral("'%1' is read-only (access \"ro\" in catalogue %2); nothing "
                                "was sent")
                     .arg(text, catalogueName);
        return false;
    }
    const bool ranged = entry->min || entry->max;
    if (address.bitForm) {
        if (!ranged)
            return true;
        *error = QStringLiteral("'%1': %2 has a range (%3), which a bit write cannot check; "
                                "write the whole value instead")
                     .arg(text, entry->name, entry->rangeText());
        return false;
    }
    if (entry->type == DataType::String)
        return true;
    const QVector<double> values = ValueText::numbers(entry->type, held);
    if (count > 0 && values.size() != count) {
        *error = QStringLiteral("'%1' names %2 elements, and the value has %3 (%4[%5..%6] "
                                "names as many)")
                     .arg(text)
                     .arg(count)
                     .arg(values.size())
                     .arg(entry->name)
                     .arg(first)
                     .arg(first + values.size() - 1);
        return false;
    }
    if (entry->isArray() && first + values.size() > entry->elements) {
        *error = QStringLiteral("'%1': %2 values from element %3 reach past the last element "
                                "of %4, %5")
                     .arg(text)
                     .arg(values.size())
                     .arg(first)
                     .arg(entry->name)
                     .arg(entry->elements - 1);
        return false;
    }
    const int i = entry->firstOutside(values);
    if (i < 0)
        return true;
    const int width = LustBus::dataTypeInfo(entry->type).hostWidth;
    const QString where =
        entry->isArray() ? QStringLiteral("element %1 = ").arg(first + i) : QString();
    *error = QStringLiteral("'%1': %2%3%4 lies outside its range %5%4 (catalogue %6); "
                            "nothing was sent")
                 .arg(text, where, ValueText::format(entry->type, held.mid(i * width, width), false),
                      address.unitSuffix(), entry->rangeText(), catalogueName);
    return false;
}

QString NameAddress::numericText(const CatalogueEntry &entry, int index, int bit)
{
    QString text = QStringLiteral("%1:%2").arg(QLatin1String(LustBus::dataTypeName(entry.type)))
                       .arg(entry.number);
    if (index >= 0)
        text += QStringLiteral(":%1").arg(index);
    else if (entry.type == DataType::String)
        text += QStringLiteral(":0");
    if (bit >= 0)
        text += QStringLiteral(".%1").arg(bit);
    return text;
}
