#include "paramtable.h"

#include "captions.h"
#include "fieldmap.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDate>
#include <QRegularExpression>
#include <QTime>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using E = ParamEncoding;
using P = ParamPage;

struct Range {
    int first;
    int last;
    P page;
    E encoding;
    uint8_t regs;
    bool isSigned;
};

constexpr bool U = false;
constexpr bool S = true;

// The parameter table as the form lays it out; numbers 92, 93, 98, 99, 101 and 105 do not
// exist. A register is signed when the controller's value beside its field reads back signed.
constexpr Range kRanges[] = {
    {1, 4, P::Home, E::Int, 1, U},
    {5, 23, P::Home, E::Int, 1, S},
    {24, 38, P::SettingsPage1, E::Milli, 1, U},
    {39, 39, P::SettingsPage1, E::Int, 1, S},
    {40, 40, P::SettingsPage1, E::Half, 1, U},
    {41, 41, P::SettingsPage1, E::Deci, 1, U},
    {42, 42, P::SettingsPage1, E::Deci, 1, S},
    {43, 46, P::SettingsPage1, E::Deci, 1, U},
    {47, 47, P::SettingsPage1, E::Deci, 1, S},
    {48, 48, P::SettingsPage1, E::Deci, 1, U},
    {49, 51, P::SettingsPage1, E::Deci, 1, S},
    {52, 52, P::SettingsPage1, E::Int, 1, S},
    {53, 53, P::SettingsPage1, E::Deci, 1, U},
    {54, 57, P::SettingsPage1, E::Deci, 1, S},
    {58, 72, P::SettingsPage1, E::Int, 1, S},
    {73, 73, P::Home, E::Text, 10, U},
    {74, 74, P::Home, E::DateTime, 6, U},
    {75, 75, P::SettingsPage1, E::Text, 11, U},
    {76, 76, P::SettingsPage1, E::Int, 1, U},
    {77, 77, P::SettingsPage1, E::Text, 12, U},
    {78, 78, P::SettingsPage1, E::Text, 10, U},
    {79, 79, P::SettingsPage1, E::Text, 3, U},
    {80, 80, P::SettingsPage1, E::Text, 5, U},
    {81, 83, P::Fault, E::Command, 1, U},
    {84, 84, P::Home, E::Int, 1, S},
    {85, 87, P::SettingsPage2, E::Int, 1, U},
    {88, 91, P::SettingsPage2, E::Int, 1, S},
    {94, 95, P::SettingsPage2, E::Int, 1, S},
    {96, 97, P::SettingsPage2, E::Deci, 1, U},
    {100, 100, P::SettingsPage2, E::Int, 1, U},
    {102, 103, P::SettingsPage2, E::Deci, 1, U},
    {104, 104, P::SettingsPage2, E::Int, 1, U},
    {106, 108, P::SettingsPage1, E::Int, 1, U},
};

constexpr int kParamNumberMax = 108;

// What a value may be where the caption's meaning fixes it, in the units typed: delays, times,
// counts and voltages are not negative, percentages 0..100, cell voltages 0..5 V (0..5000 mV),
// temperatures -40..150 degC (their differences 0..150), switches 0..1 and modes within their
// read-back texts. Parameters not listed take the whole register.
struct MeaningRange {
    int first;
    int last;
    double min;
    double max;
};

constexpr double kNoMax = 1e9; // up to the register's own limit

constexpr MeaningRange kMeaningRanges[] = {
    {1, 2, 0, kNoMax},   // Packs per Rack, Device Count
    {3, 7, 0, kNoMax},   // timeouts, delays (ms, s, min)
    {9, 9, 0, 100},      // SOC Upper Limit (%)
    {10, 10, -40, 150},  // Charge Temp Limit
    {11, 11, 0, 100},    // SOC Lower Limit (%)
    {12, 12, 0, 5000},   // Balancing Diff (mV)
    {13, 13, 0, 1},      // Auto Restart (0/1)
    {17, 17, 0, kNoMax}, // Heartbeat Timeout (s)
    {18, 18, -40, 150},  // Fan Start Temp
    {19, 19, 0, 150},    // Fan Hysteresis
    {20, 20, -40, 150},  // Discharge Temp Limit
    {21, 22, 0, 1},      // Buzzer Enable, Debug Mode (0/1)
    {24, 38, 0, 5},      // cell voltages and differences (V)
    {39, 40, 0, kNoMax}, // Cell Diff Delay (s), Limit Delay (s)
    {41, 46, 0, kNoMax}, // total voltages (V)
    {51, 52, -40, 150},  // Charge Temp High, Heater Start Temp
    {54, 56, -40, 150},  // charge and discharge temperature limits
    {57, 57, 0, 150},    // Temp Diff Warning
    {58, 63, 0, kNoMax}, // delays (s)
    {64, 66, 0, 100},    // SOC warnings and protection (%)
    {67, 72, 0, kNoMax}, // Sleep Delay, retries, racks, Rack Offline Delay, Reconnect Volt Diff
    {84, 84, 1, 247},    // Host ID: a device address
    {85, 85, 0, 1},      // Thermal Control: Manual, Automatic
    {86, 86, 0, 4},      // Work Mode: Standby .. Automatic
    {87, 87, 0, 1},      // Control Point: Supply Water, Return Water
    {88, 91, -40, 150},  // cooling and heating start and stop temperatures
    {94, 95, 0, 150},    // self-circulation start and stop differences
    {96, 97, 0, 150},    // cooling and heating targets
    {102, 103, 0, 150},  // cooling and heating set points
    {104, 104, 0, 1},    // Unit Control: Manual, Automatic
    {106, 108, 0, 5000}, // balancing start voltage and differences (mV)
};

