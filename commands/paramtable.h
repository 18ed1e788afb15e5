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
    uint8_t regs = 1;      // registers written by the single write
    uint8_t dataKind = 3;  // data kind handed to stageWrite
    bool isSigned = false; // register read as -32768..32767 (else 0..65535), as read back
    // The values the field's meaning allows, in the units the operator types (before scaling
    // or halving). Numeric encodings only; within the register's range.
    double minValue = 0;
    double maxValue = 0;
};

// The caption beside parameter n's field ("OV Warning Delay") and its unit ("s", or empty).
QString paramCaption(int n);
QString paramUnit(int n);
// "OV Warning Delay (s)"; "Project Name" without a unit.
QString paramCaptionWithUnit(int n);

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

// Operator text as a number. Blanks and line breaks around it are ignored; anything else makes
// it no number: "3.6V", "3,65", "1e3" and the empty text are refused, not read as 0.
// A whole number: optional sign and decimal digits.
bool parseWholeNumber(const QString &text, qint64 *out);
// A decimal number: optional sign, digits with at most one '.' (at least one digit).
bool parseDecimalNumber(const QString &text, double *out);

// Whether text is a number of parameter n's kind within the range its meaning allows
// (minValue..maxValue). True for a parameter that is no number (text, date and time).
bool withinParamRange(int n, const QString &text);

// Register value of a numeric parameter text. False (out untouched) when the text is no number
// of the encoding's kind or the value, after scaling, does not fit the register: 0..65535, or
// -32768..32767 (stored as two's complement) for a signed register.
bool intWord(const QString &text, bool isSigned, uint16_t *out);
// Half of the whole number, rounded toward zero (7 gives 3, -7 gives -3).
bool halfIntWord(const QString &text, bool isSigned, uint16_t *out);
// The decimal number times factor, rounded to nearest with halves away from zero.
bool scaledWord(const QString &text, double factor, bool isSigned, uint16_t *out);
// Text's UTF-8 bytes at the start of a zeroed area of regs * 2 bytes. False (out untouched) when
// the text needs more bytes than that.
bool textBytes(const QString &text, int regs, uint8_t *out);
// "yyyy-MM-dd hh:mm:ss" into year - 2000, month, day, hour, minute, second. False (and out
// untouched) when the text is no valid calendar date and time.
bool dateTimeWords(const QString &text, uint16_t out[6]);

// What parameter n accepts, for the operator, with an example: "Cell OV Warning (V) takes a
// number from 0 to 5, for example 3.65." Empty for a number without an edit field.
QString paramInputTip(int n);

// Converts a field's text into the single write of parameter n (button W_Addr<n>_btn). False
// when n is no writable parameter with an edit field, or when the text is not accepted (see the
// helpers above; paramInputTip says what is).
bool encodeSingleWrite(int n, const QString &text, ParamWriteData *out);

// Converts a field's text into a one-click list entry for parameter n (1..84), with the same
// register data as the single write. False when the parameter is not queued (no such field) or
// the text is not accepted.
bool encodeListEntry(int n, const QString &text, WriteListEntry *out);
