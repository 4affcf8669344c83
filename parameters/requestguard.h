// In front of the driver plugin: every request of a command passes here.
//
// - A station that left two requests in a row without any response is not asked again
//   in this run: its requests fail at once with "not tried: station N does not answer"
//   instead of each waiting out its time-out and retries (off with keepTrying).
// - Once a drive was identified (holdWritesTo), a write goes out only on the link as it
//   was then: a write whose request finds the link reopened is not sent, as the drive
//   that answers now may be another one.
#ifndef LUSTBUS_REQUESTGUARD_H
#define LUSTBUS_REQUESTGUARD_H

#include "driverinterface.h"

#include <QtCore/QMap>
#include <QtCore/QSet>

class StreamLink;

class RequestGuard : public DriverInterface
{
public:
    // stream: the link whose reopens count; it must outlive the guard.
    RequestGuard(DriverInterface &driver, const StreamLink &stream, bool keepTrying);

    // "not tried: station N does not answer"
    static QString notTriedText(int station);

    // Writes only while the link has been reopened this often since it opened
    // (StreamLink::reconnectCount); -1 (the default): writes are not held.
    void holdWritesTo(int reconnects) { m_heldTo = reconnects; }
    // Every station gets its two chances again (watch: each round).
    void forgetSilentStations();

    int write(LinkDevice &link, const DataAddress &address, const QByteArray &data) override;
    QByteArray read(LinkDevice &link, const DataAddress &address) override;
    bool hasError() const override { return m_ownError ? true : m_driver.hasError(); }
    QString errorText() const override { return m_ownError ? m_error : m_driver.errorText(); }

    int limitA() const override { return m_driver.limitA(); }
    int optionA() const override { return m_driver.optionA(); }
    int optionB() const override { return m_driver.optionB(); }
    QString name() const override { return m_driver.name(); }
    QString manufacturer() const override { return m_driver.manufacturer(); }
    QString version() const override { return m_driver.version(); }
    PortSettings *defaultPortSettings() const override { return m_driver.defaultPortSettings(); }
    ProtocolSettings *defaultProtocolSettings() const override
    {
        return m_driver.defaultProtocolSettings();
    }
    QString defaultSettingsText() const override { return m_driver.defaultSettingsText(); }
    int driverCode() const override { return m_driver.driverCode(); }
    void setHostFlag(bool on) override { m_driver.setHostFlag(on); }
    int limitB() const override { return m_driver.limitB(); }
    int limitC() const override { return m_driver.limitC(); }
    QObject *toQObject() override { return m_driver.toQObject(); }
    int optionC() const override { return m_driver.optionC(); }
    void hookA() override { m_driver.hookA(); }
    void hookB() override { m_driver.hookB(); }
    int optionD() const override { return m_driver.optionD(); }
    int optionE() const override { return m_driver.optionE(); }

private:
    // False (with the error set) when the request to station is not to be sent.
    bool mayAsk(int station);
    void noteAnswer(int station);
    void refuse(const QString &error);

    DriverInterface &m_driver;
    const StreamLink &m_stream;
    bool m_keepTrying;
    int m_heldTo = -1;
    QMap<int, int> m_misses; //!< requests in a row without a response, by station
    QSet<int> m_silent;
    bool m_ownError = false;
    QString m_error;
};

#endif // LUSTBUS_REQUESTGUARD_H
