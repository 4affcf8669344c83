// Every byte the driver puts on the wire and every reply byte it looks at: the five
// LustBus request formats, the closing EOT, the reply tests and the block checksum.
// Pure functions over a caller's buffer; they allocate nothing and never write past
// the capacity they are given.
#ifndef LUSTBUS_TELEGRAMS_H
#define LUSTBUS_TELEGRAMS_H

#include <QtCore/QtGlobal>

namespace LustBus {

enum ControlChar : char {
    STX = 0x02,
    ETX = 0x03,
    EOT = 0x04,
    ENQ = 0x05,
    ACK = 0x06,
    NAK = 0x15
};

// Both protocol buffers hold one whole telegram.
constexpr int BufferSize = 812;

// The driver's transmit and receive buffers; the receive buffer always holds the
// latest reply followed only by zero bytes.
struct ProtocolBuffers
{
    char transmit[BufferSize] = {};
    char receive[BufferSize] = {};
    qint32 receiveCount = 0;
};

} // namespace LustBus

#endif // LUSTBUS_TELEGRAMS_H
