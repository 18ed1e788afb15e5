#include "captions.h"

namespace {

// Keyed by the field the caption stands beside: a display field, or the read field of a
// parameter row (the row's edit field and "Set" face follow to the right). An empty text
// with a unit prints the unit to the right of the field instead (its caption is a label).
// clang-format off
const Caption kCaptions[] = {
    // ---- Home: stack status (block 2) -------------------------------------------------------
    {"R_Addr2Num0_text", "Host ID", ""},
    {"R_Addr2Num1_text", "SOC", "%"},
    {"R_Addr2Num2_text", "SOH", "%"},
    {"R_Addr2Num3_text", "Rack Count", ""},
    {"R_Addr2Num4_text", "System State", ""},
    {"R_Addr2Num5_text", "Charge State", ""},
    {"R_Addr2Num6_text", "Total Voltage", "V"},
    {"R_Addr2Num7_text", "Total Current", "A"},
    {"R_Addr2Num8_text", "Charge Current Limit", "A"},
    {"R_Addr2Num9_text", "Discharge Current Limit", "A"},
    {"R_Addr2Num10_text", "Racks Online", ""},
    {"R_Addr2Num11_text", "Packs Online", ""},
    {"R_Addr2Num12_text", "Stack Power", "kW"},
    {"R_Addr2Num13_text", "Main Relay", ""},
    {"R_Addr2Num14_text", "Cycle Count", ""},
    {"R_Addr2Num15_text", "Fault Code", ""},
    // Home: configuration (read-back beside parameters 1..23)
    {"R_Addr2Num16_text", "Packs per Rack", ""},
    // The number of devices (addresses 1..N) "One-click setup muti batt" writes to.
    {"R_Addr2Num17_text", "Device Count", ""},
    {"R_Addr2Num18_text", "Rated Capacity", "Ah"},
    {"R_Addr2Num19_text", "SOC Upper Limit", "%"},
    {"R_Addr2Num20_text", "Charge Temp Limit", "\u00B0C"},
    {"R_Addr2Num21_text", "SOC Lower Limit", "%"},
    {"R_Addr2Num22_text", "Balancing Diff", "mV"},
    {"R_Addr2Num23_text", "CAN Protocol", ""},
    {"R_Addr2Num24_text", "RS485 Protocol", ""},
    {"R_Addr2Num25_text", "Heartbeat Timeout", "s"},
    {"R_Addr2Num26_text", "Fan Start Temp", "\u00B0C"},
    {"R_Addr2Num27_text", "Fan Hysteresis", "\u00B0C"},
    {"R_Addr2Num28_text", "Discharge Temp Limit", "\u00B0C"},
    {"R_Addr2Num29_text", "Dry Contact Mode", ""},
    // Home: cells, temperatures and energy
    {"R_Addr2Num30_text", "Max Cell", "V/pack-cell"},
    {"R_Addr2Num33_text", "Min Cell", "V/pack-cell"},
    {"R_Addr2Num36_text", "Max Temp", "\u00B0C/pack"},
    {"R_Addr2Num38_text", "Min Temp", "\u00B0C/pack"},
    {"R_Addr2Num99_text", "", "\u00B0C"},
    {"R_Addr2Num40_text", "Ambient Temp", "\u00B0C"},
    {"R_Addr2Num41_text", "Total Charge Energy", "kWh"},
    {"R_Addr2Num43_text", "Total Discharge Energy", "kWh"},
    {"R_Addr2Num45_text", "Daily Charge Energy", "kWh"},
    {"R_Addr2Num47_text", "Daily Discharge Energy", "kWh"},
    {"R_Addr2Num49_text", "Running Time", "h"},
    {"R_Addr2Num51_text", "Rack Parallel Mode", ""},
    // Home: counters and limits
    {"R_Addr2Num52_text", "Charge Power Limit", "kW"},
    {"R_Addr2Num53_text", "Discharge Power Limit", "kW"},
    {"R_Addr2Num54_text", "Active Alarms", ""},
    {"R_Addr2Num55_text", "Precharge Timeout", "ms"},
    {"R_Addr2Num56_text", "Relay Close Delay", "ms"},
    {"R_Addr2Num57_text", "Comm Loss Timeout", "s"},
    {"R_Addr2Num58_text", "Fault Reset Delay", "s"},
    {"R_Addr2Num59_text", "Standby Sleep", "min"},
    {"R_Addr2Num60_text", "Auto Restart", "0/1"},
    {"R_Addr2Num61_text", "Buzzer Enable", "0/1"},
    {"R_Addr2Num62_text", "Debug Mode", "0/1"},
    // Home: identity and clock
    {"R_Addr2Num83_text", "Software Version", ""},
    {"R_Addr2Num73_text", "Hardware Version", ""},
    {"R_Addr2Num63_text", "Project Name", ""},
    {"R_Addr2Num93_text", "Date and Time", "yyyy-MM-dd hh:mm:ss"},

    // ---- Data: stack summary (block 0) ------------------------------------------------------
    {"R_Addr0Num0_text", "System State", ""},
    {"R_Addr0Num1_text", "Main Relay", ""},
    {"R_Addr0Num2_text", "Rack Count", ""},
    {"R_Addr0Num3_text", "Total Voltage", "V"},
    {"R_Addr0Num4_text", "Total Current", "A"},
    {"R_Addr0Num5_text", "SOC", "%"},
    {"R_Addr0Num6_text", "SOH", "%"},
    {"R_Addr0Num7_text", "Charge Current Limit", "A"},
    {"R_Addr0Num8_text", "Discharge Current Limit", "A"},
    {"R_Addr0Num9_text", "Host Communication", ""},
    {"R_Addr0Num10_text", "Max Cell Voltage", "V/rack-pack-cell"},
    {"R_Addr0Num14_text", "Min Cell Voltage", "V/rack-pack-cell"},
    {"R_Addr0Num18_text", "Max Temperature", "\u00B0C/rack-pack"},
    {"R_Addr0Num21_text", "Min Temperature", "\u00B0C/rack-pack"},

    // ---- Settings 1: cell voltage thresholds (block 3) --------------------------------------
    {"R_Addr3Num0_text", "Cell OV Warning", "V"},
    {"R_Addr3Num1_text", "Cell OV Warning Release", "V"},
    {"R_Addr3Num2_text", "Cell OV Fault", "V"},
    {"R_Addr3Num3_text", "Cell OV Fault Release", "V"},
    {"R_Addr3Num4_text", "Cell OV Protection", "V"},
    {"R_Addr3Num5_text", "Cell OV Prot. Release", "V"},
    {"R_Addr3Num6_text", "Cell UV Warning", "V"},
    {"R_Addr3Num7_text", "Cell UV Warning Release", "V"},
    {"R_Addr3Num8_text", "Cell UV Fault", "V"},
    {"R_Addr3Num9_text", "Cell UV Fault Release", "V"},
    {"R_Addr3Num10_text", "Cell UV Protection", "V"},
    {"R_Addr3Num11_text", "Cell UV Prot. Release", "V"},
    {"R_Addr3Num12_text", "Cell Diff Warning", "V"},
    {"R_Addr3Num13_text", "Cell Diff Fault", "V"},
    {"R_Addr3Num14_text", "Cell Diff Protection", "V"},
    {"R_Addr3Num15_text", "Cell Diff Delay", "s"},
    // Settings 1: pack voltage, current and temperature (block 4)
    // Parameter 40 stores half the number typed: the value read back counts 2-second steps.
    {"R_Addr4Num0_text", "Limit Delay", "\u00D72 s"},
    {"R_Addr4Num1_text", "Total OV Warning", "V"},
    {"R_Addr4Num2_text", "Total UV Warning", "V"},
    {"R_Addr4Num3_text", "Total OV Fault", "V"},
    {"R_Addr4Num4_text", "Total UV Fault", "V"},
    {"R_Addr4Num5_text", "Total OV Protection", "V"},
    {"R_Addr4Num6_text", "Total UV Protection", "V"},
    {"R_Addr4Num7_text", "Charge OC Warning", "A"},
    {"R_Addr4Num8_text", "Discharge OC Warning", "A"},
    {"R_Addr4Num9_text", "Charge OC Protection", "A"},
    {"R_Addr4Num10_text", "Discharge OC Protection", "A"},
    {"R_Addr4Num11_text", "Charge Temp High", "\u00B0C"},
    {"R_Addr4Num12_text", "Heater Start Temp", "\u00B0C"},
    {"R_Addr4Num13_text", "Insulation Warning", "M\u03A9"},
    {"R_Addr4Num14_text", "Charge Temp Low", "\u00B0C"},
    {"R_Addr4Num15_text", "Discharge Temp High", "\u00B0C"},
    {"R_Addr4Num16_text", "Discharge Temp Low", "\u00B0C"},
    {"R_Addr4Num17_text", "Temp Diff Warning", "\u00B0C"},
    {"R_Addr4Num18_text", "Temp Diff Protection", "\u00B0C"},
    // Settings 1: delays and limits (block 5)
    {"R_Addr5Num0_text", "OV Warning Delay", "s"},
    {"R_Addr5Num1_text", "UV Warning Delay", "s"},
    {"R_Addr5Num2_text", "OC Warning Delay", "s"},
    {"R_Addr5Num3_text", "Temp Warning Delay", "s"},
    {"R_Addr5Num4_text", "Fault Delay", "s"},
    {"R_Addr5Num5_text", "Protection Delay", "s"},
    {"R_Addr5Num6_text", "SOC High Warning", "%"},
    {"R_Addr5Num7_text", "SOC Low Warning", "%"},
    {"R_Addr5Num8_text", "SOC Low Protection", "%"},
    {"R_Addr5Num9_text", "Sleep Delay", "min"},
    {"R_Addr5Num10_text", "Relay Close Retries", ""},
    {"R_Addr5Num11_text", "Precharge Retries", ""},
    {"R_Addr5Num12_text", "Max Parallel Racks", ""},
    {"R_Addr5Num13_text", "Rack Offline Delay", "s"},
    {"R_Addr5Num14_text", "Reconnect Volt Diff", "V"},
    // Settings 1: device and network (block 86)
    {"R_Addr86Num0_text", "Network", ""},
    {"R_Addr86Num13_text", "Protocol Ver.", ""},
    {"R_Addr86Num1_text", "IMEI", ""},
    {"R_Addr86Num12_text", "Server Port", ""},
    {"R_Addr86Num15_text", "Server Address", ""},
    {"R_Addr86Num27_text", "SN", ""},
    {"R_Addr86Num37_text", "Region Code", ""},
    {"R_Addr86Num40_text", "APN", ""},

    // ---- Settings 2: alarm inputs (block 89) ------------------------------------------------
    {"R_Addr89Num0_text", "Cabinet Temp", "\u00B0C"},
    {"R_Addr89Num1_text", "Cabinet Humidity", "%"},
    {"R_Addr89Num2_text", "Alarm Config Word", ""},
    {"R_Addr89Num3_text", "Smoke Detector", ""},
    {"R_Addr89Num4_text", "Heat Detector", ""},
    {"R_Addr89Num5_text", "Gas Detector", ""},
    {"R_Addr89Num6_text", "Fire Suppression", ""},
    {"R_Addr89Num7_text", "Door Switch", ""},
    {"R_Addr89Num8_text", "Water Immersion", ""},
    {"R_Addr89Num9_text", "Emergency Stop", ""},
    {"R_Addr89Num10_text", "Surge Protector", ""},
    {"R_Addr89Num11_text", "Circuit Breaker", ""},
    {"R_Addr89Num12_text", "Air Conditioner Comm", ""},
    {"R_Addr89Num13_text", "Cooling Unit Comm", ""},
    // Settings 2: cooling unit (block 90)
    {"R_Addr90Num0_text", "Unit Ambient Temp", "\u00B0C"},
    {"R_Addr90Num1_text", "Unit Ambient Humidity", "%"},
    {"R_Addr90Num2_text", "Compressor", ""},
    {"R_Addr90Num3_text", "Water Pump", ""},
    {"R_Addr90Num4_text", "Cooling Unit", ""},
    {"R_Addr90Num5_text", "Heater", ""},
    {"R_Addr90Num6_text", "Temp Sensor", ""},
    {"R_Addr90Num7_text", "Cooling Set Point", "\u00B0C"},
    {"R_Addr90Num8_text", "Heating Set Point", "\u00B0C"},
    {"R_Addr90Num9_text", "Unit Control", ""},
    // Settings 2: thermal management (block 88)
    {"R_Addr88Num0_text", "Thermal Control", ""},
    {"R_Addr88Num1_text", "Work Mode", ""},
    {"R_Addr88Num2_text", "Control Point", ""},
    {"R_Addr88Num3_text", "Cooling Start Temp", "\u00B0C"},
    {"R_Addr88Num4_text", "Cooling Stop Temp", "\u00B0C"},
    {"R_Addr88Num5_text", "Heating Start Temp", "\u00B0C"},
    {"R_Addr88Num6_text", "Heating Stop Temp", "\u00B0C"},
    {"R_Addr88Num9_text", "Self-Circ. Start Diff", "\u00B0C"},
    {"R_Addr88Num10_text", "Self-Circ. Stop Diff", "\u00B0C"},
    {"R_Addr88Num11_text", "Cooling Target", "\u00B0C"},
    {"R_Addr88Num12_text", "Heating Target", "\u00B0C"},
    {"R_Addr88Num15_text", "Unit Address", ""},
    {"R_Addr88Num16_text", "Unit Baud Rate", ""},
    {"R_Addr88Num17_text", "Unit Mode | State", ""},
    {"R_Addr88Num20_text", "Supply Water Temp", "\u00B0C"},
    {"R_Addr88Num21_text", "Return Water Temp", "\u00B0C"},
    {"R_Addr88Num22_text", "Outdoor Temp", "\u00B0C"},
    {"R_Addr88Num24_text", "Return Air Temp", "\u00B0C"},
    {"R_Addr88Num26_text", "Compressor Speed", "rpm"},
    {"R_Addr88Num27_text", "Fan Speed", "rpm"},
    {"R_Addr88Num28_text", "Pump Speed", "rpm"},
    {"R_Addr88Num29_text", "Heater Power", "W"},
    {"R_Addr88Num30_text", "Supply Pressure", "bar"},
    {"R_Addr88Num31_text", "Return Pressure", "bar"},
    {"R_Addr88Num33_text", "Fault Code 1", "hex"},
    {"R_Addr88Num34_text", "Fault Code 2", "hex"},
    {"R_Addr88Num35_text", "Fault Code 3", "hex"},
    {"R_Addr88Num36_text", "Fault Code 4", "hex"},
    {"R_Addr88Num37_text", "Fault Code 5", "hex"},
    {"R_Addr88Num38_text", "Unit SW Version", ""},
    {"R_Addr88Num39_text", "Unit HW Version", ""},
    {"R_Addr88Num40_text", "Unit Run Time", "h"},
    {"R_Addr88Num41_text", "Unit Power", "kW"},
};

// Column heads stand just above the first row of a parameter group, over the read field
// ("Current") and the edit field ("New value").
#define HEADS(page, y, readX, editX)                                                              \
    {page, readX + 2, y, "CURRENT", PageText::ColumnHead},                                      \
        {page, editX + 2, y, "NEW VALUE", PageText::ColumnHead}

const PageText kPageTexts[] = {
    {FieldPage::Home, 24, 20, "Stack status", PageText::Heading},
    {FieldPage::Home, 432, 20, "Configuration", PageText::Heading},
    HEADS(FieldPage::Home, 34, 570, 670),
    {FieldPage::Home, 862, 20, "Cells and energy", PageText::Heading},
    {FieldPage::Home, 862, 440, "Counters and limits", PageText::Heading},
    {FieldPage::Home, 1147, 534, "NEW VALUE", PageText::ColumnHead},
    {FieldPage::Home, 24, 616, "Identity and clock", PageText::Heading},
    {FieldPage::Home, 472, 704, "NEW VALUE", PageText::ColumnHead},
    {FieldPage::Data, 32, 28, "Stack summary", PageText::Heading},

    HEADS(FieldPage::SetPage1, 38, 218, 326),
    HEADS(FieldPage::SetPage1, 38, 664, 764),
    HEADS(FieldPage::SetPage1, 38, 1094, 1202),
    HEADS(FieldPage::SetPage1, 244, 218, 326),
    HEADS(FieldPage::SetPage1, 244, 664, 764),
    HEADS(FieldPage::SetPage1, 244, 1094, 1202),
    HEADS(FieldPage::SetPage1, 480, 216, 324),
    HEADS(FieldPage::SetPage1, 480, 664, 764),
    HEADS(FieldPage::SetPage1, 480, 1094, 1202),
    HEADS(FieldPage::SetPage1, 688, 578, 724),
    HEADS(FieldPage::SetPage1, 688, 1028, 1158),
    {FieldPage::SetPage1, 20, 38, "CELL VOLTAGE", PageText::Section},
    {FieldPage::SetPage1, 20, 244, "PACK LIMITS", PageText::Section},
    {FieldPage::SetPage1, 20, 480, "DELAYS AND SOC", PageText::Section},
    {FieldPage::SetPage1, 20, 688, "DEVICE AND NETWORK", PageText::Section},

    {FieldPage::SetPage2, 20, 18, "Alarm inputs", PageText::Heading},
    {FieldPage::SetPage2, 20, 222, "Cooling unit", PageText::Heading},
    HEADS(FieldPage::SetPage2, 236, 1086, 1190),
    HEADS(FieldPage::SetPage2, 326, 658, 760),
    {FieldPage::SetPage2, 20, 384, "Thermal management", PageText::Heading},
    HEADS(FieldPage::SetPage2, 400, 206, 310),

    {FieldPage::Fault, 102, 696, "READING PROGRESS", PageText::ColumnHead},
    {FieldPage::Fault, 960, 692, "RECORDS (1-63)", PageText::ColumnHead},
};

#undef HEADS
// clang-format on

} // namespace

const Caption *captions() {
    return kCaptions;
}
int captionCount() {
    return int(sizeof(kCaptions) / sizeof(kCaptions[0]));
}
QString captionWithUnit(const char *field) {
    for (int i = 0; i < captionCount(); ++i) {
        const Caption &c = captions()[i];
        if (qstrcmp(c.field, field) != 0)
            continue;
        QString text = QString::fromUtf8(c.text);
        if (text.isEmpty())
            text = QString::fromLatin1(field);
        if (c.unit && *c.unit)
            text += QStringLiteral(" (%1)").arg(QString::fromUtf8(c.unit));
        return text;
    }
    return QString::fromLatin1(field);
}

const PageText *pageTexts() {
    return kPageTexts;
}
int pageTextCount() {
    return int(sizeof(kPageTexts) / sizeof(kPageTexts[0]));
}

const char *commandFace(int param) {
    switch (param) {
    case 81:
        return "Restore Factory";
    case 82:
        return "Forced Relay Close";
    case 83:
        return "System ShutDown";
    }
    return "";
}
