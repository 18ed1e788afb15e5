#include "alarmevents.h"

#include "fieldmap.h"

#include <QDateTime>

namespace {

// Bit b of word k sits in the grid's row 2k (bits 0..7) or 2k + 1 (bits 8..15).
int gridRow(int word, int bit) { return 2 * word + bit / 8; }

QString alarmName(int word, int bit) {
    const QString name = faultAlarmText(gridRow(word, bit), bit % 8);
    // Reserved bits share one name: their place tells them apart.
    if (name == QLatin1String("Reserved"))
        return QStringLiteral("Reserved (%1:%2 bit %3)").arg(kAlarmBlock).arg(word).arg(bit);
    return name;
}

// The Home page's extremes that go with an alarm on cell voltages or temperatures.
QString whereFor(const QString &alarm, const NamedGroup &home) {
    const char *const *keys = nullptr;
    static const char *const cellKeys[] = {"R_Addr2Num30_text", "R_Addr2Num33_text", nullptr};
    static const char *const tempKeys[] = {"R_Addr2Num36_text", "R_Addr2Num38_text", nullptr};
    if (alarm.startsWith(QLatin1String("CellVolt")))
        keys = cellKeys;
    else if (alarm.contains(QLatin1String("TEMP")))
        keys = tempKeys;
    if (!keys)
        return QString();
    QStringList parts;
    for (int i = 0; keys[i]; ++i)
        for (const NamedValue &v : home)
            if (v.key == QLatin1String(keys[i]))
                parts << v.caption + QLatin1Char(' ') + v.text;
    return parts.join(QStringLiteral(", "));
}

bool bitSet(const AlarmWords &words, int word, int bit) {
    return words.read && (words.word[word] >> bit & 1u);
}

} // namespace

int alarmLevel(int word) { return word <= 0 ? 1 : word == 1 ? 2 : 3; }

int highestAlarmLevel(const AlarmWords &words) {
    int level = 0;
    for (int k = 0; k < kAlarmWords; ++k)
        if (words.read && words.word[k] != 0)
            level = std::max(level, alarmLevel(k));
    return level;
}

QStringList activeAlarms(const AlarmWords &words) {
    QStringList names;
    for (int k = 0; k < kAlarmWords; ++k)
        for (int b = 0; b < 16; ++b)
            if (bitSet(words, k, b))
                names << alarmName(k, b);
    return names;
}

QVector<AlarmEvent> alarmEvents(int address, const AlarmWords &before, const AlarmWords &after,
                                int64_t atMs, const NamedGroup &home) {
    QVector<AlarmEvent> events;
    if (!after.read)
        return events; // nothing new was read: nothing is known to have changed
    for (int k = 0; k < kAlarmWords; ++k) {
        for (int b = 0; b < 16; ++b) {
            const bool was = bitSet(before, k, b);
            const bool is = bitSet(after, k, b);
            if (was == is)
                continue;
            AlarmEvent e;
            e.atMs = atMs;
            e.address = address;
            e.raised = is;
            e.level = alarmLevel(k);
            e.levelText = faultLevelText(gridRow(k, b));
            e.alarm = alarmName(k, b);
            e.where = whereFor(e.alarm, home);
            events << e;
        }
    }
    return events;
}

QStringList alarmEventHeading() {
    return {QStringLiteral("Time"),  QStringLiteral("Address"),    QStringLiteral("Event"),
            QStringLiteral("Level"), QStringLiteral("Level text"), QStringLiteral("Alarm"),
            QStringLiteral("Where")};
}

QStringList alarmEventRow(const AlarmEvent &e) {
    return {QDateTime::fromMSecsSinceEpoch(e.atMs).toString(Qt::ISODateWithMs),
            QString::number(e.address),
            e.raised ? QStringLiteral("raised") : QStringLiteral("cleared"),
            QString::number(e.level),
            e.levelText,
            e.alarm,
            e.where};
}
