#include "loggerservice.h"

#include "daycsv.h"
#include "displaysnapshot.h"
#include "linksession.h"
#include "loggerround.h"
#include "mqttlink.h"
#include "paramset.h"
#include "pollplan.h"
#include "registermirror.h"
#include "serialsettings.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kSilentRoundsOffline = 3;

// Landings of the blocks a page shows, summed: changes whenever any of them was read again.
uint32_t pageLandings(const RegisterMirror &mirror, int mode) {
    int blocks[16];
    const int n = pageBlocks(mode, blocks);
    uint32_t sum = 0;
    for (int i = 0; i < n; ++i)
        sum += mirror.landings(blocks[i]);
    return sum;
}

// An identity string as the controller holds it, when it reads as one: printable ASCII of at
// least 3 characters. Anything else (cells never written, a controller that fills them with
// noise) is taken as not readable, so that no device is named by noise.
QString readableText(const QString &text) {
    const QString t = text.trimmed();
    if (t.size() < 3)
        return QString();
    for (const QChar c : t)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return QString();
    return t;
}

} // namespace

void logLine(LogLevel level, const QString &text) {
    // Under systemd the journal reads a "<N>" priority at the start of each line; elsewhere a
    // line begins with the local time.
    static const bool journal = qEnvironmentVariableIsSet("JOURNAL_STREAM");
    // One line per event: a text of several lines is joined.
    QString one = text;
    one.replace(QLatin1Char('\n'), QStringLiteral("; "));
    const QString line =
        journal ? QStringLiteral("<%1>%2\n").arg(int(level)).arg(one)
                : QStringLiteral("%1 %2\n")
                      .arg(QDateTime::currentDateTime().toString(Qt::ISODate), one);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

LoggerService::LoggerService(const LoggerConfig &config, QObject *parent)
    : QObject(parent), m_config(config) {
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &LoggerService::check);
}

LoggerService::~LoggerService() { stop(); }

bool LoggerService::start(QString *error) {
    if (!startOutputs(error))
        return false;
    startLink();
    return true;
}

SerialSettings LoggerService::linkSettings() const {
    // Only what the configuration gives: no remembered settings.
    SerialSettings s;
    s.checkBit = 0;
    return settingsWithOptions(s, m_config.link);
}

bool LoggerService::startOutputs(QString *error) {
    m_line = linkTargetText(linkSettings());

    for (int address : m_config.addresses) {
        auto unit = std::make_unique<Unit>();
        unit->address = address;
        unit->report.address = address;
        if (!m_config.recordFolder.isEmpty()) {
            const QString folder = QDir(m_config.recordFolder).filePath(QString::number(address));
            unit->home = std::make_unique<DayCsv>(folder, QStringLiteral("home"),
                                                  m_config.recordFormat, m_config.maxFileBytes);
            unit->data = std::make_unique<DayCsv>(folder, QStringLiteral("data"),
                                                  m_config.recordFormat, m_config.maxFileBytes);
            unit->pack = std::make_unique<DayCsv>(folder, QStringLiteral("pack"),
                                                  m_config.recordFormat, m_config.maxFileBytes);
        }
        m_units[address] = std::move(unit);
    }
    if (!m_config.recordFolder.isEmpty()) {
        if (!QDir().mkpath(m_config.recordFolder)) {
            *error = QStringLiteral("cannot make the folder %1").arg(m_config.recordFolder);
            return false;
        }
        m_events = std::make_unique<DayCsv>(m_config.recordFolder, QStringLiteral("events"),
                                            m_config.recordFormat, m_config.maxFileBytes);
    }

    if (m_config.mqttOn) {
        MqttSettings mqtt = m_config.mqtt;
        mqtt.willTopic = m_config.mqttBase + QStringLiteral("/status");
        m_mqtt = std::make_unique<MqttLink>(mqtt);
        connect(m_mqtt.get(), &MqttLink::connected, this, &LoggerService::onMqttConnected);
        connect(m_mqtt.get(), &MqttLink::message, this, &LoggerService::onMqttMessage);
        connect(m_mqtt.get(), &MqttLink::problem, this, [](const QString &why, int retryS) {
            logLine(LogLevel::Warning,
                    retryS > 0 ? QStringLiteral("MQTT: %1; trying again in %2 s").arg(why).arg(retryS)
                               : QStringLiteral("MQTT: %1; trying again with back-off").arg(why));
        });
        m_mqtt->subscribe(m_config.haPrefix + QStringLiteral("/status"));
        if (!m_mqtt->start(error))
            return false;
    }
    return true;
}

