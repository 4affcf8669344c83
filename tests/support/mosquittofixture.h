// A real mosquitto broker on a free loopback port, and a subscriber that sees what it
// delivers: the fixture of the suites that test lustbus bridge as a plant meets it.
// The including target defines LUSTBUS_CLI_PATH (for cliprocess.h) and links
// lustbusbridge and Qt::Network.
#ifndef LUSTBUS_TESTS_MOSQUITTOFIXTURE_H
#define LUSTBUS_TESTS_MOSQUITTOFIXTURE_H

#include "../cliprocess.h"
#include "mqttclient.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QList>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtCore/QThread>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <functional>

namespace {

inline QString mosquittoProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"),
                                          args("/usr/sbin /usr/local/sbin /usr/bin"));
}

// Processes events until done() holds or ms pass; whether it held.
inline bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

inline quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// mosquitto with a generated configuration, in which {port} stands for a free loopback
// port and {dir} for the broker's directory. By default one anonymous listener; retained
// messages are kept over a restart, as a plant's broker keeps them.
class Broker
{
public:
    bool start(const QString &config = QString())
    {
        if (!config.isNull())
            m_config = config;
        // Run as root, mosquitto reads its files as the user mosquitto.
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                              | QFile::ReadOther | QFile::WriteOther
                                              | QFile::ExeOther);
        QString text = m_config + QStringLiteral("persistence true\npersistence_location {dir}/\n");
        text.replace(QStringLiteral("{port}"), QString::number(port))
            .replace(QStringLiteral("{dir}"), dir.path());
        if (port == 0 || !writeFile("mosquitto.conf", text.toUtf8()))
            return false;
        process.start(mosquittoProgram(), {QStringLiteral("-c"), file("mosquitto.conf")});
        // Ready once it takes connections.
        return process.waitForStarted() && waitFor([this] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            return socket.waitForConnected(100) || process.state() == QProcess::NotRunning;
        }) && process.state() == QProcess::Running;
    }
    void stop()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished();
    }
    ~Broker() { stop(); }
    bool writeFile(const char *name, const QByteArray &content)
    {
        QFile f(file(name));
        return f.open(QIODevice::WriteOnly) && f.write(content) == content.size()
               && f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    }
    QString file(const char *name) const { return dir.filePath(QLatin1String(name)); }

    QTemporaryDir dir;
    QProcess process;
    const quint16 port = freePort();

private:
    QString m_config = QStringLiteral("listener {port} 127.0.0.1\nallow_anonymous true\n");
};

struct Message
{
    QString topic;
    QByteArray payload;
    bool retained = false;
};

// Everything under a pattern, in the order the broker delivers it, handed to the
// test's thread.
class Subscriber
{
public:
    // Subscribes to pattern once connected with settings on port.
    bool start(quint16 port, MqttClient::Settings settings = {},
               const QString &pattern = QStringLiteral("lustbus/#"))
    {
        QObject::connect(&client, &MqttClient::connected, &client, [this, pattern] {
            client.subscribe(pattern, 1);
            subscribed = true;
        });
        QObject::connect(&client, &MqttClient::messageReceived, &client,
                         [this](const QString &topic, const QByteArray &payload,
                                const QString &, const QByteArray &, bool retained) {
                             messages.append({topic, payload, retained});
                         });
        settings.port = port;
        return client.start(settings) && waitFor([this] { return subscribed; });
    }
    void publish(const QString &topic, const QByteArray &payload)
    {
        client.publish(topic, payload, 1, false);
    }
    int count() const { return int(messages.size()); }
    // The last message on topic after the first from, or an empty payload.
    QByteArray last(const QString &topic, int from = 0) const
    {
        for (int i = count() - 1; i >= from; --i) {
            if (messages.at(i).topic == topic)
                return messages.at(i).payload;
        }
        return QByteArray();
    }
    QJsonObject lastJson(const QString &topic, int from = 0) const
    {
        return json(QString::fromUtf8(last(topic, from)));
    }
    bool waitForMessage(const QString &topic, int from = 0, int ms = 5000)
    {
        return waitFor([&] { return !last(topic, from).isEmpty(); }, ms);
    }
    MqttClient client;
    QList<Message> messages;
    bool subscribed = false;
};

} // namespace

#endif // LUSTBUS_TESTS_MOSQUITTOFIXTURE_H
