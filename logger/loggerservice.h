#pragma once
// The logger at work: the link runs the logger's round over every listed controller; after each
// round the values of each controller that answered are written to its files and published,
// alarm changes become events, and each controller's availability follows whether it answered
// in the last three rounds. Everything the operator of a service needs to know goes to stderr,
// one line per event.

#include "loggerconfig.h"
#include "loggerpublish.h"
#include "serialsettings.h"

#include <QDate>
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>

class DayCsv;
class LinkSession;
class LoggerRound;
class MqttLink;

// One line on stderr, with a priority the journal understands when it reads the stream.
enum class LogLevel { Error = 3, Warning = 4, Info = 6, Debug = 7 };
void logLine(LogLevel level, const QString &text);

class LoggerService : public QObject {
    Q_OBJECT
public:
    explicit LoggerService(const LoggerConfig &config, QObject *parent = nullptr);
    ~LoggerService() override;

    // Starts the outputs and then the link; false with the reason when a part cannot be set up
    // at all.
    bool start(QString *error);
    // The two halves of start(): the files and the broker connection, and the link with the
    // logger's round and the watch over it.
    bool startOutputs(QString *error);
    void startLink();
    // What a round's end does, at wall time now: files, events, availability, publishing.
    void processRound(const QDateTime &now);
    // Stops the link (the port is released), writes and syncs the files and leaves the broker
    // with a clean "offline".
    void stop();

    // The line as the logger names it: the port, or the gateway with its framing.
    QString lineName() const { return m_line; }

private:
    struct Unit {
        int address = 0;
        uint32_t homeLandings = 0;
        uint32_t alarmLandings = 0;
        uint32_t dataLandings = 0;
        uint32_t packLandings = 0;
        AlarmWords alarms;
        int64_t lastAnswerMs = 0; // mirror clock
        int silentRounds = 0;
        int online = -1;          // availability as last published (-1 not yet)
        QByteArray discoveryKey;  // what the published discovery was made from
        QStringList discoveryTopics; // the discovery topics published for it
        ControllerReport report;
        std::unique_ptr<DayCsv> home, data, pack;
    };

    SerialSettings linkSettings() const;
    void check();
    void noteRound(Unit &unit, bool answered);
    void publishDiscovery(Unit &unit, bool force);
    void publishAvailability(Unit &unit, bool online, bool force);
    void write(DayCsv &file, const QDate &date, const QStringList &heading,
               const QList<QStringList> &rows);
    void onMqttConnected();
    void onMqttMessage(const QString &topic, const QByteArray &payload);
    void watchLinkStatus();

    LoggerConfig m_config;
    QString m_line;
    std::unique_ptr<LinkSession> m_session;
    LoggerRound *m_round = nullptr; // owned by the link worker
    std::unique_ptr<MqttLink> m_mqtt;
    std::map<int, std::unique_ptr<Unit>> m_units;
    std::unique_ptr<DayCsv> m_events;
    QTimer m_timer;
    uint64_t m_roundsSeen = 0;
    int64_t m_lastRoundMs = 0;   // mirror clock of the last round's end
    int64_t m_roundLengthMs = 0; // measured between the last two rounds
    QString m_writeProblem;      // the last file problem said (empty: writing works)
    QByteArray m_status;         // the link's status text as last logged
};
