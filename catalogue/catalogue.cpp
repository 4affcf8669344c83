#include "catalogue.h"

#include "wirecodec.h"

#include <QtCore/QCryptographicHash>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QHash>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QLocale>
#include <QtCore/QRegularExpression>
#include <QtCore/QStringList>

#include <cfloat>
#include <cmath>

namespace LustBus {

namespace {

const QStringList &entryKeys()
{
    static const QStringList keys{
        QStringLiteral("name"),  QStringLiteral("number"),   QStringLiteral("type"),
        QStringLiteral("elements"), QStringLiteral("unit"),  QStringLiteral("access"),
        QStringLiteral("readOnly"), QStringLiteral("identity"), QStringLiteral("min"),
        QStringLiteral("max"),  QStringLiteral("description"), QStringLiteral("value"),
        QStringLiteral("device_class"), QStringLiteral("bits")};
    return keys;
}

// Integer types take whole numbers; the fixed-point types and FLOAT32 decimals.
bool isWholeType(DataType type)
{
    return type != DataType::Float32 && dataTypeInfo(type).rawPerUnit == 1;
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A value the type holds, in the servo's units: what the simulator turns into its raw
// number (rounded to the nearest step) must fit the raw number's width.
bool fitsType(DataType type, double value, QString *why)
{
    const QString typeName = QLatin1String(dataTypeName(type));
    if (!std::isfinite(value)) {
        *why = QStringLiteral("is not a finite number");
        return false;
    }
    if (isWholeType(type) && std::floor(value) != value) {
        *why = QStringLiteral("%1 is not a whole number, as %2 needs")
                   .arg(CatalogueEntry::numberText(value), typeName);
        return false;
    }
    const DataTypeInfo &info = dataTypeInfo(type);
    const qint64 raw = std::fabs(value) <= 1e15 ? std::llround(value * double(info.rawPerUnit)) : 0;
    const bool fits = type == DataType::Float32
                          ? std::fabs(value) <= double(FLT_MAX)
                          : std::fabs(value) <= 1e15 && raw >= info.rawMin()
                                && raw <= info.rawMax();
    if (!fits) {
        *why = QStringLiteral("%1 does not fit %2").arg(CatalogueEntry::numberText(value), typeName);
        return false;
    }
    return true;
}

bool numberOf(const QJsonObject &object, const QString &key, DataType type, double *value,
              QString *why)
{
    const QJsonValue json = object.value(key);
    if (!json.isDouble()) {
        *why = QStringLiteral("\"%1\" is not a number").arg(key);
        return false;
    }
    *value = json.toDouble();
    if (!fitsType(type, *value, why)) {
        *why = QStringLiteral("\"%1\" %2").arg(key, *why);
        return false;
    }
    return true;
}

bool textOf(const QJsonObject &object, const QString &key, QString *text, QString *why)
{
    const QJsonValue json = object.value(key);
    if (!json.isUndefined() && !json.isString()) {
        *why = QStringLiteral("\"%1\" is not a string").arg(key);
        return false;
    }
    *text = json.toString();
    return true;
}

bool startValue(const CatalogueEntry &entry, double value, QString *why)
{
    if (!fitsType(entry.type, value, why))
        return false;
    if (!entry.allows(value)) {
        *why = QStringLiteral("%1 lies outside the range %2")
                   .arg(CatalogueEntry::numberText(value), entry.rangeText());
        return false;
    }
    return true;
}

// Without a value the simulator starts at 0, or at the end of the range nearest to it.
double defaultStart(const CatalogueEntry &entry)
{
    double value = 0;
    if (entry.min && value < *entry.min)
        value = *entry.min;
    if (entry.max && value > *entry.max)
        value = *entry.max;
    return value;
}

// The longest text that one "write text" telegram to parameter carries; the data reply
// that reads it back is shorter.
int textCapacity(quint16 parameter)
{
    const QByteArray empty =
        LustBus::formatted(LustBus::formatWriteTextRequest, qint8(0), parameter, "", 0);
    return LustBus::BufferSize - int(empty.size());
}

bool textStart(const QJsonValue &value, CatalogueEntry *entry, QString *why)
{
    if (value.isUndefined())
        return true;
    if (!value.isString()) {
        *why = QStringLiteral("\"value\" of a STRING is not a string");
        return false;
    }
    const QString text = value.toString();
    for (QChar c : text) {
        // NUL ends the servo's text; ETX and EOT end telegrams.
        if (c.unicode() == 0 || c.unicode() == 3 || c.unicode() == 4) {
            *why = QStringLiteral("\"value\" holds NUL, ETX or EOT, which end a telegram");
            return false;
        }
        if (c.unicode() > 0xFF) {
            *why = QStringLiteral("\"value\" holds %1, which is not a Latin-1 character").arg(c);
            return false;
        }
    }
    entry->startText = text.toLatin1();
    const int most = textCapacity(entry->number);
    if (entry->startText.size() > most) {
        *why = QStringLiteral("\"value\" of %1 characters is longer than the %2 that one "
                              "telegram to parameter %3 carries")
                   .arg(entry->startText.size())
                   .arg(most)
                   .arg(entry->number);
        return false;
    }
    return true;
}

bool numericStart(const QJsonValue &value, CatalogueEntry *entry, QString *why)
{
    if (value.isArray()) {
        const QJsonArray items = value.toArray();
        if (items.isEmpty()) {
            *why = QStringLiteral("an array parameter needs at least one element");
            return false;
        }
        if (entry->elements == 0)
            entry->elements = int(items.size()); // the size gives the elements
        if (items.size() != entry->elements) {
            *why = QStringLiteral("\"value\" has %1 elements, \"elements\" says %2")
                       .arg(items.size())
                       .arg(entry->elements);
            return false;
        }
        for (int i = 0; i < items.size(); ++i) {
            if (!items.at(i).isDouble()) {
                *why = QStringLiteral("element %1 of \"value\" is not a number").arg(i);
                return false;
            }
            if (!startValue(*entry, items.at(i).toDouble(), why)) {
                *why = QStringLiteral("element %1 of \"value\": %2").arg(i).arg(*why);
                return false;
            }
            entry->start.append(items.at(i).toDouble());
        }
        return true;
    }
    if (value.isUndefined()) {
        entry->start = QVector<double>(entry->valueCount(), defaultStart(*entry));
        return true;
    }
    if (!value.isDouble()) {
        *why = QStringLiteral("\"value\" is not a number");
        return false;
    }
    if (entry->isArray()) {
        *why = QStringLiteral("\"value\" of an array parameter is a list of %1 numbers")
                   .arg(entry->elements);
        return false;
    }
    if (!startValue(*entry, value.toDouble(), why)) {
        *why = QStringLiteral("\"value\" ") + *why;
        return false;
    }
    entry->start = {value.toDouble()};
    return true;
}

// "access" or the older "readOnly", and "identity".
bool accessOf(const QJsonObject &object, CatalogueEntry *entry, QString *why)
{
    const QJsonValue access = object.value(QStringLiteral("access"));
    const QJsonValue readOnly = object.value(QStringLiteral("readOnly"));
    if (!access.isUndefined() && access != QJsonValue(QStringLiteral("rw"))
        && access != QJsonValue(QStringLiteral("ro"))) {
        *why = QStringLiteral("\"access\" is not \"rw\" or \"ro\"");
        return false;
    }
    if (!readOnly.isUndefined() && !readOnly.isBool()) {
        *why = QStringLiteral("\"readOnly\" is not true or false");
        return false;
    }
    if (!access.isUndefined() && !readOnly.isUndefined()) {
        const bool same = (access == QJsonValue(QStringLiteral("ro"))) == readOnly.toBool();
        *why = QStringLiteral("\"access\" \"%1\" and \"readOnly\" %2 %3; give one")
                   .arg(access.toString(),
                        readOnly.toBool() ? QStringLiteral("true") : QStringLiteral("false"),
                        same ? QStringLiteral("say the same") : QStringLiteral("contradict"));
        return false;
    }
    entry->readOnly = access == QJsonValue(QStringLiteral("ro")) || readOnly.toBool(false);
    const QJsonValue identity = object.value(QStringLiteral("identity"));
    if (!identity.isUndefined() && !identity.isBool()) {
        *why = QStringLiteral("\"identity\" is not true or false");
        return false;
    }
    entry->identity = identity.toBool(false);
    return true;
}

// What tells one drive from another is read in one request per parameter, and no write
// may change it.
bool identityFits(const CatalogueEntry &entry, QString *why)
{
    if (entry.identity && entry.isArray())
        *why = QStringLiteral("\"identity\" goes on a simple parameter, not on an array");
    else if (entry.identity && !entry.readOnly)
        *why = QStringLiteral("\"identity\" goes on a read-only parameter (\"access\": "
                              "\"ro\"): a write must not change what identifies the drive");
    else
        return true;
    return false;
}

// "min" and "max", in the type's values.
bool rangeOf(const QJsonObject &object, CatalogueEntry *entry, QString *why)
{
    for (const char *key : {"min", "max"}) {
        const QString k = QString::fromLatin1(key);
        if (object.value(k).isUndefined())
            continue;
        double bound = 0;
        if (entry->type == DataType::String) {
            *why = QStringLiteral("bad range: a STRING has no \"%1\"").arg(k);
            return false;
        }
        if (!numberOf(object, k, entry->type, &bound, why)) {
            *why = QStringLiteral("bad range: ") + *why;
            return false;
        }
        (k == QLatin1String("min") ? entry->min : entry->max) = bound;
    }
    if (entry->min && entry->max && *entry->min > *entry->max) {
        *why = QStringLiteral("bad range: \"min\" %1 lies above \"max\" %2")
                   .arg(CatalogueEntry::numberText(*entry->min),
                        CatalogueEntry::numberText(*entry->max));
        return false;
    }
    return true;
}

// The driver reads a simple INT32Q16 as a signed number that stops at 0x7FFFFFFF, so a
// negative value comes back as 32768.00: the tools could not read a range below 0.
// Array elements are read exactly.
bool readableRange(const CatalogueEntry &entry, QString *why)
{
    if (entry.type != DataType::Int32Q16 || entry.isArray() || (entry.min && *entry.min >= 0))
        return true;
    *why = QStringLiteral("a simple INT32Q16 needs a \"min\" of 0 or more: the driver's read "
                          "cannot give a negative value, which comes back as 32768.00");
    return false;
}

// "device_class": one of Home Assistant's identifiers (temperature, power_factor).
bool deviceClassOf(const QJsonObject &object, CatalogueEntry *entry, QString *why)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z][a-z0-9_]*$"));
    if (!textOf(object, QStringLiteral("device_class"), &entry->deviceClass, why))
        return false;
    if (object.contains(QStringLiteral("device_class"))
        && !pattern.match(entry->deviceClass).hasMatch()) {
        *why = QStringLiteral("\"device_class\" %1 is not a device class: a lower-case letter, "
                              "then lower-case letters, digits or _")
                   .arg(quoted(entry->deviceClass));
        return false;
    }
    return true;
}

// "bits": {"NAME": BIT, ...}, each bit of the value named once.
bool bitsOf(const QJsonObject &object, CatalogueEntry *entry, QString *why)
{
    const QJsonValue bits = object.value(QStringLiteral("bits"));
    if (bits.isUndefined())
        return true;
    const int width = entry->bitWidth();
    if (width == 0) {
        *why = entry->isArray()
                   ? QStringLiteral("\"bits\" goes on a simple parameter, not on an array")
                   : QStringLiteral("\"bits\" goes on an integer (INT8 to USIGN32), not on %1")
                         .arg(QLatin1String(dataTypeName(entry->type)));
        return false;
    }
    if (!bits.isObject()) {
        *why = QStringLiteral("\"bits\" is not an object of {\"NAME\": BIT, ...}");
        return false;
    }
    const QJsonObject named = bits.toObject();
    QHash<int, QString> byIndex;
    for (auto it = named.begin(); it != named.end(); ++it) {
        double index = 0;
        if (!Catalogue::isName(it.key())) {
            *why = QStringLiteral("\"bits\": %1 is not a name: a letter or _, then letters, "
                                  "digits or _")
                       .arg(quoted(it.key()));
            return false;
        }
        if (!Catalogue::isWholeNumber(it.value(), 0, width - 1, &index)) {
            *why = QStringLiteral("\"bits\": %1 is not a bit of %2: a whole number from 0 to %3")
                       .arg(quoted(it.key()), QLatin1String(dataTypeName(entry->type)))
                       .arg(width - 1);
            return false;
        }
        if (byIndex.contains(int(index))) {
            *why = QStringLiteral("\"bits\": %1 and %2 both name bit %3")
                       .arg(quoted(byIndex.value(int(index))), quoted(it.key()))
                       .arg(int(index));
            return false;
        }
        byIndex.insert(int(index), it.key());
        entry->bits.append({it.key(), int(index)});
    }
    return true;
}

bool entryFromJson(const QJsonObject &object, Catalogue::Use use, CatalogueEntry *entry,
                   QString *why)
{
    const QJsonValue name = object.value(QStringLiteral("name"));
    if (name.isString() && Catalogue::isName(name.toString()))
        entry->name = name.toString();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!entryKeys().contains(it.key())) {
            *why = QStringLiteral("unknown key \"%1\" (known: %2)")
                       .arg(it.key(), entryKeys().join(QLatin1String(", ")));
            return false;
        }
    }
    if (entry->name.isEmpty() && (!name.isUndefined() || use == Catalogue::Use::Tools)) {
        *why = name.isUndefined()
                   ? QStringLiteral("no \"name\"")
                   : QStringLiteral("\"name\" %1 is not a name: a letter or _, then letters, "
                                    "digits or _")
                         .arg(name.isString() ? quoted(name.toString())
                                              : QStringLiteral("(not a string)"));
        return false;
    }

    double number = 0;
    if (!Catalogue::isWholeNumber(object.value(QStringLiteral("number")), 0, 65535, &number)) {
        *why = QStringLiteral("\"number\" is not a whole number from 0 to 65535");
        return false;
    }
    entry->number = quint16(number);
    const QString typeName = object.value(QStringLiteral("type")).toString();
    entry->type = dataTypeFromName(typeName);
    if (entry->type == DataType::Unknown) {
        QStringList known;
        for (int t = 0; t < int(DataType::Unknown); ++t)
            known.append(QLatin1String(dataTypeName(DataType(t))));
        *why = QStringLiteral("\"type\" %1 is not a data type: %2")
                   .arg(quoted(typeName), known.join(QLatin1String(", ")));
        return false;
    }

    if (!accessOf(object, entry, why))
        return false;

    const bool text = entry->type == DataType::String;
    const QJsonValue elements = object.value(QStringLiteral("elements"));
    if (!elements.isUndefined()) {
        double count = 0;
        if (text || !Catalogue::isWholeNumber(elements, 1, 65535, &count)) {
            *why = text ? QStringLiteral("a STRING has no \"elements\"")
                        : QStringLiteral("\"elements\" is not a whole number from 1 to 65535");
            return false;
        }
        entry->elements = int(count);
    }
    if (!textOf(object, QStringLiteral("unit"), &entry->unit, why)
        || !textOf(object, QStringLiteral("description"), &entry->description, why))
        return false;

    if (!rangeOf(object, entry, why))
        return false;
    const QJsonValue value = object.value(QStringLiteral("value"));
    if (!(text ? textStart(value, entry, why) : numericStart(value, entry, why)))
        return false;
    if (!deviceClassOf(object, entry, why) || !bitsOf(object, entry, why))
        return false;
    return identityFits(*entry, why)
           && (use == Catalogue::Use::Simulator || readableRange(*entry, why));
}

