#include "fieldtables.h"

namespace {

// ---- enumerations ---------------------------------------------------------------------------

constexpr EnumText systemStates[] = {{0, "Wait"},         {1, "Fault"},
                                     {2, "ForbidCharge"}, {3, "ForbidDischarge"},
                                     {4, "Charging"},     {5, "Discharging"}};
constexpr EnumText chargeStates[] = {
    {0, "Wait"}, {1, "Charging"}, {2, "Discharging"}, {3, "Fault"}};
constexpr EnumText connectStates[] = {{0, "Disconnect"}, {1, "Connect"}};
constexpr EnumText relayStates[] = {{0, "Disconnect"}};
constexpr EnumText communication[] = {{0, "Not Communication"}, {1, "Communication"}};

constexpr EnumText netStates[] = {{0, "4G Connect"}, {1, "Wifi Connect"}, {2, "Disconnect"}};
constexpr EnumText normalWarning[] = {{0xAA, "Normal"}, {0x55, "Warning"}};
constexpr EnumText warningLevels[] = {
    {0, "Normal"}, {1, "Level 1 Warning"}, {2, "Level 2 Warning"}, {3, "Level 3 Warning"}};
constexpr EnumText fireStates[] = {
    {0, "Normal"}, {1, "Started"}, {2, "Sensor Fault"}, {3, "Hardware Fault"}};
constexpr EnumText configStates[] = {{0, "Normal"}, {1, "Abnormal"}, {2, "No Such Config"}};
constexpr EnumText normalAbnormal[] = {{0, "Normal"}, {1, "Abnormal"}};
constexpr EnumText normalFault[] = {{0, "Normal"}, {1, "Fault"}};
constexpr EnumText startStop[] = {{0, "Start"}, {1, "Stop"}};
constexpr EnumText manualAutomatic[] = {{0, "Manual"}, {1, "Automatic"}};

// Block 88: " Automatic", " Cooling" and " Heating" carry a leading blank; "Automatic" as work
// mode 4 does not.
constexpr EnumText controlModes[] = {{0, "Manual"}, {1, " Automatic"}};
constexpr EnumText workModes[] = {
    {0, "Standby"}, {1, " Cooling"}, {2, " Heating"}, {3, "Self-Circulation"}, {4, "Automatic"}};
constexpr EnumText tempPoints[] = {{0, "Supply Water"}, {1, "Return Water"}};
constexpr EnumText baudRates[] = {{0, "9600"}, {1, "4800"}, {2, "19200"}};
constexpr EnumText unitModes[] = {
    {0, "Standby"}, {1, "Cooling"}, {2, "Heating"}, {3, "Self-Circulation"}};
constexpr EnumText compressorStates[] = {
    {0, "Standby"}, {1, "Start"}, {2, "Work"}, {3, "Stop"}, {4, "Fault"}};

constexpr EnumTable connectStateTable = enumTable(connectStates);
constexpr EnumTable communicationTable = enumTable(communication);
constexpr EnumTable netStateTable = enumTable(netStates, Fallback::Text, "N/A");
constexpr EnumTable normalWarningTable = enumTable(normalWarning, Fallback::Hex);
constexpr EnumTable warningLevelTable = enumTable(warningLevels, Fallback::Decimal);
constexpr EnumTable fireStateTable = enumTable(fireStates, Fallback::Decimal);
constexpr EnumTable configStateTable = enumTable(configStates, Fallback::Decimal);
constexpr EnumTable normalAbnormalTable = enumTable(normalAbnormal, Fallback::Decimal);
constexpr EnumTable normalFaultTable = enumTable(normalFault, Fallback::Decimal);
constexpr EnumTable startStopTable = enumTable(startStop, Fallback::Decimal);
constexpr EnumTable manualAutomaticTable = enumTable(manualAutomatic, Fallback::Decimal);
constexpr EnumTable controlModeTable = enumTable(controlModes);
constexpr EnumTable workModeTable = enumTable(workModes);
constexpr EnumTable tempPointTable = enumTable(tempPoints, Fallback::Decimal);
constexpr EnumTable baudRateTable = enumTable(baudRates);
constexpr EnumTable unitModeTable = enumTable(unitModes, Fallback::Decimal);
constexpr EnumTable compressorStateTable = enumTable(compressorStates, Fallback::Decimal);

// ---- Home: block 2 --------------------------------------------------------------------------

constexpr ComposedArg cellVoltage30[] = {{32, true, 3, 0}, {30, true, 0, 0}, {31, true, 0, 0}};
constexpr ComposedArg cellVoltage33[] = {{35, true, 3, 0}, {33, true, 0, 0}, {34, true, 0, 0}};
constexpr ComposedArg temp36[] = {{37, true, 0, 0}, {36, true, 0, 0}};
constexpr ComposedArg temp38[] = {{39, true, 0, 0}, {38, true, 0, 0}};
constexpr ComposedArg dateTime93[] = {{93, false, 0, 2000}, {94, false, 0, 0}, {95, false, 0, 0},
                                      {96, false, 0, 0},    {97, false, 0, 0}, {98, false, 0, 0}};

const FieldRange home[] = {
    {0, 0, signedInt(), "R_Addr2Num0_backup_text"},
    {1, 3, signedInt()},
    {4, 4, enumeration(systemStateTable)},
    {5, 5, enumeration(chargeStateTable)},
    {6, 9, signedScaled(1)},
    {10, 12, signedInt()},
    {13, 13, enumeration(connectStateTable)},
    {14, 14, signedInt()},
    {15, 17, unsignedInt()},
    {18, 29, signedInt()},
    {30, 30, composed("%.3f/%d-%d", cellVoltage30)},
    {33, 33, composed("%.3f/%d-%d", cellVoltage33)},
    {36, 36, composed("%d/%d", temp36)},
    {38, 38, composed("%d/%d", temp38)},
    {40, 40, signedInt()},
    {41, 41, total32(1)},
    {43, 43, total32(1)},
    {45, 45, total32(1)},
    {47, 47, total32(1)},
    {49, 49, total32()},
    {51, 54, signedInt()},
    {55, 56, unsignedInt()},
    {57, 62, signedInt()},
    {63, 63, stringField()},
    {73, 73, stringField()},
    {83, 83, stringField()},
    {93, 93, composed("%d-%d-%d %d:%d:%d", dateTime93)},
    {99, 99, signedInt()},
};

// ---- Data: block 0 summary, rack parts ------------------------------------------------------

constexpr ComposedArg cellVoltage10[] = {
    {13, false, 3, 0}, {10, false, 0, 0}, {11, false, 0, 0}, {12, false, 0, 0}};
constexpr ComposedArg cellVoltage14[] = {
    {17, false, 3, 0}, {14, false, 0, 0}, {15, false, 0, 0}, {16, false, 0, 0}};
constexpr ComposedArg temp18[] = {{20, true, 0, 0}, {18, false, 0, 0}, {19, false, 0, 0}};
constexpr ComposedArg temp21[] = {{23, true, 0, 0}, {21, false, 0, 0}, {22, false, 0, 0}};

const FieldRange dataSummary[] = {
    {0, 0, enumeration(systemStateTable)},
    {1, 1, enumeration(connectStateTable)},
    {2, 2, unsignedInt()},
    {3, 3, unsignedScaled(1)},
    {4, 4, signedScaled(1)},
    {5, 6, unsignedInt()},
    {7, 8, unsignedScaled(1)},
    {9, 9, enumeration(communicationTable)},
    {10, 10, composed("%.3f/%d-%d-%d", cellVoltage10)},
    {14, 14, composed("%.3f/%d-%d-%d", cellVoltage14)},
    {18, 18, composed("%d/%d-%d", temp18)},
    {21, 21, composed("%d/%d-%d", temp21)},
};

const FieldRange rack[] = {
    {0, 0, unsignedInt()},                 // SOC
    {1, 1, unsignedScaled(1)},             // Total Voltage
    {2, 2, signedScaled(1)},               // Total Current
    {3, 4, unsignedScaled(3)},             // Max Voltage, Min Voltage
    {5, 6, signedInt()},                   // Max Temp, Min Temp
    {7, 7, enumeration(systemStateTable)}, // System State
    {8, 8, enumeration(relayStateTable)},  // Relay State
};

const FieldRange pack[] = {
    {0, 0, signedScaled(1)},  // Total Voltage
    {1, 2, signedScaled(3)},  // Max Voltage, Min Voltage
    {3, 8, signedInt()},      // voltage and temperature numbers, Max Temp, Min Temp
    {9, 60, signedScaled(3)}, // Cell 1(V) .. Cell 52(V)
    {61, 82, signedInt()},    // Temp 1 .. Temp 22
    {83, 86, signedInt()},    // ValveTemp.1 .. ValveTemp.4
    {87, 90, hexadecimal()},  // BalanceState1 .. BalanceState4
    {91, 91, hexadecimal()},  // BMU Fault
};

// ---- Settings read-back ---------------------------------------------------------------------

const FieldRange groupA[] = {
    {0, 14, unsignedScaled(3)},
    {15, 15, signedInt()},
};

const FieldRange groupB[] = {
    {0, 0, unsignedInt()},     {1, 1, unsignedScaled(1)}, {2, 2, signedScaled(1)},
    {3, 6, unsignedScaled(1)}, {7, 7, signedScaled(1)},   {8, 8, unsignedScaled(1)},
    {9, 11, signedScaled(1)},  {12, 12, signedInt()},     {13, 13, unsignedScaled(2)},
    {14, 18, signedScaled(1)},
};

const FieldRange groupC[] = {
    {0, 14, signedInt()},
};

const FieldRange deviceInfo[] = {
    {0, 0, enumeration(netStateTable)},
    {1, 1, stringField()},
    {12, 12, unsignedInt()},
    {13, 13, stringField()},
    {15, 15, stringField()},
    {27, 27, stringField()},
    {37, 37, stringField()},
    {40, 40, stringField()},
};

const FieldRange alarmConfig[] = {
    {0, 1, lowByteSigned()},
    {2, 2, unsignedInt()},
    {3, 4, enumeration(normalWarningTable)},
    {5, 5, enumeration(warningLevelTable)},
    {6, 6, enumeration(fireStateTable)},
    {7, 11, enumeration(configStateTable)},
    {12, 13, enumeration(normalAbnormalTable)},
};

const FieldRange cooling[] = {
    {0, 0, signedScaled(1)},
    {1, 1, unsignedScaled(1)},
    {2, 3, enumeration(normalFaultTable)},
    {4, 4, enumeration(startStopTable)},
    {5, 6, enumeration(normalFaultTable)},
    {7, 8, unsignedScaled(1)},
    {9, 9, enumeration(manualAutomaticTable)},
};

const FieldRange thermal[] = {
    {0, 0, enumeration(controlModeTable)},
    {1, 1, enumeration(workModeTable)},
    {2, 2, enumeration(tempPointTable)},
    {3, 6, signedInt()},
    {9, 10, signedInt()},
    {11, 12, unsignedScaled(1)},
    {15, 15, unsignedInt()},
    {16, 16, enumeration(baudRateTable)},
    {17, 17, byteStates(unitModeTable, compressorStateTable)},
    {20, 22, signedScaled(1)},
    {24, 24, signedScaled(1)},
    {26, 29, unsignedInt()},
    {30, 31, unsignedScaled(1)},
    {33, 37, hexadecimal()},
    {38, 40, unsignedInt()},
    {41, 41, unsignedScaled(1)},
};

const FieldRange misc[] = {
    {0, 2, unsignedInt()},
};

template <int N> constexpr FieldGroup group(int block, const FieldRange (&ranges)[N]) {
    return {block, ranges, N};
}

} // namespace

const EnumTable systemStateTable = enumTable(systemStates);
const EnumTable chargeStateTable = enumTable(chargeStates);
const EnumTable relayStateTable = enumTable(relayStates, Fallback::Text, "Connect");

const FieldGroup homeFields = group(2, home);
const FieldGroup dataSummaryFields = group(0, dataSummary);
const FieldGroup rackColumns = group(0, rack);
const FieldGroup packColumns = group(kFirstPackBlock, pack);

const FieldGroup settingsGroups[kSettingsGroupCount] = {
    group(3, groupA),       group(4, groupB),   group(5, groupC),   group(86, deviceInfo),
    group(89, alarmConfig), group(90, cooling), group(88, thermal), group(91, misc),
};

QString readFieldName(int block, int cell) {
    return QStringLiteral("R_Addr%1Num%2_text").arg(block).arg(cell);
}

const FieldFormat *tableColumnFormat(const FieldGroup &columns, int column) {
    for (int i = 0; i < columns.count; ++i)
        if (column >= columns.ranges[i].first && column <= columns.ranges[i].last)
            return &columns.ranges[i].format;
    return nullptr;
}
