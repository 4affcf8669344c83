#include "instantlink.h"

#include "wirecodec.h"

#include <cstring>

QByteArray InstantLink::dataReply(const QByteArray &value_text)
{
    return LustBus::formatted(LustBus::formatDataReply, 1, nullptr, 0, value_text.constData(),
                              int(value_text.size()));
}

InstantLink::InstantLink(const QByteArray &data_reply)
    : m_dataReply(data_reply), m_acknowledge(LustBus::formatted(LustBus::formatAckReply, 1))
{
}

int InstantLink::send(const char *data, int count)
{
    const LustBus::RequestScan scan = LustBus::scanRequest(data, count);
    if (scan.status != LustBus::RequestScan::Complete)
        return count; // the closing EOT
    m_pending = scan.request.write ? &m_acknowledge : &m_dataReply;
    m_handedOut = 0;
    ++m_requests;
    return count;
}

int InstantLink::receive(char *data, int room)
{
    if (!m_pending)
        return 0;
    const int n = qMin(room, m_pending->size() - m_handedOut);
    std::memcpy(data, m_pending->constData() + m_handedOut, size_t(n));
    m_handedOut += n;
    if (m_handedOut == m_pending->size())
        m_pending = nullptr;
    return n;
}

int InstantLink::receiveExact(char *data, int count)
{
    return receive(data, count);
}