// Captions of the rows whose caption is a label on the form rather than in the artwork.
struct LabelCaption {
    int n;
    const char *text;
    const char *unit;
};
constexpr LabelCaption kLabelCaptions[] = {
    {84, "Host ID", ""},
    {106, "BalStartVolt", "mV"},
    {107, "BalStartVoltDiff", "mV"},
    {108, "BalStoptVoltDiff", "mV"},
};

uint8_t dataKindFor(int n, E encoding) {
    switch (encoding) {
    case E::Text:
        return 5;
    case E::Command:
        return 1;
    default:
        // 88, 90, 94 and 95 go out as a single word; the bytes are those of a word list of one.
        return (n == 88 || n == 90 || n == 94 || n == 95) ? 2 : 3;
    }
}

double encodingFactor(E encoding) {
    switch (encoding) {
    case E::Milli:
        return 1000.0;
    case E::Deci:
        return 10.0;
    case E::Half:
        return 0.5;
    default:
        return 1.0;
    }
}

// The register's range in typed units, narrowed by the meaning of the parameter.
void setRange(ParamInfo &info) {
    const double factor = encodingFactor(info.encoding);
    double lo = (info.isSigned ? -32768.0 : 0.0) / factor;
    double hi = (info.isSigned ? 32767.0 : 65535.0) / factor;
    if (info.encoding == E::Half) // halved toward zero: the odd number above still fits
        hi += 1;
    for (const MeaningRange &m : kMeaningRanges) {
        if (info.number < m.first || info.number > m.last)
            continue;
        lo = std::max(lo, m.min);
        hi = std::min(hi, m.max);
    }
    info.minValue = lo;
    info.maxValue = hi;
}

struct Table {
    ParamInfo byNumber[kParamNumberMax + 1] = {};
    ParamInfo ordered[kParamNumberMax] = {};
    int count = 0;

    Table() {
        for (const Range &r : kRanges) {
            for (int n = r.first; n <= r.last; ++n) {
                ParamInfo info;
                info.number = static_cast<uint16_t>(n);
                info.page = r.page;
                info.encoding = r.encoding;
                info.regs = r.regs;
                info.dataKind = dataKindFor(n, r.encoding);
                info.isSigned = r.isSigned;
                setRange(info);
                byNumber[n] = info;
                ordered[count++] = info;
            }
        }
    }
};

const Table &table() {
    static const Table t;
    return t;
}

constexpr int registerMin(bool isSigned) {
    return isSigned ? -32768 : 0;
}
constexpr int registerMax(bool isSigned) {
    return isSigned ? 32767 : 65535;
}

// The register's 16 bits for a value already checked to fit (two's complement when negative).
uint16_t registerWord(qint64 value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}

void putWord(uint8_t *out, uint16_t word) {
    out[0] = static_cast<uint8_t>(word >> 8);
    out[1] = static_cast<uint8_t>(word & 0xFF);
}

QString trWidget(const char *text) {
    return QCoreApplication::translate("Widget", text);
}

} // namespace

const ParamInfo *paramInfo(int n) {
    if (n < 1 || n > kParamNumberMax)
        return nullptr;
    const ParamInfo &info = table().byNumber[n];
    return info.number == n ? &info : nullptr;
}

const ParamInfo *paramTable(int *n) {
    if (n)
        *n = table().count;
    return table().ordered;
}

namespace {

const Caption *paramCaptionRow(int n) {
    const FieldDef *read = paramReadField(n);
    if (!read)
        return nullptr;
    for (int i = 0; i < captionCount(); ++i)
        if (qstrcmp(captions()[i].field, read->name) == 0)
            return &captions()[i];
    return nullptr;
}

const LabelCaption *labelCaption(int n) {
    for (const LabelCaption &c : kLabelCaptions)
        if (c.n == n)
            return &c;
    return nullptr;
}

} // namespace

