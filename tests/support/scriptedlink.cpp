#include "scriptedlink.h"

#include "wirecodec.h"

#include <cstring>

void ScriptedLink::queueBytewise(const QByteArray &bytes)
{
    for (char byte : bytes)
        m_chunks.append(QByteArray(1, byte));
}

int ScriptedLink::receive(char *data, int room)
{
    Call call(Call::Receive);
    call.room = room;
    int got = 0;
    if (!m_chunks.isEmpty()) {
        QByteArray &chunk = m_chunks.first();
        got = qMin(int(chunk.size()), room);
        std::memcpy(data, chunk.constData(), size_t(got));
        call.bytes = chunk.left(got);
        chunk.remove(0, got);
        if (chunk.isEmpty())
            m_chunks.removeFirst();
    }
    calls.append(call);
    return got;
}

int ScriptedLink::receiveExact(char *data, int count)
{
    Call call(Call::ReceiveExact);
    call.room = count;
    QByteArray got;
    while (got.size() < count && !m_chunks.isEmpty()) {
        QByteArray &chunk = m_chunks.first();
        if (chunk.isEmpty()) { // silence ends the wait
            m_chunks.removeFirst();
            break;
        }
        const int take = qMin(int(chunk.size()), count - int(got.size()));
        got += chunk.left(take);
        chunk.remove(0, take);
        if (chunk.isEmpty())
            m_chunks.removeFirst();
    }
    std::memcpy(data, got.constData(), size_t(got.size()));
    call.bytes = got;
    calls.append(call);
    return int(got.size());
}

int ScriptedLink::send(const char *data, int count)
{
    Call call(Call::Send);
    call.bytes = QByteArray(data, count);
    calls.append(call);
    if (!m_autoReply.isNull()
        && LustBus::scanRequest(data, count).status == LustBus::RequestScan::Complete)
        m_chunks.append(m_autoReply);
    return count;
}

QVariant ScriptedLink::control(int code, const QVariant &value)
{
    Call call(Call::Control);
    call.code = code;
    call.value = value;
    calls.append(call);
    return QVariant();
}

int ScriptedLink::retryCount() const
{
    const_cast<ScriptedLink *>(this)->calls.append(Call(Call::RetryCount));
    return retries;
}

int ScriptedLink::stationId() const
{
    const_cast<ScriptedLink *>(this)->calls.append(Call(Call::StationId));
    return station;
}

int ScriptedLink::delayMs() const
{
    const_cast<ScriptedLink *>(this)->calls.append(Call(Call::DelayMs));
    return delay;
}

QList<QByteArray> ScriptedLink::sent() const
{
    QList<QByteArray> result;
    for (const Call &call : calls) {
        if (call.type == Call::Send)
            result.append(call.bytes);
    }
    return result;
}

QByteArray ScriptedLink::sentTelegrams() const
{
    QByteArray all;
    for (const QByteArray &bytes : sent())
        all += bytes;
    return all;
}

int ScriptedLink::count(Call::Type type) const
{
    int n = 0;
    for (const Call &call : calls)
        n += call.type == type;
    return n;
}

QString ScriptedLink::trace() const
{
    static const char letters[] = "CS><=RD";
    QString text;
    for (const Call &call : calls)
        text += QLatin1Char(letters[call.type]);
    return text;
}

namespace Reply {

QByteArray data(int station, const QByteArray &text)
{
    const int equals = int(text.indexOf('='));
    return LustBus::formatted(LustBus::formatDataReply, station, text.constData(), equals,
                              text.constData() + equals + 1, int(text.size()) - equals - 1);
}

QByteArray value(int station, const QByteArray &valueText)
{
    return data(station, '=' + valueText);
}

QByteArray ack(int station)
{
    return LustBus::formatted(LustBus::formatAckReply, station);
}

QByteArray nak(int station)
{
    return LustBus::formatted(LustBus::formatNakReply, station);
}

} // namespace Reply
