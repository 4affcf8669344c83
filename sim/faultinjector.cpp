#include "faultinjector.h"

#include "wirecodec.h"

namespace LustBusSim {

FaultInjector::FaultInjector(const FaultPlan &plan) : m_rules(plan.rules), m_random(plan.seed)
{
}

bool FaultInjector::next(FaultRule *fault)
{
    for (FaultRule &rule : m_rules) {
        bool fires = false;
        if (rule.count > 0) {
            fires = true;
            --rule.count;
        } else if (rule.rate > 0) {
            fires = std::uniform_real_distribution<double>(0.0, 1.0)(m_random) < rule.rate;
        }
        if (fires) {
            *fault = rule;
            return true;
        }
    }
    return false;
}

QByteArray FaultInjector::damage(const FaultRule &fault, const QByteArray &reply, int station)
{
    QByteArray bytes = reply;
    switch (fault.kind) {
    case FaultKind::NoReply:
        return QByteArray();
    case FaultKind::Nak:
        return LustBus::formatted(LustBus::formatNakReply, station);
    case FaultKind::Truncate:
        bytes.truncate(qMax(1, int(bytes.size()) / 2));
        break;
    case FaultKind::Corrupt:
        // A data reply loses its checksum through its text (station STX text ETX BCC);
        // an ACK or NAK turns into a byte that is neither.
        if (bytes.size() > 4) {
            const int at = 2 + int(m_random() % quint32(bytes.size() - 4));
            bytes[at] = char(bytes.at(at) ^ 0x01);
        }
        else if (bytes.size() > 1)
            bytes[1] = char(bytes.at(1) ^ 0x01);
        break;
    case FaultKind::WrongStation:
        if (!bytes.isEmpty())
            bytes[0] = LustBus::stationCharacter(qint8((station + 1) & 0x3F));
        break;
    case FaultKind::Garbage: {
        const int count = 1 + int(m_random() % 8);
        QByteArray garbage;
        for (int i = 0; i < count; ++i)
            garbage += char(0x20 + m_random() % 0x20);
        bytes.prepend(garbage);
        break;
    }
    case FaultKind::Split:
    case FaultKind::Delay:
        break;
    }
    return bytes;
}

} // namespace LustBusSim
