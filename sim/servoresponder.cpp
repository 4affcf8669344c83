#include "servoresponder.h"

#include "tools/texts.h"

namespace LustBusSim {

namespace {

using LustBus::ReceivedRequest;

// Exactly two hex digits per byte, or the servo refuses the value.
bool decodeHex(const QByteArray &digits, QByteArray *bytes)
{
    if (digits.size() % 2 != 0)
        return false;
    for (char c : digits) {
        if (HexDigitValue(c) < 0)
            return false;
    }
    *bytes = QByteArray::fromHex(digits);
    return true;
}

Answer nak(int station)
{
    return {Answer::Nak, LustBus::formatted(LustBus::formatNakReply, station)};
}

Answer ack(int station)
{
    return {Answer::Ack, LustBus::formatted(LustBus::formatAckReply, station)};
}

// The servo's own reply head: the service and its parameter number, as the driver
// writes it in a request.
Answer data(int station, const char *service, quint16 parameter, const QByteArray &value)
{
    const QByteArray head = service + QByteArray::number(parameter).rightJustified(3, '0');
    return {Answer::Data,
            LustBus::formatted(LustBus::formatDataReply, station, head.constData(),
                               int(head.size()), value.constData(), int(value.size()))};
}

bool isArray(const Parameter *p)
{
    return p && p->isArray;
}

Answer simpleAccess(const ReceivedRequest &r, const QByteArray &value, ParameterTable &table)
{
    Parameter *p = table.find(r.target.parameter);
    if (!p || p->isArray)
        return nak(r.station);
    if (!r.write) {
        const QByteArray text = p->type == DataType::String ? p->data : p->data.toHex().toUpper();
        return data(r.station, "20", p->number, text);
    }
    if (p->readOnly)
        return nak(r.station);
    if (p->type == DataType::String) {
        const int end = int(value.indexOf('\0'));
        p->data = end < 0 ? value : value.left(end);
        return ack(r.station);
    }
    QByteArray bytes;
    if (!decodeHex(value, &bytes)
        || bytes.size() != LustBus::dataTypeInfo(p->type).telegramWidth)
        return nak(r.station);
    p->data = bytes;
    return ack(r.station);
}

Answer arrayAccess(const ReceivedRequest &r, const QByteArray &value, ParameterTable &table)
{
    const LustBus::RequestTarget target = arrayTarget(r, table);
    Parameter *p = table.find(target.parameter);
    if (!isArray(p) || target.firstElement + target.elementCount > p->elementCount())
        return nak(r.station);
    const int width = LustBus::dataTypeInfo(p->type).telegramWidth;
    const int offset = target.firstElement * width;
    const int length = target.elementCount * width;
    if (!r.write)
        return data(r.station, "70", p->number, p->data.mid(offset, length).toHex().toUpper());
    QByteArray bytes;
    if (p->readOnly || !decodeHex(value, &bytes) || bytes.size() != length)
        return nak(r.station);
    p->data.replace(offset, length, bytes);
    return ack(r.station);
}

} // namespace

LustBus::RequestTarget arrayTarget(const ReceivedRequest &request, const ParameterTable &table)
{
    if (request.ambiguous && !isArray(table.find(request.target.parameter))
        && isArray(table.find(request.alternative.parameter)))
        return request.alternative;
    return request.target;
}

Answer answerRequest(const Frame &frame, ParameterTable &table)
{
    const ReceivedRequest &r = frame.request;
    if (!r.fieldsOk || !r.checksumOk)
        return nak(r.station);
    const QByteArray value = frame.bytes.mid(r.valueAt, r.valueSize);
    return r.service == ReceivedRequest::Simple ? simpleAccess(r, value, table)
                                                : arrayAccess(r, value, table);
}

} // namespace LustBusSim
