#pragma once
// Fault records as workbook rows: record k of the last fault-record walk sits in register
// mirror block 22 + k, 32 words, and becomes row k + 2 of the exported sheet.

#include <QString>

#include <array>
#include <cstdint>

constexpr int kFaultFirstBlock = 22;
constexpr int kFaultRecordWords = 32;
// Blocks 22..85 hold records 0..63; the blocks after them belong to the Settings page.
constexpr int kFaultRecordSlots = 64;
constexpr int kFaultColumns = 32;

using FaultRecordWords = std::array<int16_t, kFaultRecordWords>;
// Texts of columns 1..32 at index column - 1; columns 2 and 3 are always empty.
using FaultRow = std::array<QString, kFaultColumns>;

// Header of a sheet column (1-based); empty for columns 2 and 3 and outside 1..32.
QString faultColumnHeader(int column);

// "year-month-day hour:minute:second" from the byte halves of words 0, 1 and 2, without
// leading zeros (year = high byte of word 0 + 2000).
QString faultTimeText(uint16_t word0, uint16_t word1, uint16_t word2);

// The row's texts for one record.
FaultRow faultRecordRow(const FaultRecordWords &words);

// True for the columns that carry a header and a value (1 and 4..32).
bool faultColumnUsed(int column);

// Reads record k (0-based) from the register mirror: each cell once. A k outside the fault
// blocks gives an all-zero record.
FaultRecordWords faultRecordFromMirror(int k);
