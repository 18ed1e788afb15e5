#pragma once
// What the logger publishes, as pure functions of what it read: the state of a controller after
// a round, an alarm event, and the Home Assistant discovery messages of a controller (one
// device per controller, a sensor per live value with its class and unit, a problem sensor per
// alarm level). Topics:
//   <base>/status                  the logger itself: "online", "offline" (retained, last will)
//   <base>/<addr>/availability     "online" / "offline" (retained)
//   <base>/<addr>/state            JSON after every round
//   <base>/<addr>/event            JSON per alarm raised or cleared
//   <ha>/sensor/<node>/<value>/config, <ha>/binary_sensor/<node>/alarm_level_<n>/config

#include "alarmevents.h"
#include "namedvalues.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>

struct ControllerReport {
    int address = 0;
    int64_t atMs = 0; // when its Home record was read (ms since the epoch)
    NamedGroup home;  // its Home page's values
    AlarmWords alarms;
    QString serialNumber; // empty when not read
    QString softwareVersion;
    QString hardwareVersion;
    QString projectName;
    // False when another controller on the line reports the same serial number (a cloned
    // configuration): the device is then named by line and address, so that two never merge.
    bool serialIsUnique = true;
};

struct MqttMessage {
    QString topic;
    QByteArray payload;
    bool retain = false;
};

// "Total Voltage" -> "total_voltage": the JSON key of a value in the state.
QString valueSlug(const QString &caption);
// The controller's state: time, every Home value (a number where it has one, else its text),
// the active alarms' names, the highest level and a flag per level.
QByteArray statePayload(const ControllerReport &report);
QByteArray eventPayload(const AlarmEvent &event);
// The device's identifier: from its serial number when read, else from the line and address.
QString nodeId(const ControllerReport &report, const QString &line);
// Retained discovery messages for one controller.
QVector<MqttMessage> discoveryMessages(const ControllerReport &report, const QString &line,
                                       const QString &base, const QString &haPrefix);
