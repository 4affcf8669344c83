#include "segmentbuffer.h"

#include "bytesandbits.h"
#include "checksums.h"
#include "texts.h"

#include <QtCore/QVector>

#include <climits>

namespace {

// Offsets and lengths of a layout over data; -1 where a length is rejected or an
// offset depends on one. offsets has one entry more than the layout: the end.
struct ResolvedLayout
{
    QVector<qint64> offsets;
    QVector<qint64> lengths;
};

ResolvedLayout resolve(const QList<int> &entries, const QByteArray &data)
{
    const int n = int(entries.size());
    ResolvedLayout layout;
    layout.offsets.resize(n + 1);
    layout.lengths.resize(n);
    qint64 offset = 0;
    for (int i = 0; i < n; ++i) {
        layout.offsets[i] = offset;
        const qint64 entry = entries.at(i);
        qint64 length = entry;
        if (entry < 0) {
            // A length field: only an earlier segment of at least four bytes, whose
            // offset is known, can hold it.
            const qint64 k = -entry;
            length = -1;
            if (k < i && layout.lengths[k] >= 4 && layout.offsets[k] >= 0) {
                const qint32 value = SegmentBuffer::toInt(data.mid(int(layout.offsets[k]), 4));
                length = value < 0 ? -1 : value;
            }
        }
        layout.lengths[i] = length;
        offset = offset < 0 || length < 0 || offset + length > INT_MAX ? -1 : offset + length;
    }
    layout.offsets[n] = offset;
    return layout;
}

} // namespace

bool SegmentBuffer::appendSegment(const QByteArray &bytes, int length)
{
    m_data.append(bytes);
    m_lengths.append(length);
    m_total += length;
    return true;
}

bool SegmentBuffer::append(const QByteArray &bytes)
{
    return appendSegment(bytes, int(bytes.size()));
}

bool SegmentBuffer::append(const QString &text)
{
    // toLatin1 turns every character into one byte, so the length is the text's.
    return append(text.toLatin1());
}

bool SegmentBuffer::appendByte(quint8 value)
{
    return append(QByteArray(1, char(value)));
}

bool SegmentBuffer::appendUInt16(quint16 value)
{
    return append(UInt16ToBytes(value));
}

bool SegmentBuffer::appendUInt32(quint32 value)
{
    return append(Int32ToBytes(qint32(value)));
}

bool SegmentBuffer::appendHexByte(quint8 value)
{
    return append(QString::fromLatin1(QByteArray(1, char(value)).toHex().toUpper()));
}

bool SegmentBuffer::appendSum()
{
    return appendByte(Sum8(m_data.constData(), int(m_data.size())));
}

bool SegmentBuffer::appendSumHex()
{
    return appendHexByte(Sum8(m_data.constData(), int(m_data.size())));
}

bool SegmentBuffer::appendXorHex()
{
    return appendHexByte(xorChecksum(m_data.constData(), int(m_data.size())));
}

quint8 SegmentBuffer::xorExceptLast(int n) const
{
    const qint64 count = qint64(m_data.size()) - qMax(n, 0);
    return count > 0 ? xorChecksum(m_data.constData(), int(count)) : 0;
}

int SegmentBuffer::segmentCount() const
{
    return int(m_lengths.size());
}

int SegmentBuffer::size() const
{
    return int(m_data.size());
}

int SegmentBuffer::total() const
{
    return m_total;
}

bool SegmentBuffer::hasSegment(int i) const
{
    return i >= 0 && i < segmentCount();
}

int SegmentBuffer::segmentOffset(int i) const
{
    return hasSegment(i) ? int(resolve(m_lengths, m_data).offsets.at(i)) : -1;
}

int SegmentBuffer::segmentLength(int i) const
{
    return hasSegment(i) ? int(resolve(m_lengths, m_data).lengths.at(i)) : -1;
}

QByteArray SegmentBuffer::segment(int i) const
{
    if (!hasSegment(i))
        return QByteArray();
    const ResolvedLayout layout = resolve(m_lengths, m_data);
    const qint64 offset = layout.offsets.at(i);
    const qint64 length = layout.lengths.at(i);
    if (offset < 0 || length < 0 || offset >= m_data.size())
        return QByteArray();
    return m_data.mid(int(offset), int(qMin<qint64>(length, m_data.size() - offset)));
}

QList<int> SegmentBuffer::layout() const
{
    return m_lengths;
}

qint32 SegmentBuffer::toInt(const QByteArray &bytes)
{
    return qint32(BytesToUInt32(bytes));
}

bool SegmentBuffer::setData(const QByteArray &bytes)
{
    m_data = bytes;
    return true;
}

bool SegmentBuffer::setData(const char *bytes, int length)
{
    m_data = bytes != nullptr && length > 0 ? QByteArray(bytes, length) : QByteArray();
    return true;
}

bool SegmentBuffer::setLayout(const QList<int> &lengths)
{
    const ResolvedLayout layout = resolve(lengths, m_data);
    const qint64 end = layout.offsets.last();
    if (end < 0 || end > MaxLayoutSize)
        return false;
    m_lengths = lengths;
    if (end > m_data.size())
        m_data.append(int(end - m_data.size()), '\0');
    else
        m_data.truncate(int(end));
    return true;
}

void SegmentBuffer::clear()
{
    m_data.clear();
    m_lengths.clear();
    m_total = 0;
}

char *SegmentBuffer::bytes()
{
    return m_data.data();
}

QByteArray SegmentBuffer::toByteArray() const
{
    return m_data;
}

QString SegmentBuffer::dump() const
{
    return DumpBytes(m_data);
}
