#include "faultrecord.h"

#include "registermirror.h"

namespace {

enum class Rule {
    Time,     // words 0..2 as date and time
    Milli,    // unsigned x 0.001, 3 decimals
    DeciU,    // unsigned x 0.1, 1 decimal
    DeciS,    // signed x 0.1, 1 decimal
    Unsigned, // 0..65535
    Signed,   // -32768..32767
};

struct ColumnRule {
    int column; // sheet column, counted from 1
    int word;   // first word of the record it shows
    const char *header;
    Rule rule;
};

// One line per sheet column; columns 2 and 3 stay empty.
constexpr ColumnRule kColumns[] = {
    {1, 0, "Time", Rule::Time},
    {4, 3, "Max Voltage", Rule::Milli},
    {5, 4, "Min Voltage", Rule::Milli},
    {6, 5, "MaxV_PACKNum", Rule::Unsigned},
    {7, 6, "MinV_PACKNum", Rule::Unsigned},
    {8, 7, "Max Temp", Rule::Signed},
    {9, 8, "Min Temp", Rule::Signed},
    {10, 9, "MaxT_PACKNum", Rule::Unsigned},
    {11, 10, "MinT_PACKNum", Rule::Unsigned},
    {12, 11, "Total Voltage", Rule::DeciU},
    {13, 12, "Total Current", Rule::DeciS},
    {14, 13, "P_Insulation", Rule::Unsigned},
    {15, 14, "N_Insulation", Rule::Unsigned},
    {16, 15, "Relay_Status", Rule::Unsigned},
    {17, 16, "SOC", Rule::Unsigned},
    {18, 17, "CAN1 Error", Rule::Unsigned},
    {19, 18, "MaxV_Num", Rule::Unsigned},
    {20, 19, "Fault Byte0-1", Rule::Unsigned},
    {21, 20, "Fault Byte2-3", Rule::Unsigned},
    {22, 21, "Fault Byte4-5", Rule::Unsigned},
    {23, 22, "Fault Byte6-7", Rule::Unsigned},
    {24, 23, "Fault Byte8| Kick Flag", Rule::Unsigned},
    {25, 24, "BMU_SPI_Status", Rule::Unsigned},
    {26, 25, "BMU_Wrong_Loca", Rule::Unsigned},
    {27, 26, "Act_Reset_Times", Rule::Unsigned},
    {28, 27, "Pass_Reset_Times", Rule::Unsigned},
    {29, 28, "BMU_Reset_Loca", Rule::Unsigned},
    {30, 29, "MinV_Num", Rule::Unsigned},
    {31, 30, "MaxT_Num", Rule::Unsigned},
    {32, 31, "MinT_Num", Rule::Unsigned},
};

const ColumnRule *ruleFor(int column) {
    for (const ColumnRule &c : kColumns) {
        if (c.column == column)
            return &c;
    }
    return nullptr;
}

QString valueText(const ColumnRule &c, const FaultRecordWords &words) {
    const int16_t s = words[c.word];
    const uint16_t u = static_cast<uint16_t>(s);
    switch (c.rule) {
    case Rule::Time:
        return faultTimeText(static_cast<uint16_t>(words[0]), static_cast<uint16_t>(words[1]),
                             static_cast<uint16_t>(words[2]));
    case Rule::Milli:
        return QString::number(u * 0.001, 'f', 3);
    case Rule::DeciU:
        return QString::number(u * 0.1, 'f', 1);
    case Rule::DeciS:
        return QString::number(s * 0.1, 'f', 1);
    case Rule::Unsigned:
        return QString::number(u);
    case Rule::Signed:
        return QString::number(s);
    }
    return QString();
}

} // namespace

QString faultColumnHeader(int column) {
    const ColumnRule *c = ruleFor(column);
    return c ? QString::fromLatin1(c->header) : QString();
}

bool faultColumnUsed(int column) {
    return ruleFor(column) != nullptr;
}

QString faultTimeText(uint16_t word0, uint16_t word1, uint16_t word2) {
    return QString::asprintf("%d-%d-%d %d:%d:%d", (word0 >> 8) + 2000, word0 & 0xff, word1 >> 8,
                             word1 & 0xff, word2 >> 8, word2 & 0xff);
}

FaultRow faultRecordRow(const FaultRecordWords &words) {
    FaultRow row;
    for (const ColumnRule &c : kColumns)
        row[c.column - 1] = valueText(c, words);
    return row;
}

FaultRecordWords faultRecordFromMirror(int k) {
    FaultRecordWords words{};
    if (k < 0 || k >= kFaultRecordSlots)
        return words;
    copyMirror((kFaultFirstBlock + k) * kBlockSize, kFaultRecordWords, words.data());
    return words;
}
