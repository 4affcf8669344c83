// Small parsers for names and numbers in address and device texts, and a readable
// dump of bytes for debug output. A QString argument is taken as Latin-1 (8-bit)
// text; characters outside Latin-1 read as '?'.
#ifndef TOOLS_TEXTS_H
#define TOOLS_TEXTS_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

// The leading run of ASCII letters and '_' ("INT16:100" gives "INT", "_x1" gives "_x");
// empty when the text starts with anything else.
QByteArray LeadingName(const QByteArray &text);
QByteArray LeadingName(const QString &text);
QByteArray LeadingName(const char *text);

// The number after the leading characters that are not digits of base (10, 16 or 8):
// "R12" gives 12 in base 10. The whole rest must be a number as QByteArray::toInt reads
// it, otherwise the result is 0 ("R12X" gives 0, and so does a text without digits).
// Any other base gives -1.
int NumberAfterPrefix(const QByteArray &text, int base);
int NumberAfterPrefix(const QString &text, int base);
int NumberAfterPrefix(const char *text, int base);

// The value of one hexadecimal digit of either case; -1 for any other character.
inline int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The value of a hexadecimal text of at most length characters, ending early at a zero
// character, with an optional prefix "0x" or "0X". Any character that is not a
// hexadecimal digit makes the result 0, as do an empty text, a text that is only the
// prefix, a length below 1 and a null pointer. Only the low 32 bits of a longer
// number are kept.
quint32 HexToUInt(const char *chars, int length);

// "(0X41 0X42 ) : AB": every byte as "0X" and its value as a signed 8-bit number in
// lower-case hexadecimal (0xFF shows as -1), then the bytes as Latin-1 text up to the
// first zero byte.
QString DumpBytes(const QByteArray &data);

#endif // TOOLS_TEXTS_H