void LoggerService::startLink() {
    resetLinkState();
    m_session = std::make_unique<LinkSession>();
    auto round = std::make_unique<LoggerRound>(m_config.addresses, m_config.periods);
    m_round = round.get();
    m_session->worker()->setPollSource(std::move(round));
    m_session->start(linkSettings());
    QStringList addresses;
    for (int a : m_config.addresses)
        addresses << QString::number(a);
    logLine(LogLevel::Info,
            QStringLiteral("Logging addresses %1 on %2%3%4")
                .arg(addresses.join(QLatin1Char(',')), m_line,
                     m_config.recordFolder.isEmpty()
                         ? QString()
                         : QStringLiteral(", files in %1").arg(m_config.recordFolder),
                     m_config.mqttOn ? QStringLiteral(", MQTT %1:%2 under %3")
                                           .arg(m_config.mqtt.host)
                                           .arg(m_config.mqtt.port)
                                           .arg(m_config.mqttBase)
                                     : QString()));
    m_lastRoundMs = mirrorClockMs();
    m_timer.start();
}

void LoggerService::stop() {
    m_timer.stop();
    if (m_session) {
        m_session->stop();
        m_session.reset();
        m_round = nullptr;
        logLine(LogLevel::Info, QStringLiteral("Link stopped: %1 released").arg(m_line));
    }
    for (auto &entry : m_units) {
        Unit &u = *entry.second;
        // The files are synced and closed as they go.
        u.home.reset();
        u.data.reset();
        u.pack.reset();
    }
    m_events.reset();
    if (m_mqtt) {
        for (auto &entry : m_units)
            if (entry.second->online == 1)
                publishAvailability(*entry.second, false, true);
        m_mqtt->stop();
        m_mqtt.reset();
        logLine(LogLevel::Info, QStringLiteral("MQTT: left the broker as offline"));
    }
}

void LoggerService::watchLinkStatus() {
    char text[kStatusTextSize];
    readStatusText(text);
    QByteArray status(text);
    if (status == m_status)
        return;
    m_status = status;
    if (status == "Serial open failed") {
        char problem[kStatusTextSize * 2];
        readLinkProblem(problem);
        logLine(LogLevel::Error, QStringLiteral("Link %1: cannot open: %2")
                                     .arg(m_line, QString::fromLocal8Bit(problem)));
    } else {
        logLine(status == "No answer" ? LogLevel::Warning : LogLevel::Info,
                QStringLiteral("Link %1: %2").arg(m_line, QString::fromLatin1(status)));
    }
}

void LoggerService::check() {
    watchLinkStatus();
    if (!m_round)
        return;
    const uint64_t rounds = m_round->roundsDone();
    if (rounds != m_roundsSeen) {
        m_roundsSeen = rounds;
        processRound(QDateTime::currentDateTime());
        return;
    }
    // No round ends while the link is down (a gateway gone, a port that does not open): each
    // round's time that passes counts as a silent round.
    const int64_t now = mirrorClockMs();
    const int64_t roundMs = std::max<int64_t>(m_config.periods.roundMs, m_roundLengthMs);
    if (now - m_lastRoundMs > roundMs + 1000) {
        m_lastRoundMs = now;
        for (auto &entry : m_units)
            noteRound(*entry.second, false);
    }
}

void LoggerService::write(DayCsv &file, const QDate &date, const QStringList &heading,
                          const QList<QStringList> &rows) {
    QString error;
    if (file.append(date, heading, rows, &error)) {
        if (!m_writeProblem.isEmpty()) {
            logLine(LogLevel::Info, QStringLiteral("Writing resumed: %1").arg(file.fileName()));
            m_writeProblem.clear();
        }
        return;
    }
    // Said once: the link keeps polling and the MQTT side keeps publishing; each round tries
    // the files again, so writing resumes by itself when the disk has room again.
    if (m_writeProblem.isEmpty())
        logLine(LogLevel::Error,
                QStringLiteral("Cannot write the files: %1; logging goes on and writing resumes "
                               "when possible")
                    .arg(error));
    m_writeProblem = error;
}

