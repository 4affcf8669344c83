// Parameters named by their catalogue name, beside the numeric address texts:
//
//   NAME           the whole parameter: a simple value, a STRING's text (through the
//                  element form, STRING:19:0), or every element of an array
//   NAME[I]        element I of an array (--count elements from I on)
//   NAME[I..J]     elements I to J
//   NAME.B         --count bits from bit B of a simple parameter
//   NAME[I].B      the same in the elements from I on
//
// A name stands for the numeric address of its catalogue entry (speed_setpoint is
// INT16:12, gains[2..5] INT16:101:2 with count 4), which is what the driver gets and
// what its error texts name. Texts with a ':' are numeric addresses and go as before,
// without the catalogue's checks.
#ifndef LUSTBUS_NAMEADDRESS_H
#define LUSTBUS_NAMEADDRESS_H

#include "catalogue.h"
#include "requestaddress.h"

class NameAddress
{
public:
    // The address text as typed: a numeric one, or a name form when a catalogue is
    // given. The numeric text goes through RequestAddress::resolve with kindText and
    // countText; a name fills address->name and address->unit and *named. False with
    // the message of a usage error.
    static bool resolve(const QString &text, const LustBus::Catalogue *catalogue,
                        const QString &kindText, const QString &countText,
                        RequestAddress::TextCheck check, RequestAddress *address,
                        NameAddress *named, QString *error);

    // Before a write by name, with the host data the servo will hold: refused when the
    // parameter is "ro", when the value does not fill the elements the form names,
    // when it reaches past the array, or when a value lies outside min and max. A bit
    // write is refused on a parameter with a range, whose whole value it cannot see.
    bool checkWrite(const RequestAddress &address, const QByteArray &held,
                    QString *error) const;

    // TYPE:PARAM[:INDEX][.BIT] of an entry (index and bit -1: none); a STRING's text
    // goes through its element form, STRING:19:0.
    static QString numericText(const LustBus::CatalogueEntry &entry, int index, int bit);

    const LustBus::CatalogueEntry *entry = nullptr; //!< null: a numeric address
    QString catalogueName;
    int first = -1; //!< element index of NAME[I], NAME[I..J]; 0 for a whole array
    int count = 0;  //!< elements the form names (whole array, range), else 0
    int bit = -1;
};

#endif // LUSTBUS_NAMEADDRESS_H
