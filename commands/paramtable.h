#pragma once
// The writable parameters of the controller, described as data: number (which is also the
// register the value is written to), the page its field sits on, and how its text becomes
// register data. Everything here is pure: text in, register bytes out, no widgets.

#include "registermirror.h"

#include <QString>

#include <cstdint>

enum class ParamPage : uint8_t { Home, SettingsPage1, SettingsPage2, Fault };

enum class ParamEncoding : uint8_t {
    Int,      // decimal integer, low 16 bits
    Half,     // decimal integer divided by 2 toward zero
    Milli,    // number x 1000, rounded half away from zero
    Deci,     // number x 10, rounded half away from zero
    Text,     // UTF-8 bytes in `regs` registers, two characters per register
    DateTime, // "yyyy-MM-dd hh:mm:ss" as six registers: year - 2000, month, day, h, m, s
    Command,  // one-shot command with confirmation: writes 1, no edit field
};

struct ParamInfo {
    uint16_t number = 0;
    ParamPage page = ParamPage::Home;
    ParamEncoding encoding = ParamEncoding::Int;
    uint8_t regs = 1;     // registers written by the single write
    uint8_t dataKind = 3; // data kind handed to stageWrite
};

// The entry of parameter n, or nullptr when n is no writable parameter.
const ParamInfo *paramInfo(int n);
// Every parameter in number order; count in *n.
const ParamInfo *paramTable(int *n);

// Highest parameter number whose edit field is tracked for the one-click list.
constexpr int kTrackedParamMax = 84;

// Parameter number from an edit field's object name "W_Addr<n>_text"; 0 when the name does not
// follow the pattern or its middle is no number.
int paramNumberFromName(const QString &objectName);

// Raw register data for one parameter write, in wire order (each register high byte first).
struct ParamWriteData {
    uint16_t start = 0;
    uint8_t count = 0;    // registers
    uint8_t dataKind = 3; // how stageWrite takes the values below
    uint16_t words[6] = {};
    uint8_t bytes[kWriteListDataSize] = {};
};

// Register value helpers (two's complement low 16 bits of the exact integer result).
uint16_t intWord(const QString &text);
uint16_t halfIntWord(const QString &text);
// Text as double, times factor, rounded to nearest with halves away from zero.
uint16_t roundedScaledWord(const QString &text, double factor);
// Text as single precision, times factor without rounding the product, truncated toward zero.
uint16_t truncatedScaledWord(const QString &text, double factor);
// Text's UTF-8 bytes at the start of a zeroed area of regs * 2 bytes; longer texts are cut.
void textBytes(const QString &text, int regs, uint8_t *out);
// "yyyy-MM-dd hh:mm:ss" into year - 2000, month, day, hour, minute, second. False (and out
// untouched) when the text is no valid calendar date and time.
bool dateTimeWords(const QString &text, uint16_t out[6]);

// Converts a field's text into the single write of parameter n (button W_Addr<n>_btn). False
// when n is no writable parameter with an edit field, or for parameter 74 when the text is no
// valid date and time.
bool encodeSingleWrite(int n, const QString &text, ParamWriteData *out);

// Converts a field's text into a one-click list entry for parameter n (1..84). False when the
// parameter is not queued (no such field, or parameter 74 with an invalid date and time).
bool encodeListEntry(int n, const QString &text, WriteListEntry *out);
