// A LinkDevice for the fuzzers: hands out scripted chunks, or answers every request
// telegram with a well-formed reply. Allocation-light and bounded: it never blocks.
#ifndef FUZZLINK_H
#define FUZZLINK_H

#include "driverinterface.h"

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
        if (answerRequests && count > 2) {
            if (data[2] == '\x02')
                chunks.append(QByteArray("A\x06"));
            else
                chunks.append(dataReply());
        }
        return count;
    }
    // Station 1, STX, "=00010203", ETX and the XOR of everything after STX.
    static QByteArray dataReply()
    {
        QByteArray reply("A\x02=00010203\x03");
        char sum = 0;
        for (int i = 2; i < reply.size(); ++i)
            sum ^= reply[i];
        return reply + sum;
    }

    QVariant control(int, const QVariant &) override { return QVariant(); }
    int retryCount() const override { return retries; }
    int stationId() const override { return 1; }
    int delayMs() const override { return 0; }
};

#endif // FUZZLINK_H
