#pragma once
// Named values: what a page shows, taken from a display snapshot alone, as rows of key, caption,
// unit, text, number and liveness. The page refresh paints them, the recorder writes them, the
// trends plot their numbers; a process without widgets gets the very same rows. QtCore only.

#include "displaysnapshot.h"

#include <QString>
#include <QVector>

#include <cmath>
#include <limits>

struct NamedValue {
    // Unique within a group. A field: its object name ("R_Addr2Num1_text"). A table cell: its
    // mirror cell ("R_Addr7Num9"). An alarm bit: its word and bit ("R_Addr6Num0_bit3"). The
    // number of a table row: "Rack" or "Pack".
    QString key;
    // Unique on its page (qualified by section or table where two would read the same), without
    // the unit: "SOC", "Stack summary: System State", "Level2 Fault（H）: TEMP_High".
    QString caption;
    QString unit;                                             // "%", "°C"; empty for none
    QString text;                                             // as the page shows it
    double number = std::numeric_limits<double>::quiet_NaN(); // NaN where the field has none
    bool live = false; // false: the page draws the value dimmed

    bool hasNumber() const { return !std::isnan(number); }
    // The caption with its unit, as a recording heads the column: "Total Voltage (V)".
    QString header() const;
};

using NamedGroup = QVector<NamedValue>;

constexpr int kNamedPages = 5;

// The values of page tab (0 Home, 1 Data, 2 Settings, 3 Fault, 4 Pack) in snapshot.
//   Home, Settings: one group, the page's fields in form order.
//   Fault: one group, the alarm grid row by row ("1" while the alarm is raised, else "0").
//   Data, Pack: a group per rack or pack (1..15): its number, the table's columns in order,
//   then (Data) the page's summary fields.
// Every group of a page has the same keys and captions in the same order. No group for any
// other tab. Captions never read "Time", the column a recording puts first.
QVector<NamedGroup> namedValues(const DisplaySnapshot &snapshot, int tab);

// The position of the first table column in a Data or Pack group (after the row's number).
constexpr int kFirstTableColumn = 1;