QString paramCaption(int n) {
    if (const LabelCaption *l = labelCaption(n))
        return QString::fromUtf8(l->text);
    if (const Caption *c = paramCaptionRow(n))
        return QString::fromUtf8(c->text);
    if (const char *face = commandFace(n); face && *face)
        return QString::fromUtf8(face);
    return QStringLiteral("Parameter %1").arg(n);
}

QString paramUnit(int n) {
    if (const LabelCaption *l = labelCaption(n))
        return QString::fromUtf8(l->unit);
    const Caption *c = paramCaptionRow(n);
    return c ? QString::fromUtf8(c->unit) : QString();
}

QString paramCaptionWithUnit(int n) {
    const QString unit = paramUnit(n);
    return unit.isEmpty() ? paramCaption(n) : QStringLiteral("%1 (%2)").arg(paramCaption(n), unit);
}

int paramNumberFromName(const QString &objectName) {
    static const QString prefix = QStringLiteral("W_Addr");
    static const QString suffix = QStringLiteral("_text");
    if (objectName.size() < prefix.size() + suffix.size() ||
        !objectName.startsWith(prefix, Qt::CaseSensitive) ||
        !objectName.endsWith(suffix, Qt::CaseSensitive))
        return 0;
    bool ok = false;
    const int n = objectName.mid(prefix.size(), objectName.size() - prefix.size() - suffix.size())
                      .toInt(&ok, 10);
    return ok ? n : 0;
}

bool parseWholeNumber(const QString &text, qint64 *out) {
    static const QRegularExpression whole(QStringLiteral("^[+-]?[0-9]+$"));
    const QString t = text.trimmed();
    if (!whole.match(t).hasMatch())
        return false;
    bool ok = false;
    const qint64 value = t.toLongLong(&ok, 10);
    if (!ok)
        return false; // more digits than any register could hold
    *out = value;
    return true;
}

bool parseDecimalNumber(const QString &text, double *out) {
    static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)$"));
    const QString t = text.trimmed();
    if (!decimal.match(t).hasMatch())
        return false;
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return false;
    *out = value;
    return true;
}

bool withinParamRange(int n, const QString &text) {
    const ParamInfo *info = paramInfo(n);
    if (!info)
        return false;
    double value = 0;
    switch (info->encoding) {
    case ParamEncoding::Int:
    case ParamEncoding::Half: {
        qint64 whole = 0;
        if (!parseWholeNumber(text, &whole))
            return false;
        value = static_cast<double>(whole);
        break;
    }
    case ParamEncoding::Milli:
    case ParamEncoding::Deci:
        if (!parseDecimalNumber(text, &value))
            return false;
        break;
    default:
        return true;
    }
    return value >= info->minValue && value <= info->maxValue;
}

bool intWord(const QString &text, bool isSigned, uint16_t *out) {
    qint64 value = 0;
    if (!parseWholeNumber(text, &value) || value < registerMin(isSigned) ||
        value > registerMax(isSigned))
        return false;
    *out = registerWord(value);
    return true;
}

bool halfIntWord(const QString &text, bool isSigned, uint16_t *out) {
    qint64 value = 0;
    // A negative number is no value of an unsigned register, even where its half rounds to 0.
    if (!parseWholeNumber(text, &value) || (!isSigned && value < 0))
        return false;
    const qint64 half = value / 2;
    if (half < registerMin(isSigned) || half > registerMax(isSigned))
        return false;
    *out = registerWord(half);
    return true;
}

bool scaledWord(const QString &text, double factor, bool isSigned, uint16_t *out) {
    double value = 0;
    if (!parseDecimalNumber(text, &value))
        return false;
    const double scaled = std::round(value * factor);
    if (!(scaled >= registerMin(isSigned) && scaled <= registerMax(isSigned)))
        return false;
    // -0.0004 x 1000 rounds to -0: the register takes 0.
    *out = registerWord(static_cast<qint64>(scaled));
    return true;
}

bool textBytes(const QString &text, int regs, uint8_t *out) {
    const int size = regs * 2;
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > size)
        return false;
    std::memset(out, 0, static_cast<size_t>(size));
    std::memcpy(out, utf8.constData(), static_cast<size_t>(utf8.size()));
    return true;
}

