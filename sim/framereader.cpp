#include "framereader.h"

namespace LustBusSim {

QList<Frame> FrameReader::feed(const char *data, int size, qint64 nowNs)
{
    // What was pending is one request begun at m_startNs; everything after its first
    // byte is new, so every other request starts now.
    const bool begun = !m_pending.isEmpty();
    m_pending.append(data, size);
    QList<Frame> frames;
    int at = 0;
    for (;;) {
        const LustBus::RequestScan scan =
            LustBus::scanRequest(m_pending.constData() + at, int(m_pending.size()) - at);
        if (scan.status == LustBus::RequestScan::NeedMore)
            break;
        if (scan.status == LustBus::RequestScan::Complete) {
            Frame frame;
            frame.bytes = m_pending.mid(at, scan.length);
            frame.request = scan.request;
            frame.startNs = at == 0 && begun ? m_startNs : nowNs;
            frames.append(frame);
        } else if (!LustBus::isClosingEot(scan, m_pending.constData() + at)) {
            ++m_malformed;
        }
        at += scan.length;
    }
    if (at > 0 || !begun)
        m_startNs = nowNs;
    m_pending.remove(0, at);
    return frames;
}

int FrameReader::takeMalformed()
{
    const int count = m_malformed;
    m_malformed = 0;
    return count;
}

} // namespace LustBusSim