void LoggerService::processRound(const QDateTime &wall) {
    const int64_t now = mirrorClockMs();
    const int64_t wallMs = wall.toMSecsSinceEpoch();
    const QDate date = wall.date();
    const QString time = wall.toString(Qt::ISODateWithMs);
    m_roundLengthMs = now - m_lastRoundMs;
    m_lastRoundMs = now;
    if (m_config.verbose)
        logLine(LogLevel::Debug, QStringLiteral("Round %1 ended").arg(m_roundsSeen));

    for (auto &entry : m_units) {
        Unit &u = *entry.second;
        const uint8_t address = static_cast<uint8_t>(u.address);
        const RegisterMirror &mirror = mirrorOf(address);
        const uint32_t homeLandings = mirror.landings(kHomeBlock);
        const bool answered = homeLandings != u.homeLandings;
        DisplaySnapshot snapshot;
        if (answered) {
            u.homeLandings = homeLandings;
            u.lastAnswerMs = mirror.landedAtMs(kHomeBlock);
            takeDisplaySnapshot(snapshot, address);
            u.report.home = namedValues(snapshot, 0).value(0);
            u.report.atMs = wallMs - (now - u.lastAnswerMs);
            const ControllerIdentity id = controllerIdentity(mirror);
            u.report.serialNumber = readableText(id.serialNumber);
            u.report.softwareVersion = readableText(id.softwareVersion);
            u.report.hardwareVersion = readableText(id.hardwareVersion);
            u.report.projectName = readableText(id.projectName);
            if (u.home) {
                QStringList row{time};
                row << PageRecorder::rows({u.report.home}).value(0);
                write(*u.home, date, PageRecorder::header({u.report.home}), {row});
            }
        }
        const uint32_t alarmLandings = mirror.landings(kAlarmBlock);
        if (alarmLandings != u.alarmLandings) {
            u.alarmLandings = alarmLandings;
            AlarmWords words;
            words.read = true;
            for (int k = 0; k < kAlarmWords; ++k)
                words.word[k] = static_cast<uint16_t>(mirror.cell(kAlarmBlock, k));
            const QVector<AlarmEvent> events =
                alarmEvents(u.address, u.alarms, words, wallMs, u.report.home);
            QList<QStringList> rows;
            for (const AlarmEvent &e : events) {
                rows << alarmEventRow(e);
                logLine(e.level >= 2 ? LogLevel::Warning : LogLevel::Info,
                        QStringLiteral("Address %1: %2 %3 %4%5")
                            .arg(e.address)
                            .arg(e.raised ? QStringLiteral("raised") : QStringLiteral("cleared"),
                                 e.levelText, e.alarm,
                                 e.where.isEmpty() ? QString()
                                                   : QStringLiteral(" (%1)").arg(e.where)));
                if (m_mqtt)
                    m_mqtt->publish(QStringLiteral("%1/%2/event").arg(m_config.mqttBase).arg(u.address),
                                    eventPayload(e));
            }
            if (m_events && !rows.isEmpty())
                write(*m_events, date, alarmEventHeading(), rows);
            u.alarms = words;
            u.report.alarms = words;
        }
        // The slower blocks: a row per rack or pack whenever they were read again.
        const struct {
            uint32_t now;
            uint32_t *seen;
            DayCsv *file;
            int tab;
        } slow[] = {{pageLandings(mirror, kModeData), &u.dataLandings, u.data.get(), kModeData},
                    {pageLandings(mirror, kModePack), &u.packLandings, u.pack.get(), kModePack}};
        for (const auto &s : slow) {
            if (s.now == *s.seen)
                continue;
            *s.seen = s.now;
            if (!s.file)
                continue;
            if (!answered)
                takeDisplaySnapshot(snapshot, address);
            const QVector<NamedGroup> groups = namedValues(snapshot, s.tab);
            QList<QStringList> rows;
            for (QStringList row : PageRecorder::rows(groups)) {
                row.prepend(time);
                rows << row;
            }
            write(*s.file, date, PageRecorder::header(groups), rows);
        }
        noteRound(u, answered);
        if (answered && m_mqtt) {
            publishDiscovery(u, false);
            m_mqtt->publish(QStringLiteral("%1/%2/state").arg(m_config.mqttBase).arg(u.address),
                            statePayload(u.report));
        }
    }
    // What this round wrote is on the disk before the next round begins.
    QString error;
    for (auto &entry : m_units)
        for (DayCsv *f : {entry.second->home.get(), entry.second->data.get(), entry.second->pack.get()})
            if (f && !f->sync(&error) && m_writeProblem.isEmpty()) {
                logLine(LogLevel::Error, QStringLiteral("Cannot sync the files: %1").arg(error));
                m_writeProblem = error;
            }
    if (m_events)
        m_events->sync(&error);
}

