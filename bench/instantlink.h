// A LinkDevice in memory that answers every request telegram at once, the way one
// servo would: a read with its data reply, a write with ACK, a lone EOT with nothing.
// It never allocates while the driver works, so what the benchmarks count is the
// driver's own.
#ifndef INSTANTLINK_H
#define INSTANTLINK_H

#include "driverinterface.h"

#include <QtCore/QByteArray>

class InstantLink : public LinkDevice
{
public:
    // The data reply of station 1 that carries value_text ("=" value ETX BCC).
    static QByteArray dataReply(const QByteArray &value_text);

    explicit InstantLink(const QByteArray &data_reply);

    int receiveExact(char *data, int count) override;
    int receive(char *data, int room) override;
    int send(const char *data, int count) override;
    QVariant control(int, const QVariant &) override { return QVariant(); }
    int retryCount() const override { return 0; }
    int stationId() const override { return 1; }
    int delayMs() const override { return 0; }

    long requests() const { return m_requests; }

private:
    QByteArray m_dataReply;
    QByteArray m_acknowledge;
    const QByteArray *m_pending = nullptr;
    int m_handedOut = 0;
    long m_requests = 0;
};

#endif // INSTANTLINK_H
