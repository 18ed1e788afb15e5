#include "paramtable.h"

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
                info.isSigned = r.isSigned;
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
    const bool sgn = info->isSigned;
    const QString lo = QString::number(registerMin(sgn));
    const QString hi = QString::number(registerMax(sgn));
    QString takes;
    switch (info->encoding) {
    case ParamEncoding::Int:
        takes = trWidget("Parameter %1 takes a whole number from %2 to %3, for example %4.")
                    .arg(n)
                    .arg(lo, hi, sgn ? QStringLiteral("-10") : QStringLiteral("100"));
        break;
    case ParamEncoding::Half:
        // The register takes half of the number typed, rounded toward zero.
        takes = trWidget("Parameter %1 takes a whole number from %2 to %3, for example %4.")
                    .arg(n)
                    .arg(QString::number(sgn ? 2 * registerMin(sgn) - 1 : 0),
                         QString::number(2 * registerMax(sgn) + 1), QStringLiteral("100"));
        break;
    case ParamEncoding::Milli:
        takes =
            trWidget("Parameter %1 takes a number from %2 to %3, for example %4.")
                .arg(n)
                .arg(QString::number(registerMin(sgn) / 1000.0, 'g', 8),
                     QString::number(registerMax(sgn) / 1000.0, 'g', 8), QStringLiteral("3.65"));
        break;
    case ParamEncoding::Deci:
        takes = trWidget("Parameter %1 takes a number from %2 to %3, for example %4.")
                    .arg(n)
                    .arg(QString::number(registerMin(sgn) / 10.0, 'g', 8),
                         QString::number(registerMax(sgn) / 10.0, 'g', 8),
                         sgn ? QStringLiteral("-2.5") : QStringLiteral("25.5"));
        break;
    case ParamEncoding::Text:
        takes = trWidget("Parameter %1 takes a text of at most %2 bytes (a letter or digit is one "
                         "byte), for example %3.")
                    .arg(n)
                    .arg(QString::number(info->regs * 2), QStringLiteral("ABC123"));
        break;
    case ParamEncoding::DateTime:
        takes = trWidget("Parameter %1 takes a date and time as yyyy-MM-dd hh:mm:ss, for example "
                         "%2.")
                    .arg(n)
                    .arg(QStringLiteral("2024-03-05 07:08:09"));
        break;
    case ParamEncoding::Command:
        break;
    }
    return takes;
}

namespace {

// Register data of parameter n from its text, the same for its Set button and the one-click
// list. words[] receives count words for the numeric encodings, bytes[] the text.
bool encodeParam(const ParamInfo &info, const QString &text, uint16_t words[6], uint8_t *bytes) {
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
