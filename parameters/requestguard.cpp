#include "requestguard.h"

#include "errortexts.h"
#include "streamlink.h"

namespace {

// The link of one write: a request that reopened the device goes no further.
class HeldLink : public LinkDevice
{
public:
    HeldLink(LinkDevice &link, const StreamLink &stream, int allowed)
        : m_link(link), m_stream(stream), m_allowed(allowed)
    {
    }
    bool held() const { return m_held; }

    int receiveExact(char *data, int count) override
    {
        return m_held ? 0 : m_link.receiveExact(data, count);
    }
    int receive(char *data, int room) override { return m_held ? 0 : m_link.receive(data, room); }
    int send(const char *data, int count) override
    {
        return m_held ? -1 : m_link.send(data, count);
    }
    // The link reopens here, at the start of a request's attempt, before its telegram.
    QVariant control(int code, const QVariant &value) override
    {
        const QVariant result = m_link.control(code, value);
        m_held = m_held || m_stream.reconnectCount() != m_allowed;
        return result;
    }
    int retryCount() const override { return m_link.retryCount(); }
    int stationId() const override { return m_link.stationId(); }
    int delayMs() const override { return m_link.delayMs(); }

private:
    LinkDevice &m_link;
    const StreamLink &m_stream;
    int m_allowed;
    bool m_held = false;
};

} // namespace

RequestGuard::RequestGuard(DriverInterface &driver, const StreamLink &stream, bool keepTrying)
    : m_driver(driver), m_stream(stream), m_keepTrying(keepTrying)
{
}

QString RequestGuard::notTriedText(int station)
{
    return QStringLiteral("not tried: station %1 does not answer").arg(station);
}

void RequestGuard::forgetSilentStations()
{
    m_misses.clear();
    m_silent.clear();
}

void RequestGuard::refuse(const QString &error)
{
    m_ownError = true;
    m_error = error;
}

bool RequestGuard::mayAsk(int station)
{
    m_ownError = false;
    if (m_keepTrying || !m_silent.contains(station))
        return true;
    refuse(notTriedText(station));
    return false;
}

void RequestGuard::noteAnswer(int station)
{
    const bool silent = m_driver.hasError()
                        && LustBus::ErrorText::messageOf(m_driver.errorText())
                               == LustBus::ErrorText::NoResponse;
    if (!silent) {
        m_misses.remove(station);
        return;
    }
    if (++m_misses[station] >= 2)
        m_silent.insert(station);
}

QByteArray RequestGuard::read(LinkDevice &link, const DataAddress &address)
{
    const int station = link.stationId();
    if (!mayAsk(station))
        return QByteArray();
    const QByteArray value = m_driver.read(link, address);
    noteAnswer(station);
    return value;
}

int RequestGuard::write(LinkDevice &link, const DataAddress &address, const QByteArray &data)
{
    const int station = link.stationId();
    if (!mayAsk(station))
        return 0;
    if (m_heldTo < 0) {
        const int written = m_driver.write(link, address, data);
        noteAnswer(station);
        return written;
    }
    HeldLink held(link, m_stream, m_heldTo);
    const int written = m_stream.reconnectCount() == m_heldTo ? m_driver.write(held, address, data)
                                                              : 0;
    if (held.held() || m_stream.reconnectCount() != m_heldTo) {
        refuse(QStringLiteral("write %1> held back: the link was reopened, and the drive "
                              "that answers now is not identified yet")
                   .arg(address.text));
        return 0;
    }
    noteAnswer(station);
    return written;
}
