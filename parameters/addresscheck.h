// What lustbus, as a host, refuses in an address text that the driver would take: the
// driver reads a data type name outside its table as a raw value, passes blanks to
// QString::toInt, and ignores whatever follows a bit number, so a typo would still
// reach the servo. --raw-address skips these checks.
//
//   a data type name outside the ten    FOO:12, :12
//   blanks inside or around the text    " INT16:12", "INT16: 12"
//   characters after the bit number     USIGN16:13.4.5, INT16:12.4x
//   no form at all                      INT16, INT16:x
#ifndef LUSTBUS_ADDRESSCHECK_H
#define LUSTBUS_ADDRESSCHECK_H

#include <QtCore/QString>

namespace AddressCheck {

// The message for a usage error: "bad address 'TEXT': ..." with the cause, the forms
// and the ten data type names; empty when the text passes.
QString problem(const QString &text);

// "INT8, USIGN8, ..., STRING".
QString typeNames();

} // namespace AddressCheck

#endif // LUSTBUS_ADDRESSCHECK_H
