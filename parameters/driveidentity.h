// What tells one drive from another: the values of the catalogue's entries marked
// "identity": true (serial number, device name, firmware version...) or, in a catalogue
// that marks none, of every read-only simple parameter, in catalogue order. A command
// reads it before its first write and again after its link was reopened, so that a
// drive that took another's place on the link is noticed before anything is written
// to it or mixed with what the first one gave.
//
// As JSON an object of the names and their values in the form read --json gives them;
// as text "drive_type=\"CDE\", firmware_version=66051", by name.
#ifndef LUSTBUS_DRIVEIDENTITY_H
#define LUSTBUS_DRIVEIDENTITY_H

#include "busaccess.h"
#include "catalogue.h"

#include <QtCore/QJsonObject>
#include <QtCore/QList>

class DriveIdentity
{
public:
    // The entries that identify a drive of catalogue; none: it cannot identify one.
    static QList<LustBus::CatalogueEntry> entries(const LustBus::Catalogue &catalogue);
    // Why a drive cannot be identified through catalogue, which gives no entries.
    static QString noEntriesText(const LustBus::Catalogue &catalogue);

    // Reads every entry from station; stops at the first failure, with "NAME: error".
    // The result of the last request: what the line did, for a caller that follows it.
    static BusAccess::Result read(BusAccess &bus, int station,
                                  const QList<LustBus::CatalogueEntry> &entries,
                                  DriveIdentity *identity, QString *error);

    // A set's "identity" object; false with the cause.
    static bool fromJson(const QJsonValue &json, DriveIdentity *identity, QString *error);
    QJsonObject toJson() const { return m_values; }
    QString text() const;
    bool isEmpty() const { return m_values.isEmpty(); }

    bool operator==(const DriveIdentity &other) const { return m_values == other.m_values; }
    bool operator!=(const DriveIdentity &other) const { return !(*this == other); }

private:
    QJsonObject m_values;
};

#endif // LUSTBUS_DRIVEIDENTITY_H
