#include "mqttlink.h"

#include <QMetaObject>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

constexpr int kFirstRetryS = 1;
constexpr int kLastRetryS = 60;

void initLibraryOnce() {
    static const int done = mosquitto_lib_init();
    (void)done;
}

QString errorText(int rc) {
    if (rc == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(rc));
}

} // namespace

MqttLink::MqttLink(const MqttSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings) {}

MqttLink::~MqttLink() { stop(); }

bool MqttLink::start(QString *error) {
    initLibraryOnce();
    const QByteArray id = m_settings.clientId.toUtf8();
    m_client = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
    if (!m_client) {
        *error = QStringLiteral("the MQTT client could not be made");
        return false;
    }
    mosquitto_threaded_set(m_client, true);
    mosquitto_connect_callback_set(m_client, &MqttLink::connectCallback);
    mosquitto_disconnect_callback_set(m_client, &MqttLink::disconnectCallback);
    mosquitto_message_callback_set(m_client, &MqttLink::messageCallback);
    mosquitto_publish_callback_set(m_client, &MqttLink::publishCallback);
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_settings.willTopic.isEmpty()) {
        const QByteArray topic = m_settings.willTopic.toUtf8();
        rc = mosquitto_will_set(m_client, topic.constData(), 7, "offline", 1, true);
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.username.isEmpty()) {
        const QByteArray user = m_settings.username.toUtf8();
        rc = mosquitto_username_pw_set(
            m_client, user.constData(),
            m_settings.password.isNull() ? nullptr : m_settings.password.constData());
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_settings.caFile.isEmpty()) {
        const QByteArray ca = m_settings.caFile.toLocal8Bit();
        const QByteArray cert = m_settings.certFile.toLocal8Bit();
        const QByteArray key = m_settings.keyFile.toLocal8Bit();
        rc = mosquitto_tls_set(m_client, ca.constData(), nullptr,
                               cert.isEmpty() ? nullptr : cert.constData(),
                               key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("the TLS files (CA %1%2) cannot be used: %3")
                         .arg(m_settings.caFile,
                              cert.isEmpty() ? QString()
                                             : QStringLiteral(", certificate %1, key %2")
                                                   .arg(m_settings.certFile, m_settings.keyFile),
                              errorText(rc));
            return false;
        }
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("the MQTT client could not be set up: %1").arg(errorText(rc));
        return false;
    }
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void MqttLink::stop() {
    if (!m_client)
        return;
    if (m_thread.joinable()) {
        if (m_connected && !m_settings.willTopic.isEmpty()) {
            // A clean end: "offline" said by the logger itself, then a normal disconnect (after
            // which the broker does not send the last will). What is still on its way goes
            // first: acknowledged messages may wait in the client's queue behind the ones in
            // flight, and a disconnect would overtake them.
            send(m_settings.willTopic.toUtf8(), QByteArrayLiteral("offline"), 1, true);
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (m_connected && m_unacknowledged > 0 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_stopping = true;
        mosquitto_disconnect(m_client);
        m_wake.notify_all();
        m_thread.join();
    }
    mosquitto_destroy(m_client);
    m_client = nullptr;
    m_connected = false;
}

void MqttLink::waitBeforeRetry(int seconds) {
    std::unique_lock<std::mutex> lock(m_waitLock);
    m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stopping.load(); });
}

void MqttLink::run() {
    const QByteArray host = m_settings.host.toUtf8();
    int retryS = kFirstRetryS;
    bool first = true;
    while (!m_stopping) {
        m_refused = false;
        m_retryS = retryS;
        int rc = first ? mosquitto_connect(m_client, host.constData(), m_settings.port,
                                           m_settings.keepAliveS)
                       : mosquitto_reconnect(m_client);
        first = false;
        if (rc == MOSQ_ERR_SUCCESS) {
            const auto stopAt = std::chrono::steady_clock::now();
            bool stopSeen = false;
            auto stopSince = stopAt;
            while ((rc = mosquitto_loop(m_client, 1000, 1)) == MOSQ_ERR_SUCCESS && !m_refused) {
                if (m_stopping && !stopSeen) {
                    stopSeen = true;
                    stopSince = std::chrono::steady_clock::now();
                }
                // The disconnect ends the loop as soon as it is sent; a broker that does not
                // take it is given 2 s.
                if (stopSeen && std::chrono::steady_clock::now() - stopSince > std::chrono::seconds(2))
                    break;
            }
        }
        const bool wasConnected = m_connected.exchange(false);
        if (m_stopping)
            break;
        if (wasConnected)
            retryS = kFirstRetryS;
        // A refusal was reported by the connect callback with the broker's reason.
        if (!m_refused) {
            const QString why = wasConnected
                                    ? QStringLiteral("connection to the broker lost: %1")
                                          .arg(errorText(rc))
                                    : QStringLiteral("broker %1:%2 not reached: %3")
                                          .arg(m_settings.host)
                                          .arg(m_settings.port)
                                          .arg(errorText(rc));
            QMetaObject::invokeMethod(this, [this, why, retryS] { emit problem(why, retryS); },
                                      Qt::QueuedConnection);
        }
        waitBeforeRetry(retryS);
        retryS = std::min(kLastRetryS, retryS * 2);
    }
}