bool dateTimeWords(const QString &text, uint16_t out[6]) {
    // The controller's clock has no time zone: the text is checked as a calendar date and a time
    // of day, so an hour that the host's zone skips for daylight saving is still accepted. The
    // line break an operator may type after the value is not part of it.
    const QString t = text.trimmed();
    const int space = t.indexOf(QLatin1Char(' '));
    if (space < 0)
        return false;
    const QDate date = QDate::fromString(t.left(space), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(t.mid(space + 1), QStringLiteral("hh:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return false;
    out[0] = static_cast<uint16_t>(date.year() - 2000);
    out[1] = static_cast<uint16_t>(date.month());
    out[2] = static_cast<uint16_t>(date.day());
    out[3] = static_cast<uint16_t>(time.hour());
    out[4] = static_cast<uint16_t>(time.minute());
    out[5] = static_cast<uint16_t>(time.second());
    return true;
}

QString paramInputTip(int n) {
    const ParamInfo *info = paramInfo(n);
    if (!info)
        return QString();
    // The date and time's unit is its format, which the text names anyway.
    const QString name =
        info->encoding == ParamEncoding::DateTime ? paramCaption(n) : paramCaptionWithUnit(n);
    const QString lo = QString::number(info->minValue, 'g', 8);
    const QString hi = QString::number(info->maxValue, 'g', 8);
    // An example inside the range: the usual one where it fits, else the upper limit.
    auto example = [&](double usual) {
        return QString::number(
            usual >= info->minValue && usual <= info->maxValue ? usual : info->maxValue, 'g', 8);
    };
    switch (info->encoding) {
    case ParamEncoding::Int:
    case ParamEncoding::Half:
        return trWidget("%1 takes a whole number from %2 to %3, for example %4.")
            .arg(name, lo, hi, example(info->isSigned && info->minValue < 0 ? -10 : 100));
    case ParamEncoding::Milli:
        return trWidget("%1 takes a number from %2 to %3, for example %4.")
            .arg(name, lo, hi, example(3.65));
    case ParamEncoding::Deci:
        return trWidget("%1 takes a number from %2 to %3, for example %4.")
            .arg(name, lo, hi, example(info->isSigned && info->minValue < 0 ? -2.5 : 25.5));
    case ParamEncoding::Text:
        return trWidget("%1 takes a text of at most %2 bytes (a letter or digit is one byte), "
                        "for example %3.")
            .arg(name, QString::number(info->regs * 2), QStringLiteral("ABC123"));
    case ParamEncoding::DateTime:
        return trWidget("%1 takes a date and time as yyyy-MM-dd hh:mm:ss, for example %2.")
            .arg(name, QStringLiteral("2024-03-05 07:08:09"));
    case ParamEncoding::Command:
        break;
    }
    return QString();
}

namespace {

// Register data of parameter n from its text, the same for its Set button and the one-click
// list. words[] receives count words for the numeric encodings, bytes[] the text.
bool encodeParam(const ParamInfo &info, const QString &text, uint16_t words[6], uint8_t *bytes) {
    if (!withinParamRange(info.number, text))
        return false;
    switch (info.encoding) {
    case ParamEncoding::Int:
        return intWord(text, info.isSigned, &words[0]);
    case ParamEncoding::Half:
        return halfIntWord(text, info.isSigned, &words[0]);
    case ParamEncoding::Milli:
        return scaledWord(text, 1000.0, info.isSigned, &words[0]);
    case ParamEncoding::Deci:
        return scaledWord(text, 10.0, info.isSigned, &words[0]);
    case ParamEncoding::Text:
        return textBytes(text, info.regs, bytes);
    case ParamEncoding::DateTime:
        return dateTimeWords(text, words);
    case ParamEncoding::Command:
        return false;
    }
    return false;
}

} // namespace

bool encodeSingleWrite(int n, const QString &text, ParamWriteData *out) {
    const ParamInfo *info = paramInfo(n);
    if (!info || info->encoding == ParamEncoding::Command)
        return false;
    ParamWriteData w;
    w.start = info->number;
    w.count = info->regs;
    w.dataKind = info->dataKind;
    if (!encodeParam(*info, text, w.words, w.bytes))
        return false;
    *out = w;
    return true;
}

bool encodeListEntry(int n, const QString &text, WriteListEntry *out) {
    const ParamInfo *info = paramInfo(n);
    if (!info || n > kTrackedParamMax || info->encoding == ParamEncoding::Command)
        return false;
    WriteListEntry e;
    e.reg = info->number;
    e.count = info->regs;
    uint16_t words[6] = {};
    if (!encodeParam(*info, text, words, e.data))
        return false;
    if (info->encoding != ParamEncoding::Text)
        for (int i = 0; i < info->regs; ++i)
            putWord(e.data + 2 * i, words[i]);
    *out = e;
    return true;
}