QString duplicateOf(const CatalogueEntry &entry, int index, const QHash<QString, int> &byName,
                    const QHash<int, int> &byNumber)
{
    if (byNumber.contains(entry.number))
        return QStringLiteral("number %1 appears twice (entries %2 and %3)")
            .arg(entry.number)
            .arg(byNumber.value(entry.number))
            .arg(index);
    if (!entry.name.isEmpty() && byName.contains(entry.name))
        return QStringLiteral("name \"%1\" appears twice (entries %2 and %3)")
            .arg(entry.name)
            .arg(byName.value(entry.name))
            .arg(index);
    return QString();
}

} // namespace

bool CatalogueEntry::allows(double value) const
{
    if (type == DataType::Float32) {
        const auto f = float(value);
        return (!min || f >= float(*min)) && (!max || f <= float(*max));
    }
    return (!min || value >= *min) && (!max || value <= *max);
}

int CatalogueEntry::bitWidth() const
{
    const DataTypeInfo &info = dataTypeInfo(type);
    const bool integer = info.form == HostForm::Integer && !info.isScaled();
    return integer && !isArray() ? info.telegramWidth * 8 : 0;
}

int CatalogueEntry::firstOutside(const QVector<double> &values) const
{
    for (int i = 0; i < values.size(); ++i) {
        if (!allows(values.at(i)))
            return i;
    }
    return -1;
}