void MqttLink::publishCallback(mosquitto *, void *self, int) {
    auto *link = static_cast<MqttLink *>(self);
    if (link->m_unacknowledged > 0)
        --link->m_unacknowledged;
}

int MqttLink::send(const QByteArray &topic, const QByteArray &payload, int qos, bool retain) {
    const int rc = mosquitto_publish(m_client, nullptr, topic.constData(), payload.size(),
                                     payload.constData(), qos, retain);
    if (rc == MOSQ_ERR_SUCCESS && qos > 0)
        ++m_unacknowledged;
    return rc;
}

void MqttLink::connectCallback(mosquitto *, void *self, int rc) {
    static_cast<MqttLink *>(self)->onConnect(rc);
}
void MqttLink::disconnectCallback(mosquitto *, void *self, int rc) {
    static_cast<MqttLink *>(self)->onDisconnect(rc);
}
void MqttLink::messageCallback(mosquitto *, void *self, const mosquitto_message *message) {
    static_cast<MqttLink *>(self)->onMessage(message);
}

void MqttLink::onConnect(int rc) {
    if (rc != 0) {
        // The broker refused (a wrong password, a client it does not allow): said with its own
        // reason, and tried again after the back-off.
        m_refused = true;
        const QString why = QStringLiteral("broker %1:%2 refused the connection: %3")
                                .arg(m_settings.host)
                                .arg(m_settings.port)
                                .arg(QString::fromUtf8(mosquitto_connack_string(rc)));
        const int retryS = m_retryS;
        QMetaObject::invokeMethod(this, [this, why, retryS] { emit problem(why, retryS); },
                                  Qt::QueuedConnection);
        return;
    }
    QStringList topics;
    {
        std::lock_guard<std::mutex> guard(m_heldLock);
        topics = m_subscriptions;
        m_connected = true;
        flushHeld();
    }
    for (const QString &t : topics)
        mosquitto_subscribe(m_client, nullptr, t.toUtf8().constData(), 1);
    QMetaObject::invokeMethod(this, [this] { emit connected(); }, Qt::QueuedConnection);
}

void MqttLink::onDisconnect(int) {
    m_connected = false;
    m_unacknowledged = 0; // a clean session: what was in flight is not acknowledged any more
}

void MqttLink::onMessage(const mosquitto_message *message) {
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    QMetaObject::invokeMethod(this, [this, topic, payload] { emit MqttLink::message(topic, payload); },
                              Qt::QueuedConnection);
}

void MqttLink::flushHeld() {
    // Under m_heldLock.
    for (auto it = m_held.begin(); it != m_held.end();) {
        if (send(it.key().toUtf8(), it->payload, it->qos, it->retain) != MOSQ_ERR_SUCCESS)
            break;
        it = m_held.erase(it);
    }
}

void MqttLink::publish(const QString &topic, const QByteArray &payload, bool retain, int qos) {
    std::lock_guard<std::mutex> guard(m_heldLock);
    if (m_connected && m_client) {
        if (send(topic.toUtf8(), payload, qos, retain) == MOSQ_ERR_SUCCESS) {
            m_held.remove(topic);
            return;
        }
    }
    if (m_held.size() >= kMaxHeldTopics && !m_held.contains(topic))
        return; // bounded: a topic beyond the limit waits for the next round's message
    m_held.insert(topic, Held{payload, retain, qos});
}

void MqttLink::subscribe(const QString &topic) {
    std::lock_guard<std::mutex> guard(m_heldLock);
    if (!m_subscriptions.contains(topic))
        m_subscriptions << topic;
    if (m_connected && m_client)
        mosquitto_subscribe(m_client, nullptr, topic.toUtf8().constData(), 1);
}

int MqttLink::heldTopics() const {
    std::lock_guard<std::mutex> guard(m_heldLock);
    return m_held.size();
}
