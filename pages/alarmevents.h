#pragma once
// Alarms as events: what changed between two readings of one controller's alarm words (block 6,
// cells 0..3, the Fault page's grid). Each bit that came on is "raised", each that went off is
// "cleared", with the alarm's level and name as the Fault page labels them. Pure: the Bus window,
// the recording and a headless logger all call it with what they read.

#include "namedvalues.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

constexpr int kAlarmWords = 4;
constexpr int kAlarmBlock = 6;

// One reading of a controller's alarm words.
struct AlarmWords {
    bool read = false; // false: nothing read yet (every bit then counts as off)
    uint16_t word[kAlarmWords] = {};
};

struct AlarmEvent {
    int64_t atMs = 0; // when the second reading was taken (ms since the epoch)
    int address = 0;
    bool raised = true; // false: cleared
    int level = 0;      // 1 warning, 2 fault, 3 protection
    QString levelText;  // the grid's row: "Level2 Fault（H）"
    QString alarm;      // the grid's cell: "CellVolt_High"; a reserved bit names its place
    // For cell-voltage and temperature alarms: the Home record's extremes then, as the Home page
    // shows them ("Max Cell 3.651/2-7, Min Cell 3.102/1-3"); empty otherwise.
    QString where;
};

// The level of alarm word k (0..3): 1, 2, 3, 3.
int alarmLevel(int word);
// The highest level among the bits set (0 for none), and the names of the set bits in grid order.
int highestAlarmLevel(const AlarmWords &words);
QStringList activeAlarms(const AlarmWords &words);

// The events from before to after, bits in grid order. home: the controller's Home page values
// at the time of after (namedValues(snapshot, 0).first()); may be empty.
QVector<AlarmEvent> alarmEvents(int address, const AlarmWords &before, const AlarmWords &after,
                                int64_t atMs, const NamedGroup &home = NamedGroup());

// An event as a row of the events file ("Time", "Address", "Event", "Level", "Level text",
// "Alarm", "Where"), and that heading.
QStringList alarmEventHeading();
QStringList alarmEventRow(const AlarmEvent &event);
