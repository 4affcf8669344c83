#include "scriptedlink.h"

#include "wirecodec.h"

#include <algorithm>
#include <cstring>

int ScriptedLink::receive(char *data, int room)
{
    Call call{Call::Receive};
    call.room = room;
    if (!m_chunks.isEmpty()) {
        call.bytes = m_chunks.first().left(room);
        m_chunks.first().remove(0, call.bytes.size());
        if (m_chunks.first().isEmpty())
            m_chunks.removeFirst();
    }
    std::memcpy(data, call.bytes.constData(), size_t(call.bytes.size()));
    calls.append(call);
    return int(call.bytes.size());
}

int ScriptedLink::receiveExact(char *data, int count)
{
    Call call{Call::ReceiveExact};
    call.room = count;
    while (call.bytes.size() < count && !m_chunks.isEmpty()) {
        QByteArray &chunk = m_chunks.first();
        const QByteArray take = chunk.left(count - int(call.bytes.size()));
        call.bytes += take;
        chunk.remove(0, take.size());
        if (chunk.isEmpty())
            m_chunks.removeFirst();
        if (take.isEmpty()) // silence ends the wait
            break;
    }
    std::memcpy(data, call.bytes.constData(), size_t(call.bytes.size()));
    calls.append(call);
    return int(call.bytes.size());
}

int ScriptedLink::send(const char *data, int count)
{
    Call call{Call::Send};
    call.bytes = QByteArray(data, count);
    calls.append(call);
    if (!m_autoReply.isNull()
        && LustBus::scanRequest(data, count).status == LustBus::RequestScan::Complete)
        m_chunks.append(m_autoReply);
    return count;
}

QVariant ScriptedLink::control(int code, const QVariant &value)
{
    calls.append(Call(Call::Control, code, value));
    return QVariant();
}

QList<QByteArray> ScriptedLink::sent() const
{
    QList<QByteArray> result;
    for (const Call &call : calls)
        if (call.type == Call::Send)
            result.append(call.bytes);
    return result;
}

int ScriptedLink::count(Call::Type type) const
{
    return int(std::count_if(calls.begin(), calls.end(), [type](const Call &c) { return c.type == type; }));
}

QString ScriptedLink::trace() const
{
    QString text;
    for (const Call &call : calls)
        text += QLatin1Char("CS><=RD"[call.type]);
    return text;
}

namespace Reply {

QByteArray data(int station, const QByteArray &text)
{
    const int equals = int(text.indexOf('='));
    return LustBus::formatted(LustBus::formatDataReply, station, text.constData(), equals,
                              text.constData() + equals + 1, int(text.size()) - equals - 1);
}

QByteArray value(int station, const QByteArray &valueText) { return data(station, '=' + valueText); }
QByteArray ack(int station) { return LustBus::formatted(LustBus::formatAckReply, station); }
QByteArray nak(int station) { return LustBus::formatted(LustBus::formatNakReply, station); }

} // namespace Reply
