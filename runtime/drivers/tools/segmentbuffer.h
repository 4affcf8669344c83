// A byte buffer built up in segments, for telegrams that are assembled field by field
// and closed with a sum or checksum of what they hold, or parsed by a layout of field
// lengths.
//
// Every segment has a length entry. An entry of 0 or more is the segment's length in
// bytes. An entry -k stands for a length field: the segment is as long as the value
// held in segment k, its first four bytes read as a signed 32-bit little-endian number
// (a counted payload after its length). Segments lie one after the other, so every
// offset is the sum of the resolved lengths before it.
//
// Because a length field can only be read once its own offset is known, a reference
// must name an earlier segment (1 <= k < i), directly or through other references; a
// reference to the segment itself or to a later one (or past the end) would depend on
// itself and is rejected, and so is one to a segment shorter than four bytes, or one
// whose value is negative. A rejected length makes segmentLength of that segment and
// segmentOffset of every segment from the next one on -1, and their segment() empty;
// setLayout refuses such a layout.
//
// Data may be shorter than the layout says (after setData): segment() then returns the
// bytes that data holds of the segment, and a length field's missing bytes read as 0.
// Nothing is read or written outside data.
#ifndef TOOLS_SEGMENTBUFFER_H
#define TOOLS_SEGMENTBUFFER_H

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>

class SegmentBuffer
{
public:
    SegmentBuffer() = default;

    // Each appends one segment and adds its length to total(); each returns true.
    bool append(const QByteArray &bytes);
    bool append(const QString &text); //!< as Latin-1, one byte per character
    bool appendByte(quint8 value);
    bool appendUInt16(quint16 value); //!< little-endian
    bool appendUInt32(quint32 value); //!< little-endian
    bool appendHexByte(quint8 value); //!< two upper-case hexadecimal digits, "%02X"
    bool appendSum();                 //!< one byte: the sum of all bytes modulo 256
    bool appendSumHex();              //!< that sum as two upper-case hexadecimal digits
    bool appendXorHex();              //!< the exclusive-or of all bytes, as two digits

    // Exclusive-or of the bytes except the last n (a negative n counts as 0); 0 when
    // no byte is left.
    quint8 xorExceptLast(int n) const;

    int segmentCount() const;
    int size() const;                         //!< bytes in data
    int total() const;                        //!< bytes appended since construction or clear()
    bool hasSegment(int i) const;             //!< 0 <= i < segmentCount()
    int segmentOffset(int i) const;           //!< -1 without segment i or when unresolved
    int segmentLength(int i) const;           //!< -1 without segment i or when rejected
    QByteArray segment(int i) const;          //!< empty without segment i or when unresolved
    QList<int> layout() const;                //!< the stored length entries

    // From the first up to four bytes, little-endian; missing bytes count as 0.
    static qint32 toInt(const QByteArray &bytes);

    // Replace data by a copy; the layout and total() stay. Each returns true; a null
    // pointer or a negative length gives empty data.
    bool setData(const QByteArray &bytes);
    bool setData(const char *bytes, int length);

    // The most bytes setLayout grows data to. A length field read from a broken
    // telegram may hold any value up to 2 GiB; growing to it would exhaust the host,
    // and no telegram comes near 1 MiB.
    static constexpr int MaxLayoutSize = 1024 * 1024;

    // Replaces the layout and resizes data to the layout's resolved size, keeping the
    // bytes it has; added bytes are zero, for the caller to fill through bytes(). Length
    // fields are read from data as it stands. False, with nothing changed, for a layout
    // with a rejected reference or larger than MaxLayoutSize.
    bool setLayout(const QList<int> &lengths);

    void clear(); //!< empties data and layout; total() 0

    char *bytes(); //!< writable, size() bytes
    QByteArray toByteArray() const;
    QString dump() const; //!< DumpBytes of data

private:
    bool appendSegment(const QByteArray &bytes, int length);

    QByteArray m_data;
    QList<int> m_lengths;
    int m_total = 0;
};

#endif // TOOLS_SEGMENTBUFFER_H
