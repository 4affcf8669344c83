// A LinkDevice for the fuzzers: hands out scripted chunks, or answers every request
// telegram with a well-formed reply (a write with ACK, a read with "=00010203").
// Allocation-light and bounded: it never blocks.
#ifndef FUZZLINK_H
#define FUZZLINK_H

#include "driverinterface.h"
#include "wirecodec.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>

#include <cstring>

class FuzzLink : public LinkDevice
{
public:
    QList<QByteArray> chunks;
    bool answerRequests = false;
    int retries = 0;

    int receiveExact(char *data, int count) override { return receive(data, count); }
    int receive(char *data, int room) override
    {
        if (chunks.isEmpty() || room <= 0)
            return 0;
        QByteArray chunk = chunks.takeFirst();
        const int n = qMin(int(chunk.size()), room);
        std::memcpy(data, chunk.constData(), size_t(n));
        if (n < chunk.size())
            chunks.prepend(chunk.mid(n));
        return n;
    }
    int send(const char *data, int count) override
    {
        const LustBus::RequestScan scan = LustBus::scanRequest(data, count);
        if (answerRequests && scan.status == LustBus::RequestScan::Complete) {
            chunks.append(scan.request.write
                              ? LustBus::formatted(LustBus::formatAckReply, 1)
                              : LustBus::formatted(LustBus::formatDataReply, 1, nullptr, 0,
                                                   "00010203", 8));
        }
        return count;
    }

    QVariant control(int, const QVariant &) override { return QVariant(); }
    int retryCount() const override { return retries; }
    int stationId() const override { return 1; }
    int delayMs() const override { return 0; }
};

#endif // FUZZLINK_H
