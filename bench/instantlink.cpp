#include "instantlink.h"

#include "telegrams.h"
#include "tools/checksums.h"

#include <cstring>

QByteArray InstantLink::dataReply(const QByteArray &value_text)
{
    QByteArray reply;
    reply += LustBus::stationCharacter(1);
    reply += LustBus::STX;
    reply += '=';
    reply += value_text;
    reply += LustBus::ETX;
    reply += char(xorChecksum(reply.constData() + 2, reply.size() - 2));
    return reply;
}

InstantLink::InstantLink(const QByteArray &data_reply)
    : m_dataReply(data_reply),
      m_acknowledge(QByteArray() + LustBus::stationCharacter(1) + LustBus::ACK)
{
}

int InstantLink::send(const char *data, int count)
{
    if (count == 1 && data[0] == LustBus::EOT)
        return count;
    // Writes open their text with STX right after the station character.
    m_pending = count > 2 && data[2] == LustBus::STX ? &m_acknowledge : &m_dataReply;
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
