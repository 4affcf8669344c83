#include "framereader.h"

#include <utility>

namespace LustBusSim {

namespace {

constexpr char STX = 0x02;
constexpr char ETX = 0x03;
constexpr char EOT = 0x04;
constexpr char ENQ = 0x05;

} // namespace

QList<Frame> FrameReader::feed(const char *data, int size, qint64 nowNs)
{
    QList<Frame> frames;
    for (int i = 0; i < size; ++i) {
        const char c = data[i];
        if (m_state != Checksum && c == EOT) {
            m_frame = Frame();
            m_frame.startNs = nowNs;
            m_frame.wireBytes = 1;
            m_state = Station;
            continue;
        }
        if (m_state == Idle)
            continue;
        ++m_frame.wireBytes;
        if (m_frame.wireBytes > MaxFrameBytes) {
            m_state = Idle;
            continue;
        }
        switch (m_state) {
        case Idle:
            break;
        case Station:
            m_frame.station = int(quint8(c)) - 0x40;
            m_state = Head;
            break;
        case Head:
            if (c == STX) {
                m_frame.write = true;
                m_state = WriteBody;
                break;
            }
            m_state = ReadBody;
            Q_FALLTHROUGH();
        case ReadBody:
            if (c == ENQ) {
                frames.append(m_frame);
                m_state = Idle;
            } else {
                m_frame.body += c;
            }
            break;
        case WriteBody:
            if (c == ETX)
                m_state = Checksum;
            else
                m_frame.body += c;
            break;
        case Checksum: {
            char sum = ETX;
            for (char b : std::as_const(m_frame.body))
                sum ^= b;
            m_frame.checksumOk = sum == c;
            frames.append(m_frame);
            m_state = Idle;
            break;
        }
        }
    }
    return frames;
}

} // namespace LustBusSim