void LoggerService::noteRound(Unit &u, bool answered) {
    u.silentRounds = answered ? 0 : u.silentRounds + 1;
    const bool online = u.lastAnswerMs != 0 && u.silentRounds < kSilentRoundsOffline;
    if (u.online == int(online))
        return;
    if (!online && u.online == -1 && u.silentRounds < kSilentRoundsOffline)
        return; // not heard yet, but not three rounds yet either
    logLine(online ? LogLevel::Info : LogLevel::Warning,
            online ? QStringLiteral("Address %1: online").arg(u.address)
                   : QStringLiteral("Address %1: offline (no answer in %2 rounds)")
                         .arg(u.address)
                         .arg(kSilentRoundsOffline));
    publishAvailability(u, online, false);
}

void LoggerService::publishAvailability(Unit &u, bool online, bool force) {
    if (!force && u.online == int(online))
        return;
    u.online = online ? 1 : 0;
    if (m_mqtt)
        m_mqtt->publish(QStringLiteral("%1/%2/availability").arg(m_config.mqttBase).arg(u.address),
                        online ? QByteArrayLiteral("online") : QByteArrayLiteral("offline"), true, 1);
}

void LoggerService::publishDiscovery(Unit &u, bool force) {
    if (!m_mqtt || u.report.home.isEmpty())
        return;
    int sharing = 0;
    for (const auto &entry : m_units)
        sharing += !u.report.serialNumber.isEmpty() &&
                   entry.second->report.serialNumber == u.report.serialNumber;
    u.report.serialIsUnique = sharing <= 1;
    // Published again when what it is made from changes (the serial number read later, a new
    // software version).
    const QByteArray key = (u.report.serialNumber + QLatin1Char('|') +
                            QString::number(u.report.serialIsUnique) + QLatin1Char('|') +
                            u.report.softwareVersion +
                            QLatin1Char('|') + u.report.hardwareVersion + QLatin1Char('|') +
                            u.report.projectName)
                               .toUtf8();
    if (!force && key == u.discoveryKey)
        return;
    u.discoveryKey = key;
    QStringList topics;
    for (const MqttMessage &m :
         discoveryMessages(u.report, m_line, m_config.mqttBase, m_config.haPrefix)) {
        m_mqtt->publish(m.topic, m.payload, m.retain, 1);
        topics << m.topic;
    }
    // Entities of an earlier identity are removed (an empty retained message), so the device
    // does not appear twice.
    for (const QString &old : u.discoveryTopics)
        if (!topics.contains(old))
            m_mqtt->publish(old, QByteArray(), true, 1);
    u.discoveryTopics = topics;
}

void LoggerService::onMqttConnected() {
    logLine(LogLevel::Info, QStringLiteral("MQTT: connected to %1:%2")
                                .arg(m_config.mqtt.host)
                                .arg(m_config.mqtt.port));
    m_mqtt->publish(m_config.mqttBase + QStringLiteral("/status"), QByteArrayLiteral("online"), true, 1);
    // A broker that restarted without persistence has lost the retained messages: all of them
    // again, and the latest state of each controller.
    for (auto &entry : m_units) {
        Unit &u = *entry.second;
        if (u.online != -1)
            publishAvailability(u, u.online == 1, true);
        if (!u.report.home.isEmpty()) {
            publishDiscovery(u, true);
            m_mqtt->publish(QStringLiteral("%1/%2/state").arg(m_config.mqttBase).arg(u.address),
                            statePayload(u.report));
        }
    }
}

void LoggerService::onMqttMessage(const QString &topic, const QByteArray &payload) {
    // Home Assistant started again: it forgets what it was told, so discovery goes out again.
    if (topic == m_config.haPrefix + QStringLiteral("/status") && payload.trimmed() == "online") {
        logLine(LogLevel::Info, QStringLiteral("MQTT: Home Assistant is online; discovery sent again"));
        for (auto &entry : m_units)
            publishDiscovery(*entry.second, true);
    }
}
