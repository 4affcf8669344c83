// One connection to an MQTT broker through libmosquitto, whose network thread keeps
// it: connects, reconnects with back-off after a loss, and hands what arrives to the
// Qt thread that owns the client through queued signals. Messages wait in the client,
// the one place where the two threads meet, until that thread delivers them: from its
// event loop, or at once through deliverWaiting() for an owner that blocks on other
// work meanwhile. It speaks MQTT 5, for the response topic and correlation data of
// requests, and falls back to 3.1.1 with a broker that refuses 5.
#ifndef LUSTBUS_MQTTCLIENT_H
#define LUSTBUS_MQTTCLIENT_H

#include <QtCore/QByteArray>
#include <QtCore/QObject>
#include <QtCore/QString>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

class MqttClient : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        QString host = QStringLiteral("127.0.0.1");
        quint16 port = 1883;
        QString clientId;
        QString username;
        QString password;
        QString caFile;      //!< TLS with this CA when not empty
        QString willTopic;   //!< the will (QoS 1), published by the broker when the link drops
        QByteArray willPayload; //!< the will of the first session
        bool willRetained = true;
        // Called on the network thread when a session is lost, before the client
        // connects again: the will of the next session. Empty: the will stays.
        std::function<QByteArray()> nextWillPayload;
        int keepAliveSeconds = 10;
    };

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // Starts connecting in the background; false with errorString() when the settings
    // are refused (a bad CA file, no memory).
    bool start(const Settings &settings);
    // QoS 0 or 1; false when the message could not even be queued. A response topic
    // and correlation data go along as MQTT 5 properties when given.
    bool publish(const QString &topic, const QByteArray &payload, int qos, bool retain,
                 const QString &responseTopic = QString(),
                 const QByteArray &correlation = QByteArray());
    // Under MQTT 5 the broker keeps the retain flag of every message it delivers here
    // (retain as published); under 3.1.1 only the retained copies sent at subscribing
    // carry it.
    bool subscribe(const QString &pattern, int qos);
    // Publishes a last message (QoS 1), waits up to waitMs for the broker to take it,
    // then disconnects cleanly, so that the will is not sent.
    void stop(const QString &topic, const QByteArray &payload, int waitMs, bool retain = true);

    // Emits messageReceived for every message waiting, in the order they came, on the
    // calling thread; the owner's event loop does the same when it gets to it. A
    // program whose thread runs no event loop can call it from a direct connection
    // to messagesWaiting, on the network thread.
    void deliverWaiting();

    bool isConnected() const { return m_connected.load(); }
    QString errorString() const { return m_error; }

signals:
    void connected();
    void disconnected(const QString &reason);
    // Where deliverWaiting() runs. responseTopic and correlation: the
    // MQTT 5 properties, empty without; retained: the message's retain flag (see
    // subscribe).
    void messageReceived(const QString &topic, const QByteArray &payload,
                         const QString &responseTopic, const QByteArray &correlation,
                         bool retained);
    // On the network thread: messages came in and wait for deliverWaiting(), which
    // runs queued on the owner's thread as well.
    void messagesWaiting();
    // An error the library met while it connects, such as a broker certificate that the
    // CA does not vouch for; the same text comes again with every attempt.
    void problem(const QString &text);

private:
    struct Message
    {
        QString topic;
        QByteArray payload;
        QString responseTopic;
        QByteArray correlation;
        bool retained = false;
    };

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message,
                          const mosquitto_property *properties);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    // The will from now on; empty, or why the library refused it.
    QString setWill(const QByteArray &payload);

    mosquitto *m_handle = nullptr;
    QString m_willTopic;
    bool m_willRetained = true;
    std::function<QByteArray()> m_nextWill; //!< called on the network thread only
    bool m_loopRunning = false;
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_version5{true};
    std::atomic<int> m_lastPublished{0};
    std::mutex m_waitingLock; //!< a pthread mutex, which the thread checker sees
    std::deque<Message> m_waiting; //!< filled by the network thread
    QString m_error;
};

#endif // LUSTBUS_MQTTCLIENT_H
