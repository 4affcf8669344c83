#include "servoresponder.h"

#include "telegrams.h"
#include "tools/checksums.h"

namespace LustBusSim {

namespace {

using LustBus::ACK;
using LustBus::ETX;
using LustBus::NAK;
using LustBus::STX;

bool allDigits(const QByteArray &text)
{
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return !text.isEmpty();
}

// A field of at least minWidth digits whose extra digits are not padding.
bool readField(const QByteArray &digits, int minWidth, quint32 max, quint32 *value)
{
    if (digits.size() < minWidth || !allDigits(digits)
        || (digits.size() > minWidth && digits.at(0) == '0'))
        return false;
    bool ok = false;
    const uint number = digits.toUInt(&ok);
    if (!ok || number > max)
        return false;
    *value = number;
    return true;
}

bool decodeHex(const QByteArray &digits, QByteArray *bytes)
{
    if (digits.size() % 2 != 0)
        return false;
    for (char c : digits) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    }
    *bytes = QByteArray::fromHex(digits);
    return true;
}

QByteArray parameterDigits(quint16 number)
{
    return QByteArray::number(number).rightJustified(3, '0');
}

Answer nak(int station)
{
    return {Answer::Nak, nakReply(station)};
}

Answer ack(int station)
{
    return {Answer::Ack, ackReply(station)};
}

Answer simpleAccess(const Frame &frame, const QByteArray &digits, const QByteArray &value,
                    ParameterTable &table)
{
    quint32 number = 0;
    if (!readField(digits, 3, 0xFFFF, &number))
        return nak(frame.station);
    Parameter *p = table.find(quint16(number));
    if (!p || p->isArray)
        return nak(frame.station);
    if (!frame.write) {
        const QByteArray text = p->type == DataType::String ? p->data : p->data.toHex().toUpper();
        return {Answer::Data, dataReply(frame.station, "20" + parameterDigits(p->number) + '=' + text)};
    }
    if (p->readOnly)
        return nak(frame.station);
    if (p->type == DataType::String) {
        const int end = value.indexOf('\0');
        p->data = end < 0 ? value : value.left(end);
        return ack(frame.station);
    }
    QByteArray bytes;
    if (!decodeHex(value, &bytes) || bytes.size() != LustBus::dataTypeInfo(p->type).telegramWidth)
        return nak(frame.station);
    p->data = bytes;
    return ack(frame.station);
}

Answer arrayAccess(const Frame &frame, const QByteArray &digits, const QByteArray &value,
                   ParameterTable &table)
{
    ArrayAddress address;
    if (!splitArrayDigits(digits, table, &address))
        return nak(frame.station);
    Parameter *p = table.find(address.parameter);
    if (!p || !p->isArray || address.first + address.count > p->elementCount())
        return nak(frame.station);
    const int width = LustBus::dataTypeInfo(p->type).telegramWidth;
    const int offset = address.first * width;
    const int length = address.count * width;
    if (!frame.write) {
        const QByteArray text = "70" + parameterDigits(p->number) + '='
                                + p->data.mid(offset, length).toHex().toUpper();
        return {Answer::Data, dataReply(frame.station, text)};
    }
    QByteArray bytes;
    if (p->readOnly || !decodeHex(value, &bytes) || bytes.size() != length)
        return nak(frame.station);
    p->data.replace(offset, length, bytes);
    return ack(frame.station);
}

} // namespace

bool splitArrayDigits(const QByteArray &digits, const ParameterTable &table,
                      ArrayAddress *address)
{
    if (!allDigits(digits))
        return false;
    bool found = false;
    for (int parameterWidth = 5; parameterWidth >= 3; --parameterWidth) {
        const int countWidth = int(digits.size()) - 5 - parameterWidth;
        if (countWidth < 2 || countWidth > 3)
            continue;
        quint32 parameter = 0, first = 0, count = 0;
        if (!readField(digits.left(parameterWidth), 3, 0xFFFF, &parameter)
            || !readField(digits.mid(parameterWidth, 5), 5, 0xFFFF, &first)
            || !readField(digits.mid(parameterWidth + 5), 2, 0xFF, &count))
            continue;
        const ArrayAddress candidate{quint16(parameter), quint16(first), quint8(count)};
        const Parameter *p = table.find(candidate.parameter);
        if (p && p->isArray) {
            *address = candidate;
            return true;
        }
        if (!found) {
            *address = candidate;
            found = true;
        }
    }
    return found;
}

Answer answerRequest(const Frame &frame, ParameterTable &table)
{
    if (frame.write && !frame.checksumOk)
        return nak(frame.station);
    const QByteArray service = frame.body.left(2);
    QByteArray digits = frame.body.mid(2);
    QByteArray value;
    if (frame.write) {
        const int equals = digits.indexOf('=');
        if (equals < 0)
            return nak(frame.station);
        value = digits.mid(equals + 1);
        digits.truncate(equals);
    }
    if (service == "20")
        return simpleAccess(frame, digits, value, table);
    if (service == "70")
        return arrayAccess(frame, digits, value, table);
    return nak(frame.station);
}

QByteArray dataReply(int station, const QByteArray &text)
{
    QByteArray reply;
    reply.reserve(text.size() + 4);
    reply += LustBus::stationCharacter(qint8(station));
    reply += STX;
    reply += text;
    reply += ETX;
    reply += char(xorChecksum(reply.constData() + 2, int(reply.size()) - 2));
    return reply;
}

QByteArray ackReply(int station)
{
    return QByteArray(1, LustBus::stationCharacter(qint8(station))) + ACK;
}

QByteArray nakReply(int station)
{
    return QByteArray(1, LustBus::stationCharacter(qint8(station))) + NAK;
}

} // namespace LustBusSim