QString CatalogueEntry::rangeText() const
{
    if (min && max)
        return QStringLiteral("%1 to %2").arg(numberText(*min), numberText(*max));
    if (min)
        return QStringLiteral("%1 or more").arg(numberText(*min));
    if (max)
        return QStringLiteral("%1 or less").arg(numberText(*max));
    return QString();
}

QString CatalogueEntry::numberText(double value)
{
    // Whole numbers as the integer types have them: -1000000, not -1e+06.
    if (std::floor(value) == value && std::fabs(value) < 1e15)
        return QString::number(qint64(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

bool Catalogue::load(const QString &path, Catalogue *catalogue, QString *error)
{
    const QString source = QStringLiteral("catalogue \"%1\"").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(source, file.errorString());
        return false;
    }
    Catalogue loaded;
    if (!fromJson(file.readAll(), source, Use::Tools, &loaded, error))
        return false;
    loaded.path = path;
    *catalogue = loaded;
    return true;
}

bool Catalogue::fromJson(const QByteArray &json, const QString &source, Use use,
                         Catalogue *catalogue, QString *error)
{
    auto refuse = [&](const QString &why) {
        *error = QStringLiteral("%1: %2").arg(source, why);
        return false;
    };
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (document.isNull())
        return refuse(QStringLiteral("not JSON: %1 at offset %2")
                          .arg(parseError.errorString())
                          .arg(parseError.offset));
    if (!document.isObject())
        return refuse(QStringLiteral("not a JSON object"));
    const QJsonObject root = document.object();
    Catalogue parsed;
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QString key = it.key();
        if (key != QLatin1String("drive") && key != QLatin1String("version")
            && key != QLatin1String("parameters"))
            return refuse(QStringLiteral("unknown key \"%1\" (known: drive, version, "
                                         "parameters)")
                              .arg(key));
    }
    const QJsonValue drive = root.value(QStringLiteral("drive"));
    if (!drive.isUndefined() && !drive.isString())
        return refuse(QStringLiteral("\"drive\" is not a string"));
    parsed.drive = drive.toString();
    const QJsonValue version = root.value(QStringLiteral("version"));
    double versionNumber = 0;
    if (!version.isUndefined() && !Catalogue::isWholeNumber(version, 0, 2147483647, &versionNumber))
        return refuse(QStringLiteral("\"version\" is not a whole number of 0 or more"));
    parsed.version = int(versionNumber);
    const QJsonValue list = root.value(QStringLiteral("parameters"));
    if (!list.isArray())
        return refuse(QStringLiteral("no \"parameters\" array"));

    const QJsonArray items = list.toArray();
    QHash<QString, int> byName;
    QHash<int, int> byNumber;
    for (int i = 0; i < items.size(); ++i) {
        CatalogueEntry entry;
        QString why;
        if (!items.at(i).isObject())
            why = QStringLiteral("not an object");
        else if (entryFromJson(items.at(i).toObject(), use, &entry, &why))
            why = duplicateOf(entry, i, byName, byNumber);
        if (!why.isEmpty())
            return refuse(QStringLiteral("entry %1%2: %3")
                              .arg(i)
                              .arg(entry.name.isEmpty() ? QString()
                                                        : QStringLiteral(" (%1)").arg(quoted(entry.name)))
                              .arg(why));
        byNumber.insert(entry.number, i);
        if (!entry.name.isEmpty())
            byName.insert(entry.name, i);
        parsed.entries.append(entry);
    }
    parsed.sha256 = QString::fromLatin1(
        QCryptographicHash::hash(json, QCryptographicHash::Sha256).toHex());
    *catalogue = parsed;
    return true;
}

bool Catalogue::isName(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return pattern.match(text).hasMatch();
}

bool Catalogue::isWholeNumber(const QJsonValue &json, double min, double max, double *value)
{
    const double number = json.toDouble(-1);
    if (value)
        *value = number;
    return json.isDouble() && std::floor(number) == number && number >= min && number <= max;
}

const CatalogueEntry *Catalogue::find(const QString &name) const
{
    for (const CatalogueEntry &entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

QString Catalogue::fileName() const
{
    return QFileInfo(path).fileName();
}

} // namespace LustBus
