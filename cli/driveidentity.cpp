#include "driveidentity.h"

#include <cmath>

using LustBus::CatalogueEntry;

QList<CatalogueEntry> DriveIdentity::entries(const LustBus::Catalogue &catalogue)
{
    QList<CatalogueEntry> marked;
    QList<CatalogueEntry> readOnly;
    for (const CatalogueEntry &entry : catalogue.entries) {
        if (entry.identity)
            marked.append(entry);
        else if (entry.readOnly && !entry.isArray())
            readOnly.append(entry);
    }
    return marked.isEmpty() ? readOnly : marked;
}

QString DriveIdentity::noEntriesText(const LustBus::Catalogue &catalogue)
{
    return QStringLiteral("catalogue %1 names nothing that identifies a drive (no entry with "
                          "\"identity\": true, no read-only simple parameter)")
        .arg(catalogue.fileName());
}

BusAccess::Outcome DriveIdentity::read(BusAccess &bus, int station,
                                       const QList<CatalogueEntry> &entries,
                                       DriveIdentity *identity, QString *error)
{
    DriveIdentity read;
    for (const CatalogueEntry &entry : entries) {
        QJsonValue value;
        const BusAccess::Outcome outcome = bus.read(station, entry, &value, error);
        if (outcome == BusAccess::Failed)
            error->prepend(entry.name + QStringLiteral(": "));
        if (outcome != BusAccess::Done)
            return outcome;
        read.m_parts.append({entry.name, value});
    }
    *identity = read;
    return BusAccess::Done;
}

bool DriveIdentity::fromJson(const QJsonValue &json, DriveIdentity *identity, QString *error)
{
    DriveIdentity parsed;
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!LustBus::Catalogue::isName(it.key())
            || !(it.value().isString() || it.value().isDouble()))
            break;
        parsed.m_parts.append({it.key(), it.value()});
    }
    if (parsed.isEmpty() || parsed.m_parts.size() != object.size()) {
        *error = QStringLiteral("\"identity\" is not an object of parameter names and their "
                                "numbers or texts");
        return false;
    }
    *identity = parsed;
    return true;
}

QJsonObject DriveIdentity::toJson() const
{
    QJsonObject object;
    for (const auto &[name, value] : m_parts)
        object.insert(name, value);
    return object;
}

QString DriveIdentity::text() const
{
    QStringList parts;
    for (const auto &[name, value] : m_parts) {
        const double number = value.toDouble();
        const QString shown = value.isString()
                                  ? QLatin1Char('"') + value.toString() + QLatin1Char('"')
                              : std::floor(number) == number && std::fabs(number) < 1e15
                                  ? QString::number(qint64(number))
                                  : CatalogueEntry::numberText(number);
        parts.append(name + QLatin1Char('=') + shown);
    }
    return parts.join(QLatin1String(", "));
}
