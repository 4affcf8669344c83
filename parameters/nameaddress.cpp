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

// A usage error about the text as typed; always false.
bool refuse(const QString &text, const QString &why, QString *error)
{
    *error = QStringLiteral("'%1': %2").arg(text, why);
    return false;
}

// NAME[I..J].B as the name form's match gives it; first and last -1 without [I].
struct NameForm
{
    bool hasIndex = false;
    bool range = false;
    int first = -1;
    int last = -1;
    int bit = -1;
};

NameForm nameForm(const QRegularExpressionMatch &match)
{
    NameForm form;
    form.hasIndex = !match.captured(2).isEmpty();
    form.range = !match.captured(3).isEmpty();
    form.bit = match.captured(4).isEmpty() ? -1 : indexNumber(match.captured(4));
    form.first = form.hasIndex ? indexNumber(match.captured(2)) : -1;
    form.last = form.range ? indexNumber(match.captured(3)) : form.first;
    return form;
}

QString elementsText(const CatalogueEntry &entry)
{
    return QStringLiteral("%1 has elements 0 to %2").arg(entry.name).arg(entry.elements - 1);
}

// The form against the entry: elements only of an array and inside it, bits not of a
// text, and a range or --count, not both.
bool checkForm(const QString &text, const CatalogueEntry &entry, const NameForm &form,
               const QString &countText, QString *error)
{
    const QString &name = entry.name;
    if (form.hasIndex && !entry.isArray())
        return refuse(text, QStringLiteral("%1 is a simple parameter, without elements").arg(name),
                      error);
    if (form.bit >= 0 && entry.type == DataType::String)
        return refuse(text, QStringLiteral("%1 is a STRING, which has no bits").arg(name), error);
    if (form.hasIndex && (form.first < 0 || form.first >= entry.elements || form.last < 0
                          || form.last >= entry.elements))
        return refuse(text, elementsText(entry), error);
    if (form.last < form.first)
        return refuse(text, QStringLiteral("the range %1..%2 runs backwards")
                                .arg(form.first)
                                .arg(form.last),
                      error);
    if (form.range && !countText.isEmpty())
        return refuse(text, QStringLiteral("--count and the range [%1..%2] both give the number "
                                           "of elements; give one")
                                .arg(form.first)
                                .arg(form.last),
                      error);
    return true;
}

// The elements that one element read carries, for a name of a whole array or a range.
bool checkPerRequest(const QString &text, const CatalogueEntry &entry, const NameAddress &named,
                     QString *error)
{
    const int perRequest = RequestAddress::elementsPerRequest(entry.type);
    if (named.count <= perRequest)
        return true;
    return refuse(text, QStringLiteral("%1 elements of %2 are more than one request carries "
                                       "(%3); name a range such as %4[%5..%6], or read them "
                                       "all with backup or list --values")
                            .arg(named.count)
                            .arg(QLatin1String(LustBus::dataTypeName(entry.type)))
                            .arg(perRequest)
                            .arg(entry.name)
                            .arg(named.first)
                            .arg(named.first + perRequest - 1),
                  error);
}

// The catalogue entry of the name; null with the error when there is none.
const CatalogueEntry *findEntry(const QString &text, const LustBus::Catalogue *catalogue,
                                const QRegularExpressionMatch &match, QString *error)
{
    if (!catalogue) {
        *error = QStringLiteral("bad address '%1': a name needs the drive's catalogue: give "
                                "--catalogue FILE or set LUSTBUS_CATALOGUE (numeric addresses "
                                "such as INT16:12 need none)")
                     .arg(text);
        return nullptr;
    }
    if (!match.hasMatch()) {
        *error = QStringLiteral("bad address '%1': %2").arg(text, formsText());
        return nullptr;
    }
    const CatalogueEntry *entry = catalogue->find(match.captured(1));
    if (!entry)
        *error = QStringLiteral("bad address '%1': catalogue %2 has no parameter '%3'")
                     .arg(text, catalogue->fileName(), match.captured(1));
    return entry;
}

} // namespace

bool NameAddress::resolve(const QString &text, const LustBus::Catalogue *catalogue,
                          const QString &kindText, const QString &countText,
                          RequestAddress::TextCheck check, RequestAddress *address,
                          NameAddress *named, QString *error)
{
    *named = NameAddress();
    static const QRegularExpression nameFormText(QStringLiteral(
        "^([A-Za-z_][A-Za-z0-9_]*)(?:\\[([0-9]+)(?:\\.\\.([0-9]+))?\\])?(?:\\.([0-9]+))?$"));
    const QRegularExpressionMatch match = nameFormText.match(text);
    if (check == RequestAddress::TextCheck::Raw || text.contains(QLatin1Char(':'))
        || (!catalogue && !match.hasMatch()))
        return RequestAddress::resolve(text, kindText, countText, address, error, check);
    const CatalogueEntry *entry = findEntry(text, catalogue, match, error);
    if (!entry)
        return false;
    const NameForm form = nameForm(match);
    if (!checkForm(text, *entry, form, countText, error))
        return false;

    named->entry = entry;
    named->catalogueName = catalogue->fileName();
    named->bit = form.bit;
    named->first = entry->isArray() ? qMax(form.first, 0) : -1;
    if (form.range)
        named->count = form.last - form.first + 1;
    else if (entry->isArray() && !form.hasIndex && form.bit < 0 && countText.isEmpty())
        named->count = entry->elements;
    const int index = named->first;
    if (entry->isArray() && form.bit < 0 && !checkPerRequest(text, *entry, *named, error))
        return false;
    const QString count = named->count > 0 ? QString::number(named->count) : countText;
    const QString numeric = numericText(*entry, index, form.bit);
    if (!RequestAddress::resolve(numeric, kindText, count, address, error, check)) {
        *error = QStringLiteral("'%1' (%2): %3").arg(text, numeric, *error);
        return false;
    }
    if (entry->isArray() && form.bit < 0
        && quint64(index) + address->count > quint64(entry->elements))
        return refuse(text, QStringLiteral("%1; %2 elements from %3 reach past the last")
                                .arg(elementsText(*entry))
                                .arg(address->count)
                                .arg(index),
                      error);
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
