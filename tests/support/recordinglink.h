// Passes every call on to a link and keeps the telegrams of the current request as
// trace text, so that a test can show what went over the wire when a check fails.
#ifndef RECORDINGLINK_H
#define RECORDINGLINK_H

#include "driverinterface.h"

#include <QtCore/QStringList>

class RecordingLink : public LinkDevice
{
public:
    explicit RecordingLink(LinkDevice &inner) : m_inner(inner) {}

    int receiveExact(char *data, int count) override;
    int receive(char *data, int room) override;
    int send(const char *data, int count) override;
    QVariant control(int code, const QVariant &value) override;
    int retryCount() const override { return m_inner.retryCount(); }
    int stationId() const override { return m_inner.stationId(); }
    int delayMs() const override { return m_inner.delayMs(); }

    void clear() { m_lines.clear(); }
    // One line per call: "> bytes", "< bytes", "control 12".
    QString lines() const { return m_lines.join(QLatin1Char('\n')); }

private:
    void received(const char *data, int got);

    LinkDevice &m_inner;
    QStringList m_lines;
};

#endif // RECORDINGLINK_H
