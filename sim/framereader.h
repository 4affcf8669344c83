// Cuts the byte stream a servo hears into request frames:
//   read   EOT station digits... ENQ
//   write  EOT station STX text... ETX BCC
// EOT starts every frame and resets a frame in progress, wherever it stands, except as
// the checksum byte after ETX (which may hold any value); so the EOT that closes an
// exchange, stray bytes and broken requests cost nothing but themselves. A text can
// therefore not carry EOT. Frames longer than a telegram buffer are dropped.
#ifndef LUSTBUSSIM_FRAMEREADER_H
#define LUSTBUSSIM_FRAMEREADER_H

#include <QtCore/QByteArray>
#include <QtCore/QList>

namespace LustBusSim {

struct Frame
{
    int station = 0;          //!< station character minus 0x40
    bool write = false;       //!< STX form
    QByteArray body;          //!< read: between station and ENQ; write: between STX and ETX
    bool checksumOk = true;   //!< writes: BCC is the XOR of body and ETX
    int wireBytes = 0;        //!< bytes of the frame on the wire, EOT included
    qint64 startNs = 0;       //!< arrival of the frame's EOT (caller's clock)
};

class FrameReader
{
public:
    static constexpr int MaxFrameBytes = 812;

    // Feeds bytes that arrived at nowNs; returns the frames they completed.
    QList<Frame> feed(const char *data, int size, qint64 nowNs);
    void reset() { m_state = Idle; }

private:
    enum State { Idle, Station, Head, ReadBody, WriteBody, Checksum };

    State m_state = Idle;
    Frame m_frame;
};

} // namespace LustBusSim

#endif // LUSTBUSSIM_FRAMEREADER_H
