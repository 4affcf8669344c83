#include "mqttclient.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QThread>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cstdlib>

namespace {

// The library's global state, set up once for the program's lifetime.
void initLibrary()
{
    static const int once = mosquitto_lib_init();
    Q_UNUSED(once);
}

} // namespace

MqttClient::MqttClient(QObject *parent) : QObject(parent)
{
    initLibrary();
    // A queued signal, not a posted function: the network thread would release that
    // function's object in this code, after a count of references inside Qt that the
    // thread checker does not see.
    connect(this, &MqttClient::messagesWaiting, this, &MqttClient::deliverWaiting,
            Qt::QueuedConnection);
}

MqttClient::~MqttClient()
{
    if (m_handle) {
        mosquitto_disconnect(m_handle);
        if (m_loopRunning)
            mosquitto_loop_stop(m_handle, false);
        mosquitto_destroy(m_handle);
    }
}

bool MqttClient::start(const Settings &settings)
{
    const QByteArray id = settings.clientId.toUtf8();
    m_handle = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
    if (!m_handle) {
        m_error = QStringLiteral("cannot create an MQTT client (client id '%1')")
                      .arg(settings.clientId);
        return false;
    }
    mosquitto_connect_callback_set(m_handle, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_handle, &MqttClient::onDisconnect);
    mosquitto_int_option(m_handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small messages that matter now: not held back to be sent with the next one.
    mosquitto_int_option(m_handle, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_message_v5_callback_set(m_handle, &MqttClient::onMessage);
    mosquitto_publish_callback_set(m_handle, &MqttClient::onPublish);
    mosquitto_log_callback_set(m_handle, &MqttClient::onLog);
    // 1 s after a loss, doubling up to 30 s: a broker that restarts is not flooded.
    mosquitto_reconnect_delay_set(m_handle, 1, 30, true);

    m_willTopic = settings.willTopic;
    m_willRetained = settings.willRetained;
    m_nextWill = settings.nextWillPayload;
    if (!m_willTopic.isEmpty()) {
        m_error = setWill(settings.willPayload);
        if (!m_error.isEmpty())
            return false;
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (!settings.username.isEmpty()) {
        const QByteArray user = settings.username.toUtf8();
        const QByteArray password = settings.password.toUtf8();
        rc = mosquitto_username_pw_set(m_handle, user.constData(),
                                       settings.password.isNull() ? nullptr
                                                                  : password.constData());
        if (rc != MOSQ_ERR_SUCCESS) {
            m_error = QStringLiteral("MQTT user name: %1")
                          .arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    if (!settings.caFile.isEmpty()) {
        const QByteArray ca = settings.caFile.toLocal8Bit();
        rc = mosquitto_tls_set(m_handle, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            m_error = QStringLiteral("TLS CA file '%1': %2")
                          .arg(settings.caFile, QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    const QByteArray host = settings.host.toUtf8();
    // An unreachable broker is no failure here: the network thread keeps trying.
    rc = mosquitto_connect_async(m_handle, host.constData(), settings.port,
                                 settings.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_ERRNO && rc != MOSQ_ERR_NO_CONN) {
        m_error = QStringLiteral("MQTT broker %1:%2: %3")
                      .arg(settings.host)
                      .arg(settings.port)
                      .arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    rc = mosquitto_loop_start(m_handle);
    if (rc != MOSQ_ERR_SUCCESS) {
        m_error = QStringLiteral("cannot start the MQTT network thread: %1")
                      .arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    m_loopRunning = true;
    return true;
}

QString MqttClient::setWill(const QByteArray &payload)
{
    const QByteArray topic = m_willTopic.toUtf8();
    const int rc = mosquitto_will_set(m_handle, topic.constData(), int(payload.size()),
                                      payload.constData(), 1, m_willRetained);
    if (rc == MOSQ_ERR_SUCCESS)
        return QString();
    return QStringLiteral("MQTT will on '%1': %2")
        .arg(m_willTopic, QString::fromUtf8(mosquitto_strerror(rc)));
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, int qos, bool retain,
                         const QString &responseTopic, const QByteArray &correlation)
{
    const QByteArray name = topic.toUtf8();
    mosquitto_property *properties = nullptr;
    if (m_version5.load()) {
        if (!responseTopic.isEmpty())
            mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC,
                                          responseTopic.toUtf8().constData());
        if (!correlation.isEmpty())
            mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA,
                                          correlation.constData(),
                                          quint16(qMin<int>(int(correlation.size()), 65535)));
    }
    const int rc = mosquitto_publish_v5(m_handle, nullptr, name.constData(), int(payload.size()),
                                        payload.constData(), qos, retain, properties);
    mosquitto_property_free_all(&properties);
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString &pattern, int qos)
{
    const QByteArray name = pattern.toUtf8();
    const int options = m_version5.load() ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0;
    return mosquitto_subscribe_v5(m_handle, nullptr, name.constData(), qos, options, nullptr)
           == MOSQ_ERR_SUCCESS;
}

void MqttClient::stop(const QString &topic, const QByteArray &payload, int waitMs, bool retain)
{
    if (!m_handle)
        return;
    if (m_connected.load()) {
        const QByteArray name = topic.toUtf8();
        int mid = 0;
        if (mosquitto_publish(m_handle, &mid, name.constData(), int(payload.size()),
                              payload.constData(), 1, retain)
            == MOSQ_ERR_SUCCESS) {
            QElapsedTimer waited;
            waited.start();
            while (m_lastPublished.load() != mid && m_connected.load()
                   && waited.elapsed() < waitMs)
                QThread::msleep(5);
        }
    }
    mosquitto_disconnect(m_handle);
    if (m_loopRunning) {
        mosquitto_loop_stop(m_handle, false);
        m_loopRunning = false;
    }
}

// The callbacks run on the network thread; the signals reach the owner's thread queued,
// and messages wait for it in m_waiting.
void MqttClient::onConnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    const bool version5 = client->m_version5.load();
    if ((rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION || rc == CONNACK_REFUSED_PROTOCOL_VERSION)
        && client->m_version5.exchange(false)) {
        // A 3.1.1 broker: the next attempt speaks its version.
        mosquitto_int_option(client->m_handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    }
    if (rc != 0) {
        // MQTT 5 brokers answer with a reason code, 3.1.1 brokers with a CONNACK code.
        emit client->problem(QStringLiteral("refused the connection: %1")
                                 .arg(QString::fromUtf8(version5 ? mosquitto_reason_string(rc)
                                                            : mosquitto_connack_string(rc))));
        return;
    }
    client->m_connected.store(true);
    emit client->connected();
}

void MqttClient::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *client = static_cast<MqttClient *>(self);
    const bool was = client->m_connected.exchange(false);
    if (!was || rc == 0)
        return;
    // The library connects again from this thread once this returns, with the will
    // as it is set now.
    if (client->m_nextWill) {
        const QString error = client->setWill(client->m_nextWill());
        if (!error.isEmpty())
            emit client->problem(error);
    }
    emit client->disconnected(QString::fromUtf8(mosquitto_strerror(rc)));
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message,
                           const mosquitto_property *properties)
{
    auto *client = static_cast<MqttClient *>(self);
    Message waiting{QString::fromUtf8(message->topic),
                    QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                    QString(), QByteArray(), message->retain};
    char *text = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &text, false)) {
        waiting.responseTopic = QString::fromUtf8(text);
        std::free(text);
    }
    void *data = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length,
                                       false)) {
        waiting.correlation = QByteArray(static_cast<const char *>(data), length);
        std::free(data);
    }
    bool first = false;
    {
        std::lock_guard<std::mutex> locker(client->m_waitingLock);
        first = client->m_waiting.empty();
        client->m_waiting.push_back(std::move(waiting));
    }
    // One call for all that come before the owner gets to them.
    if (first)
        emit client->messagesWaiting();
}

void MqttClient::deliverWaiting()
{
    // One at a time: a receiver that calls in again gets the next, in order.
    for (;;) {
        Message message;
        {
            std::lock_guard<std::mutex> locker(m_waitingLock);
            if (m_waiting.empty())
                return;
            message = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
        emit messageReceived(message.topic, message.payload, message.responseTopic,
                             message.correlation, message.retained);
    }
}

void MqttClient::onPublish(mosquitto *, void *self, int mid)
{
    static_cast<MqttClient *>(self)->m_lastPublished.store(mid);
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text)
{
    if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))
        emit static_cast<MqttClient *>(self)->problem(QString::fromUtf8(text));
}
