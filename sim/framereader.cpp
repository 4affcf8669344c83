#include "framereader.h"

#include "telegrams.h"
#include "tools/checksums.h"

namespace LustBusSim {

using LustBus::ENQ;
using LustBus::EOT;
using LustBus::ETX;
using LustBus::STX;

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
            const char sum = char(xorChecksum(m_frame.body.constData(), int(m_frame.body.size())) ^ ETX);
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
