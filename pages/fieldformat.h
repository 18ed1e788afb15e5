#pragma once
// The formatting rules every page field is shown by, and the row types the page field tables
// are written in. A field is described as data (first cell, rule, rule parameters); one function
// turns a field of a snapshot record into its text.

#include "displaysnapshot.h"

#include <QString>

#include <cstdint>

// ---- the rules, one function each -----------------------------------------------------------

QString signedText(uint16_t cell);   // -1 for 0xFFFF
QString unsignedText(uint16_t cell); // 65535 for 0xFFFF
QString hexText(uint16_t cell);      // lower case, no prefix: 6699 gives 1a2b
// value * 10^-decimals in double precision, fixed notation with `decimals` digits.
QString scaledText(double value, int decimals);

// ---- enumerations ---------------------------------------------------------------------------

struct EnumText {
    uint16_t value;
    const char *text;
};

enum class Fallback : uint8_t {
    Empty,   // a value outside the table shows the empty text
    Text,    // ... shows the table's fallback text
    Decimal, // ... shows the value as an unsigned decimal
    Hex,     // ... shows the value in lower-case hexadecimal
};

struct EnumTable {
    const EnumText *items;
    int count;
    Fallback fallback;
    const char *fallbackText;
};

template <int N>
constexpr EnumTable enumTable(const EnumText (&items)[N], Fallback fallback = Fallback::Empty,
                              const char *fallbackText = nullptr) {
    return {items, N, fallback, fallbackText};
}

QString enumText(const EnumTable &table, uint16_t value);

// ---- field formats --------------------------------------------------------------------------

enum class Rule : uint8_t {
    Integer, // signed or unsigned 16-bit decimal
    Hex,
    Scaled,      // signed or unsigned cell times 10^-decimals
    Total,       // the unsigned 32-bit field starting at the cell, decimal or scaled
    String,      // the string field starting at the cell
    LowByte,     // the low-byte field at the cell
    Enumeration, // table
    ByteStates,  // high byte by table, "|", low byte by table2
    Composed,    // printf-style format with args
};

// One argument of a composed field: the cell (same block), how it is read, and what is done
// to it. An argument with decimals > 0 is passed as a double, otherwise as an int; only the first
// argument of a format may be a double.
struct ComposedArg {
    int8_t cell;
    bool isSigned;
    uint8_t decimals;
    int16_t offset;
};

struct FieldFormat {
    Rule rule = Rule::Integer;
    bool isSigned = true;
    uint8_t decimals = 0;
    const EnumTable *table = nullptr;
    const EnumTable *table2 = nullptr;
    const char *format = nullptr;
    const ComposedArg *args = nullptr;
    int argCount = 0;
};

constexpr FieldFormat signedInt() {
    return {Rule::Integer, true};
}
constexpr FieldFormat unsignedInt() {
    return {Rule::Integer, false};
}
constexpr FieldFormat hexadecimal() {
    return {Rule::Hex, false};
}
constexpr FieldFormat signedScaled(int decimals) {
    return {Rule::Scaled, true, static_cast<uint8_t>(decimals)};
}
constexpr FieldFormat unsignedScaled(int decimals) {
    return {Rule::Scaled, false, static_cast<uint8_t>(decimals)};
}
constexpr FieldFormat total32(int decimals = 0) {
    return {Rule::Total, false, static_cast<uint8_t>(decimals)};
}
constexpr FieldFormat stringField() {
    return {Rule::String};
}
constexpr FieldFormat lowByteSigned() {
    return {Rule::LowByte, true};
}
constexpr FieldFormat enumeration(const EnumTable &table) {
    return {Rule::Enumeration, false, 0, &table};
}
constexpr FieldFormat byteStates(const EnumTable &high, const EnumTable &low) {
    return {Rule::ByteStates, false, 0, &high, &low};
}
template <int N> constexpr FieldFormat composed(const char *format, const ComposedArg (&args)[N]) {
    return {Rule::Composed, false, 0, nullptr, nullptr, format, args, N};
}

// Cells first..last of a block each start a field of the same format; a field that spans
// several cells (32-bit, string, composed) is one range with first == last.
struct FieldRange {
    int16_t first;
    int16_t last;
    FieldFormat format;
    const char *alsoShownIn = nullptr; // a second widget that shows the same field
};

// The text of the field starting at `cell` of `record`.
QString formatField(const FieldFormat &format, const SnapshotRecord &record, int cell);
// The number the field's text shows first: the (scaled) value of a numeric field, the first
// argument of a composed one ("3.215/3-12" gives 3.215). NaN for texts, enumerations and byte
// states.
double fieldNumber(const FieldFormat &format, const SnapshotRecord &record, int cell);
