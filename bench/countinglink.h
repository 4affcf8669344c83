// A LinkDevice that wraps another and counts the bytes that cross it both ways, so
// that a benchmark knows how many bytes one exchange puts on the wire.
#ifndef COUNTINGLINK_H
#define COUNTINGLINK_H

#include "driverinterface.h"

class CountingLink : public LinkDevice
{
public:
    // The inner link must outlive the wrapper.
    explicit CountingLink(LinkDevice &inner) : m_inner(inner) {}

    int receiveExact(char *data, int count) override { return counted(m_inner.receiveExact(data, count)); }
    int receive(char *data, int room) override { return counted(m_inner.receive(data, room)); }
    int send(const char *data, int count) override
    {
        m_bytes += count;
        return m_inner.send(data, count);
    }
    QVariant control(int code, const QVariant &value) override { return m_inner.control(code, value); }
    int retryCount() const override { return m_inner.retryCount(); }
    int stationId() const override { return m_inner.stationId(); }
    int delayMs() const override { return m_inner.delayMs(); }

    long long bytes() const { return m_bytes; } //!< sent and received
    void reset() { m_bytes = 0; }

private:
    int counted(int got)
    {
        if (got > 0)
            m_bytes += got;
        return got;
    }

    LinkDevice &m_inner;
    long long m_bytes = 0;
};

#endif // COUNTINGLINK_H
