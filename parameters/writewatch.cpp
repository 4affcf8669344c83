#include "writewatch.h"

#include "errortexts.h"
#include "wirecodec.h"

const char *WriteWatch::name(Outcome outcome)
{
    switch (outcome) {
    case Done: return "done";
    case Refused: return "refused";
    case Unknown: break;
    }
    return "unknown";
}

int WriteWatch::send(const char *data, int count)
{
    const LustBus::RequestScan scan = LustBus::scanRequest(data, data ? count : 0);
    const int sent = m_link.send(data, count);
    if (sent > 0 && scan.status == LustBus::RequestScan::Complete && scan.request.write)
        m_writeSent = true;
    return sent;
}

WriteWatch::Outcome WriteWatch::outcome(bool failed, const QString &errorText) const
{
    if (!failed)
        return Done;
    // A servo answers a request it does not carry out with NAK, each attempt alike; a
    // write that never left cannot have changed anything.
    if (!m_writeSent
        || LustBus::ErrorText::messageOf(errorText) == LustBus::ErrorText::InvalidParameter)
        return Refused;
    return Unknown;
}

WriteWatch::Outcome WriteWatch::settle(bool readOk, bool isNew, bool isOld,
                                       const QString &readBack, QString *note)
{
    if (readOk && isNew) {
        *note = QStringLiteral("confirmed by read back");
        return Done;
    }
    if (readOk && isOld) {
        *note = QStringLiteral("no reply; read back shows %1: not carried out").arg(readBack);
        return Refused;
    }
    *note = readOk ? QStringLiteral("read back shows %1, neither the value before nor the new "
                                    "one")
                         .arg(readBack)
                   : QStringLiteral("read back: %1").arg(readBack);
    return Unknown;
}
