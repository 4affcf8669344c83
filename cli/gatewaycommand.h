// lustbus gateway: owns one bus and lets many TCP clients use it, exchange by exchange,
// until SIGINT or SIGTERM (see gateway/gateway.h).
#ifndef LUSTBUS_GATEWAYCOMMAND_H
#define LUSTBUS_GATEWAYCOMMAND_H

#include "gateway.h"
#include "linkcommand.h"

class GatewayCommand : public LinkCommand
{
public:
    // Where clients connect unless --listen says otherwise.
    static constexpr quint16 DefaultPort = 5021;

    QString name() const override { return QStringLiteral("gateway"); }
    QString summary() const override;
    QString description() const override;
    QString epilogue() const override;
    QList<QCommandLineOption> options() const override;
    int run(const QCommandLineParser &parser) override;

protected:
    // The clients pick station, repeats and delays; the gateway passes requests on.
    int linkUses() const override { return 0; }

private:
    bool readGatewayOptions(const QCommandLineParser &parser, QString *error);
    void printClientStatistics(const Gateway &gateway, const QString &headline) const;

    QHostAddress m_address;
    quint16 m_port = DefaultPort;
    Gateway::Settings m_settings;
    bool m_keepTrying = false;
};

#endif // LUSTBUS_GATEWAYCOMMAND_H
