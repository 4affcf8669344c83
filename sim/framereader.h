// Cuts the byte stream a servo hears into requests, by the wire codec's recognition
// (scanRequest in wirecodec.h): stray bytes, broken and overlong requests cost nothing
// but themselves, and the EOT that closes an exchange is one of them.
#ifndef LUSTBUSSIM_FRAMEREADER_H
#define LUSTBUSSIM_FRAMEREADER_H

#include "wirecodec.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>

namespace LustBusSim {

struct Frame
{
    QByteArray bytes;                 //!< the request as it came, EOT first
    LustBus::ReceivedRequest request; //!< its fields; offsets count into bytes
    qint64 startNs = 0;               //!< arrival of its EOT (caller's clock)
};

class FrameReader
{
public:
    // Feeds bytes that arrived at nowNs; returns the requests they completed.
    QList<Frame> feed(const char *data, int size, qint64 nowNs);
    void reset() { m_pending.clear(); }
    // Runs of bytes dropped since the last call that were more than the lone EOT
    // closing an exchange: stray bytes, broken and overlong requests.
    int takeMalformed();

private:
    QByteArray m_pending; //!< a request begun, EOT first, or nothing
    qint64 m_startNs = 0; //!< when its EOT came
    int m_malformed = 0;
};

} // namespace LustBusSim

#endif // LUSTBUSSIM_FRAMEREADER_H
