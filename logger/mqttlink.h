#pragma once
// The logger's connection to the site's MQTT broker, over libmosquitto. The client runs on a
// thread of its own that connects, keeps the connection and, when the broker is away or refuses
// the login, tries again after 1 s, doubling up to 60 s. Publishing never waits: while there is
// no connection only the latest message of each topic is kept (a bounded number of topics) and
// sent once the broker is back. What happens to the connection is reported on the Qt thread
// through signals.

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

struct mosquitto;
struct mosquitto_message;

struct MqttSettings {
    QString host = QStringLiteral("127.0.0.1");
    int port = 1883;
    QString clientId;
    QString username;
    QByteArray password; // never logged
    QString caFile;      // TLS when given
    QString certFile;    // client certificate (with keyFile)
    QString keyFile;
    int keepAliveS = 30;
    QString willTopic;   // the logger's own availability: "offline" (retained) when it vanishes
};

class MqttLink : public QObject {
    Q_OBJECT
public:
    explicit MqttLink(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttLink() override;

    // Starts the client thread; false with the reason when the client cannot be set up (a TLS
    // file that cannot be read, no memory). A broker that cannot be reached is no error here:
    // the thread keeps trying.
    bool start(QString *error);
    // Publishes "offline" on the will topic in place of the last will, disconnects and joins
    // the thread (within about 2 s).
    void stop();

    // Sends at once when connected, else keeps it as its topic's latest message.
    void publish(const QString &topic, const QByteArray &payload, bool retain = false,
                 int qos = 0);
    // Subscribed again at every connection.
    void subscribe(const QString &topic);
    bool isConnected() const { return m_connected.load(); }
    int heldTopics() const;

    static constexpr int kMaxHeldTopics = 4096;

signals:
    void connected();
    // The connection went or an attempt failed; why in plain words; retryS: next attempt.
    void problem(const QString &why, int retryS);
    void message(const QString &topic, const QByteArray &payload);

private:
    struct Held {
        QByteArray payload;
        bool retain = false;
        int qos = 0;
    };
    void run();
    void onConnect(int rc);
    void onDisconnect(int rc);
    void onMessage(const mosquitto_message *message);
    void flushHeld();
    void waitBeforeRetry(int seconds);

    static void connectCallback(mosquitto *, void *self, int rc);
    static void disconnectCallback(mosquitto *, void *self, int rc);
    static void messageCallback(mosquitto *, void *self, const mosquitto_message *message);
    static void publishCallback(mosquitto *, void *self, int mid);
    // Sends through the client; counts a message the broker is to acknowledge.
    int send(const QByteArray &topic, const QByteArray &payload, int qos, bool retain);

    MqttSettings m_settings;
    mosquitto *m_client = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_refused{false};
    std::atomic<int> m_retryS{1};
    std::atomic<int> m_unacknowledged{0}; // QoS 1 messages the broker has not acknowledged
    std::mutex m_waitLock;
    std::condition_variable m_wake;
    mutable std::mutex m_heldLock;
    QMap<QString, Held> m_held;
    QStringList m_subscriptions;
};
