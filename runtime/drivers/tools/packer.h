// Packing and unpacking of byte-oriented telegrams, field by field, from a template
// text (in the manner of Perl's pack). A template is a zero-terminated string of items
// read from left to right; an item is a letter, or a decimal count and a letter.
//
//   letter alone   packs one value from the next argument (an int or unsigned int; only
//                  its low 8, 16 or 32 bits are used) / unpacks into the target that the
//                  next argument points at (quint8 *, quint16 * or quint32 *)
//     C c          1 byte
//     S s v        2 bytes, little-endian
//     n            2 bytes, big-endian
//     I L V i l    4 bytes, little-endian
//     N            4 bytes, big-endian
//     x            packs one zero byte / skips one input byte; takes no argument
//     X            Pack skips one output byte, leaving it as it is; PackToArray
//                  appends a zero byte; Unpack skips one input byte; no argument
//   count letter   the next argument points at the source / target area, whose values
//                  are in the machine's byte order
//     C c          copies count bytes
//     v / V        copies 2 * count / 4 * count bytes unchanged
//     n / N        count 16-bit / 32-bit values, each big-endian in the telegram
//     x            Pack writes count zero bytes; Unpack skips count input bytes;
//                  PackToArray: error; no argument
//     X            Pack skips count output bytes; Unpack skips count input bytes;
//                  PackToArray: error; no argument
//
// Errors, reported before the item is packed; bytes of earlier items stay written:
// - a bad count form (a count of 0 before anything but x or X, a count before a letter
//   that the list above does not give a count form, a count at the end of the template,
//   or items that add up to more than INT_MAX bytes): Pack and Unpack give -1;
// - an unlisted character where a letter is due: Pack gives 0, Unpack gives -1;
// - a null output, input, source or target pointer: -1;
// PackToArray gives an empty array for every error.
//
// The caller guarantees that the raw output and input hold the bytes that the template
// names. The V-forms take a va_list and do the work; the variadic forms forward to them.
#ifndef TOOLS_PACKER_H
#define TOOLS_PACKER_H

#include <QtCore/QByteArray>

#include <cstdarg>

// Number of bytes by which the output advanced; 0 for an empty or null template.
int Pack(char *output, const char *format, ...);
int VPack(char *output, const char *format, va_list values);

// The packed bytes as a new array; empty for an empty template and after any error.
QByteArray PackToArray(const char *format, ...);
QByteArray VPackToArray(const char *format, va_list values);

// Number of input bytes consumed; 0 for an empty or null template.
int Unpack(const char *input, const char *format, ...);
int VUnpack(const char *input, const char *format, va_list targets);

#endif // TOOLS_PACKER_H
