#include "paramtable.h"

#include <QByteArray>
#include <QDate>
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
};

// The parameter table as the form lays it out; numbers 92, 93, 98, 99, 101 and 105 do not
// exist.
constexpr Range kRanges[] = {
    {1, 23, P::Home, E::Int, 1},
    {24, 38, P::SettingsPage1, E::Milli, 1},
    {39, 39, P::SettingsPage1, E::Int, 1},
    {40, 40, P::SettingsPage1, E::Half, 1},
    {41, 51, P::SettingsPage1, E::Deci, 1},
    {52, 52, P::SettingsPage1, E::Int, 1},
    {53, 57, P::SettingsPage1, E::Deci, 1},
    {58, 72, P::SettingsPage1, E::Int, 1},
    {73, 73, P::Home, E::Text, 10},
    {74, 74, P::Home, E::DateTime, 6},
    {75, 75, P::SettingsPage1, E::Text, 11},
    {76, 76, P::SettingsPage1, E::Int, 1},
    {77, 77, P::SettingsPage1, E::Text, 12},
    {78, 78, P::SettingsPage1, E::Text, 10},
    {79, 79, P::SettingsPage1, E::Text, 3},
    {80, 80, P::SettingsPage1, E::Text, 5},
    {81, 83, P::Fault, E::Command, 1},
    {84, 84, P::Home, E::Int, 1},
    {85, 91, P::SettingsPage2, E::Int, 1},
    {94, 95, P::SettingsPage2, E::Int, 1},
    {96, 97, P::SettingsPage2, E::Deci, 1},
    {100, 100, P::SettingsPage2, E::Int, 1},
    {102, 103, P::SettingsPage2, E::Deci, 1},
    {104, 104, P::SettingsPage2, E::Int, 1},
    {106, 108, P::SettingsPage1, E::Int, 1},
};

constexpr int kParamNumberMax = 108;

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

// Low 16 bits (two's complement) of a finite integral double, exact for any magnitude.
uint16_t low16(double integral) {
    double m = std::fmod(integral, 65536.0);
    if (m < 0)
        m += 65536.0;
    return static_cast<uint16_t>(static_cast<uint32_t>(m));
}

void putWord(uint8_t *out, uint16_t word) {
    out[0] = static_cast<uint8_t>(word >> 8);
    out[1] = static_cast<uint8_t>(word & 0xFF);
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

uint16_t intWord(const QString &text) {
    // Text that is no number (or does not fit an int) gives 0.
    return static_cast<uint16_t>(text.toInt(nullptr, 10));
}

uint16_t halfIntWord(const QString &text) {
    return static_cast<uint16_t>(text.toInt(nullptr, 10) / 2);
}

uint16_t roundedScaledWord(const QString &text, double factor) {
    // toDouble accepts "inf" and "nan" and overflows to infinity; none of them is a value a
    // register can take, so they count as no number.
    const double value = text.toDouble();
    if (!std::isfinite(value))
        return 0;
    const double product = value * factor;
    if (!std::isfinite(product))
        return 0;
    return low16(std::round(product));
}

uint16_t truncatedScaledWord(const QString &text, double factor) {
    const float value = text.toFloat();
    if (!std::isfinite(value))
        return 0;
    const double product = static_cast<double>(value) * factor;
    if (!std::isfinite(product))
        return 0;
    return low16(std::trunc(product));
}

void textBytes(const QString &text, int regs, uint8_t *out) {
    const int size = regs * 2;
    std::memset(out, 0, static_cast<size_t>(size));
    const QByteArray utf8 = text.toUtf8();
    std::memcpy(out, utf8.constData(), static_cast<size_t>(std::min(size, utf8.size())));
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

bool encodeSingleWrite(int n, const QString &text, ParamWriteData *out) {
    const ParamInfo *info = paramInfo(n);
    if (!info || info->encoding == ParamEncoding::Command)
        return false;
    ParamWriteData w;
    w.start = info->number;
    w.count = info->regs;
    w.dataKind = info->dataKind;
    switch (info->encoding) {
    case ParamEncoding::Int:
        w.words[0] = intWord(text);
        break;
    case ParamEncoding::Half:
        w.words[0] = halfIntWord(text);
        break;
    case ParamEncoding::Milli:
        w.words[0] = roundedScaledWord(text, 1000.0);
        break;
    case ParamEncoding::Deci:
        w.words[0] = roundedScaledWord(text, 10.0);
        break;
    case ParamEncoding::Text:
        textBytes(text, info->regs, w.bytes);
        break;
    case ParamEncoding::DateTime:
        if (!dateTimeWords(text, w.words))
            return false;
        break;
    case ParamEncoding::Command:
        return false;
    }
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
    int wordCount = 1;
    switch (info->encoding) {
    case ParamEncoding::Int:
        words[0] = intWord(text);
        break;
    case ParamEncoding::Half:
        words[0] = halfIntWord(text);
        break;
    // The list takes scaled values in single precision and truncates them, unlike the single
    // write: the controller sees 40 for 4.1 here and 41 from the parameter's own button.
    case ParamEncoding::Milli:
        words[0] = truncatedScaledWord(text, 1000.0);
        break;
    case ParamEncoding::Deci:
        words[0] = truncatedScaledWord(text, 10.0);
        break;
    case ParamEncoding::Text:
        textBytes(text, info->regs, e.data);
        wordCount = 0;
        break;
    case ParamEncoding::DateTime:
        if (!dateTimeWords(text, words))
            return false;
        wordCount = 6;
        break;
    case ParamEncoding::Command:
        return false;
    }
    for (int i = 0; i < wordCount; ++i)
        putWord(e.data + 2 * i, words[i]);
    *out = e;
    return true;
}
