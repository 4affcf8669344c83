// Block checksums, sums and table-driven CRCs over raw bytes.
#ifndef TOOLS_CHECKSUMS_H
#define TOOLS_CHECKSUMS_H

#include <QtCore/QtGlobal>

// Exclusive-or of the bytes, starting from 0; 0 for a length of 0 or below.
quint8 xorChecksum(const char *bytes, int length);

#endif // TOOLS_CHECKSUMS_H
