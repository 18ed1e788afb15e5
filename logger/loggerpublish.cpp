#include "loggerpublish.h"

#include "fieldmap.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

namespace {

QString isoTime(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toOffsetFromUtc(
                                                 QDateTime::currentDateTime().offsetFromUtc())
        .toString(Qt::ISODateWithMs);
}

// The Home page's parameter read-backs: configuration, not measurements, so no sensors.
const QSet<QString> &configurationKeys() {
    static const QSet<QString> keys = [] {
        QSet<QString> k;
        for (int n = 1; n < 256; ++n)
            if (const FieldDef *f = paramReadField(n))
                k.insert(QLatin1String(f->name));
        return k;
    }();
    return keys;
}

struct SensorClass {
    const char *deviceClass; // null: none
    const char *stateClass;
    QString unit;
};

// The sensor a live value makes, by its unit (a composed field's "V/pack-cell" is a voltage).
bool sensorClass(const NamedValue &v, SensorClass *out) {
    const QString unit = v.unit.section(QLatin1Char('/'), 0, 0);
    if (v.caption == QLatin1String("SOC"))
        *out = {"battery", "measurement", QStringLiteral("%")};
    else if (unit == QLatin1String("V") || unit == QLatin1String("mV"))
        *out = {"voltage", "measurement", unit};
    else if (unit == QLatin1String("A"))
        *out = {"current", "measurement", unit};
    else if (unit == QLatin1String("kW"))
        *out = {"power", "measurement", unit};
    else if (unit == QStringLiteral("°C"))
        *out = {"temperature", "measurement", unit};
    else if (unit == QLatin1String("kWh"))
        *out = {"energy", "total_increasing", unit};
    else if (unit == QLatin1String("h"))
        *out = {"duration", "total_increasing", unit};
    else if (unit == QLatin1String("%"))
        *out = {nullptr, "measurement", unit};
    else if (v.caption.contains(QLatin1String("Count")))
        *out = {nullptr, "measurement", QString()};
    else
        return false;
    return true;
}

QString alarmLevelCaption(int level) {
    // The alarm grid's first row of the level (rows 0, 2, 4).
    return faultLevelText(2 * (level - 1));
}

} // namespace

QString valueSlug(const QString &caption) {
    QString out;
    for (const QChar c : caption.toLower()) {
        if ((c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c.isDigit())
            out += c;
        else if (!out.isEmpty() && !out.endsWith(QLatin1Char('_')))
            out += QLatin1Char('_');
    }
    while (out.endsWith(QLatin1Char('_')))
        out.chop(1);
    return out;
}

QByteArray statePayload(const ControllerReport &report) {
    QJsonObject o;
    o.insert(QStringLiteral("time"), isoTime(report.atMs));
    o.insert(QStringLiteral("address"), report.address);
    for (const NamedValue &v : report.home) {
        const QString key = valueSlug(v.caption);
        if (v.hasNumber())
            o.insert(key, v.number);
        else
            o.insert(key, QString(v.text).replace(QChar::Nbsp, QLatin1Char(' ')));
    }
    o.insert(QStringLiteral("alarms"), QJsonArray::fromStringList(activeAlarms(report.alarms)));
    const int level = highestAlarmLevel(report.alarms);
    o.insert(QStringLiteral("alarm_level"), level);
    for (int k = 1; k <= 3; ++k) {
        bool on = false;
        for (int w = 0; w < kAlarmWords; ++w)
            on = on || (alarmLevel(w) == k && report.alarms.read && report.alarms.word[w] != 0);
        o.insert(QStringLiteral("alarm_level_%1").arg(k), on);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray eventPayload(const AlarmEvent &e) {
    QJsonObject o{{"time", isoTime(e.atMs)},
                  {"address", e.address},
                  {"event", e.raised ? "raised" : "cleared"},
                  {"level", e.level},
                  {"level_text", e.levelText},
                  {"alarm", e.alarm}};
    if (!e.where.isEmpty())
        o.insert(QStringLiteral("where"), e.where);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString nodeId(const ControllerReport &report, const QString &line) {
    const QString serial = valueSlug(report.serialNumber);
    if (!serial.isEmpty() && report.serialIsUnique)
        return QStringLiteral("vaduz_%1").arg(serial);
    return QStringLiteral("vaduz_%1_%2").arg(valueSlug(line)).arg(report.address);
}

QVector<MqttMessage> discoveryMessages(const ControllerReport &report, const QString &line,
                                       const QString &base, const QString &haPrefix) {
    const QString node = nodeId(report, line);
    const QString unitTopic = QStringLiteral("%1/%2").arg(base).arg(report.address);
    QJsonObject device{{"identifiers", QJsonArray{node}},
                       {"name", report.projectName.isEmpty()
                                    ? QStringLiteral("Battery stack %1").arg(report.address)
                                    : QStringLiteral("%1 (address %2)")
                                          .arg(report.projectName)
                                          .arg(report.address)},
                       {"model", report.hardwareVersion.isEmpty()
                                     ? QStringLiteral("Battery management controller")
                                     : report.hardwareVersion}};
    if (!report.softwareVersion.isEmpty())
        device.insert(QStringLiteral("sw_version"), report.softwareVersion);
    if (!report.serialNumber.isEmpty())
        device.insert(QStringLiteral("serial_number"), report.serialNumber);
    const QJsonArray availability{QJsonObject{{"topic", base + QStringLiteral("/status")}},
                                  QJsonObject{{"topic", unitTopic + QStringLiteral("/availability")}}};
    auto common = [&](const QString &object, const QString &name) {
        return QJsonObject{{"name", name},
                           {"unique_id", node + QLatin1Char('_') + object},
                           {"state_topic", unitTopic + QStringLiteral("/state")},
                           {"availability", availability},
                           {"availability_mode", "all"},
                           {"device", device}};
    };
    QVector<MqttMessage> out;
    for (const NamedValue &v : report.home) {
        SensorClass c;
        if (!v.hasNumber() || configurationKeys().contains(v.key) || !sensorClass(v, &c))
            continue;
        const QString slug = valueSlug(v.caption);
        QJsonObject o = common(slug, v.caption);
        o.insert(QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(slug));
        if (c.deviceClass)
            o.insert(QStringLiteral("device_class"), QLatin1String(c.deviceClass));
        o.insert(QStringLiteral("state_class"), QLatin1String(c.stateClass));
        if (!c.unit.isEmpty())
            o.insert(QStringLiteral("unit_of_measurement"), c.unit);
        out.append({QStringLiteral("%1/sensor/%2/%3/config").arg(haPrefix, node, slug),
                    QJsonDocument(o).toJson(QJsonDocument::Compact), true});
    }
    for (int level = 1; level <= 3; ++level) {
        const QString object = QStringLiteral("alarm_level_%1").arg(level);
        QJsonObject o = common(object, alarmLevelCaption(level));
        o.insert(QStringLiteral("device_class"), QStringLiteral("problem"));
        o.insert(QStringLiteral("value_template"),
                 QStringLiteral("{{ 'ON' if value_json.%1 else 'OFF' }}").arg(object));
        out.append({QStringLiteral("%1/binary_sensor/%2/%3/config").arg(haPrefix, node, object),
                    QJsonDocument(o).toJson(QJsonDocument::Compact), true});
    }
    return out;
}
