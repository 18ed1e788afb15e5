#pragma once
// Every field the pages show, as data: for each register block the cells that start a field
// and the rule that formats it; the column rules of the rack and pack tables; the alarm bit map
// of the Fault page. The page refresh applies them with one loop.

#include "fieldformat.h"

#include <array>
#include <cstdint>

struct FieldGroup {
    int block;                // widgets are named R_Addr<block>Num<cell>_text
    const FieldRange *ranges; // ascending by cell
    int count;
};

extern const EnumTable systemStateTable; // cell 2:4, 0:0 and the rack System State column
extern const EnumTable chargeStateTable; // cell 2:5
extern const EnumTable relayStateTable;  // rack Relay State: 0 "Disconnect", any other "Connect"

extern const FieldGroup homeFields;        // block 2
extern const FieldGroup dataSummaryFields; // block 0, cells 0..23
// Column c of the rack table shows word c of the rack part; the same holds for the pack table.
extern const FieldGroup rackColumns;
extern const FieldGroup packColumns;

// The Settings read-back groups in refresh order: blocks 3, 4, 5, 86, 89, 90, 88, 91.
constexpr int kSettingsGroupCount = 8;
extern const FieldGroup settingsGroups[kSettingsGroupCount];

// Alarm bit b of fault word k is the cell (2k, b) for b < 8 and (2k + 1, b - 8) otherwise.
struct FaultBit {
    uint8_t word;
    uint8_t row;
    uint8_t column;
    uint16_t mask;
};
constexpr int kFaultBits = 64;

constexpr std::array<FaultBit, kFaultBits> makeFaultBitMap() {
    std::array<FaultBit, kFaultBits> map{};
    for (int word = 0; word < 4; ++word) {
        for (int bit = 0; bit < 16; ++bit) {
            map[word * 16 + bit] =
                FaultBit{static_cast<uint8_t>(word), static_cast<uint8_t>(2 * word + bit / 8),
                         static_cast<uint8_t>(bit % 8), static_cast<uint16_t>(1u << bit)};
        }
    }
    return map;
}
// Grouped by word 0..3, within a word by mask 0x0001 .. 0x8000.
constexpr std::array<FaultBit, kFaultBits> faultBitMap = makeFaultBitMap();

// The format of column c of the rack or pack table (word c of the part), nullptr past it.
const FieldFormat *tableColumnFormat(const FieldGroup &columns, int column);

// The read-field object name of a block's cell: R_Addr<block>Num<cell>_text.
QString readFieldName(int block, int cell);
