// lustbus bridge: a bus's catalogue parameters on an MQTT broker, polled by group and
// written from it when allowed, until SIGINT or SIGTERM (see bridge/bridge.h).
#ifndef LUSTBUS_BRIDGECOMMAND_H
#define LUSTBUS_BRIDGECOMMAND_H

#include "bridge.h"
#include "linkcommand.h"
#include "mqttclient.h"

class BridgeCommand : public LinkCommand
{
public:
    static constexpr quint16 DefaultBrokerPort = 1883;
    static constexpr quint16 DefaultTlsBrokerPort = 8883;

    QString name() const override { return QStringLiteral("bridge"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // A silent station is the bridge's to pace: it keeps polling it.
    int linkUses() const override { return LinkOptions::AllUses & ~LinkOptions::KeepTrying; }

private:
    bool readBridgeOptions(const QCommandLineParser &parser, QString *error);
    // The client id, user name, password and CA file of the broker connection.
    bool readLogin(const QCommandLineParser &parser, QString *error);
    QString defaultBusName() const;

    MqttClient::Settings m_mqtt;
    Bridge::Settings m_bridge;
};

#endif // LUSTBUS_BRIDGECOMMAND_H
