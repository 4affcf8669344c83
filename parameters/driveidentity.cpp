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

BusAccess::Result DriveIdentity::read(BusAccess &bus, int station,
                                      const QList<CatalogueEntry> &entries,
                                      DriveIdentity *identity, QString *error)
{
    DriveIdentity read;
    BusAccess::Result result;
    result.outcome = BusAccess::Done;
    for (const CatalogueEntry &entry : entries) {
        QJsonValue value;
        result = bus.read(station, entry, &value, false);
        if (result.outcome != BusAccess::Done) {
            *error = result.error;
            if (result.outcome != BusAccess::Stopped)
                error->prepend(entry.name + QStringLiteral(": "));
            return result;
        }
        read.m_values.insert(entry.name, value);
    }
    *identity = read;
    return result;
}

bool DriveIdentity::fromJson(const QJsonValue &json, DriveIdentity *identity, QString *error)
{
    const QJsonObject object = json.toObject();
    bool good = !object.isEmpty();
    for (auto it = object.begin(); it != object.end(); ++it)
        good = good && LustBus::Catalogue::isName(it.key())
               && (it.value().isString() || it.value().isDouble());
    if (!good) {
        *error = QStringLiteral("\"identity\" is not an object of parameter names and their "
                                "numbers or texts");
        return false;
    }
    identity->m_values = object;
    return true;
}

QString DriveIdentity::text() const
{
    QStringList parts;
    for (auto it = m_values.begin(); it != m_values.end(); ++it) {
        const double number = it.value().toDouble();
        const QString shown = it.value().isString()
                                  ? QLatin1Char('"') + it.value().toString() + QLatin1Char('"')
                              : std::floor(number) == number && std::fabs(number) < 1e15
                                  ? QString::number(qint64(number))
                                  : CatalogueEntry::numberText(number);
        parts.append(it.key() + QLatin1Char('=') + shown);
    }
    return parts.join(QLatin1String(", "));
}
