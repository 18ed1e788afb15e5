#include "paramset.h"

#include "writeerror.h"

#include "fieldmap.h"
#include "fieldtables.h"
#include "paramtable.h"

#include "serialsettings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace {

const char kFormatName[] = "vaduz-parameter-set";

// Identity strings of the controller: first cell and length in cells.
struct IdentityField {
    int block;
    int cell;
    int cells;
};
constexpr IdentityField kSerialNumber{86, 27, 10};
constexpr IdentityField kSoftwareVersion{2, 83, 10};
constexpr IdentityField kHardwareVersion{2, 73, 10};
constexpr IdentityField kProjectName{2, 63, 10};

// Two characters per register, high byte first, up to the first NUL.
QString cellsText(const uint16_t *words, int count) {
    QByteArray bytes;
    for (int i = 0; i < count; ++i) {
        bytes.append(static_cast<char>(words[i] >> 8));
        bytes.append(static_cast<char>(words[i] & 0xFF));
    }
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

QString mirrorText(const RegisterMirror &mirror, const IdentityField &f) {
    uint16_t words[16] = {};
    for (int i = 0; i < f.cells; ++i)
        words[i] = static_cast<uint16_t>(mirror.cell(f.block, f.cell + i));
    return cellsText(words, f.cells);
}

// A snapshot record over the register values of one field starting at cell `first`.
class RawRecord : public SnapshotRecord {
public:
    RawRecord(int first, const QVector<uint16_t> &raw) : m_first(first), m_raw(raw) {}
    uint16_t word(int cell) const override {
        const int i = cell - m_first;
        return i >= 0 && i < m_raw.size() ? m_raw.at(i) : 0;
    }
    QString text(int cell) const override {
        const int i = cell - m_first;
        if (i < 0 || i >= m_raw.size())
            return QString();
        return cellsText(m_raw.constData() + i, m_raw.size() - i);
    }
    int lowByte(int cell) const override { return static_cast<int8_t>(word(cell) & 0xFF); }

private:
    int m_first;
    QVector<uint16_t> m_raw;
};

const FieldFormat *groupFormat(const FieldGroup &group, int cell) {
    for (int i = 0; i < group.count; ++i)
        if (cell >= group.ranges[i].first && cell <= group.ranges[i].last)
            return &group.ranges[i].format;
    return nullptr;
}

// The rule the page shows a block's cell by; nullptr where the cell starts no field.
const FieldFormat *pageFormat(int block, int cell) {
    if (block == homeFields.block)
        return groupFormat(homeFields, cell);
    for (const FieldGroup &group : settingsGroups)
        if (group.block == block)
            return groupFormat(group, cell);
    return nullptr;
}

uint16_t word0(const QVector<uint16_t> &raw) {
    return raw.isEmpty() ? 0 : raw.first();
}

} // namespace

const ParamValue *ParamSet::find(int number) const {
    for (const ParamValue &p : params)
        if (p.number == number)
            return &p;
    return nullptr;
}

const QVector<int> &paramSetNumbers() {
    static const QVector<int> numbers = [] {
        QVector<int> out;
        int count = 0;
        const ParamInfo *table = paramTable(&count);
        for (int i = 0; i < count; ++i)
            if (table[i].encoding != ParamEncoding::Command && paramReadField(table[i].number))
                out << table[i].number;
        return out;
    }();
    return numbers;
}

const QVector<int> &paramSetBlocks() {
    static const QVector<int> blocks = {2, 3, 4, 5, 86, 88, 89, 90, 91};
    return blocks;
}

bool paramIsRestored(int n, bool withHostId) {
    if (n == kHostIdParam)
        return withHostId;
    return n != 74 && n != 75 && n != 78; // Date and Time, IMEI, SN
}

namespace {

// Two thresholds of one quantity: lower must stay below upper (strict: a release level needs
// its gap; else equal is allowed).
struct OrderedPair {
    int lower;
    int upper;
    bool strict;
};
constexpr OrderedPair kOrderedPairs[] = {
    // Cell over-voltage: each release below its level, warning <= fault <= protection.
    {25, 24, true},
    {27, 26, true},
    {29, 28, true},
    {24, 26, false},
    {26, 28, false},
    // Cell under-voltage: each release above its level, protection <= fault <= warning.
    {30, 31, true},
    {32, 33, true},
    {34, 35, true},
    {32, 30, false},
    {34, 32, false},
    // Cell difference, total voltages, currents.
    {36, 37, false},
    {37, 38, false},
    {41, 43, false},
    {43, 45, false},
    {44, 42, false},
    {46, 44, false},
    {47, 49, false},
    {48, 50, false},
    // Temperatures: low limits below high ones.
    {54, 51, true},
    {56, 55, true},
    // State of charge.
    {66, 65, false},
    {65, 64, true},
    {11, 9, true},
};

double rawValue(int n, const QVector<uint16_t> &raw) {
    const ParamInfo *info = paramInfo(n);
    const uint16_t w = raw.isEmpty() ? 0 : raw.first();
    return info && info->isSigned ? static_cast<int16_t>(w) : w;
}

} // namespace

QStringList paramOrderProblems(const ParamSet &set) {
    QStringList out;
    for (const OrderedPair &pair : kOrderedPairs) {
        const ParamValue *lower = set.find(pair.lower);
        const ParamValue *upper = set.find(pair.upper);
        if (!lower || !upper)
            continue;
        const double lo = rawValue(pair.lower, lower->raw);
        const double hi = rawValue(pair.upper, upper->raw);
        if (pair.strict ? lo < hi : lo <= hi)
            continue;
        out << QCoreApplication::translate("ParamSet", "%1 %2 is not below %3 %4")
                   .arg(paramCaptionWithUnit(pair.lower), paramReadBackText(pair.lower, lower->raw),
                        paramCaptionWithUnit(pair.upper),
                        paramReadBackText(pair.upper, upper->raw));
    }
    return out;
}

QString paramReadBackText(int n, const QVector<uint16_t> &raw) {
    const FieldDef *read = paramReadField(n);
    if (!read)
        return QString();
    const FieldFormat *format = pageFormat(read->block, read->index);
    if (!format)
        return QString::number(word0(raw));
    return formatField(*format, RawRecord(read->index, raw), read->index);
}

ControllerIdentity controllerIdentity(const RegisterMirror &mirror) {
    return {mirrorText(mirror, kSerialNumber), mirrorText(mirror, kSoftwareVersion),
            mirrorText(mirror, kHardwareVersion), mirrorText(mirror, kProjectName)};
}

QString controllerSerialNumber(int address) {
    const RegisterMirror &mirror = mirrorOf(static_cast<uint8_t>(address));
    if (mirror.landedAtMs(kSerialNumber.block) < linkStartedAtMs.load(std::memory_order_acquire) ||
        mirror.landedAtMs(kSerialNumber.block) == 0)
        return QString();
    return mirrorText(mirror, kSerialNumber).trimmed();
}

QString controllerTargetText(int address) {
    const QString serial = controllerSerialNumber(address);
    const QString target = linkTargetText(serialSettings());
    return serial.isEmpty()
               ? QCoreApplication::translate("Widget", "Controller at address %1 on %2")
                     .arg(address)
                     .arg(target)
               : QCoreApplication::translate("Widget",
                                             "Controller at address %1, serial number %2, on %3")
                     .arg(address)
                     .arg(serial, target);
}

ParamSet paramSetFromMirror(const QString &program, const QString &port, int address) {
    ParamSet set;
    set.program = program;
    set.time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    set.port = port;
    set.address = address;
    // The controller at address: its own mirror.
    const RegisterMirror &mirror = mirrorOf(static_cast<uint8_t>(address));
    set.serialNumber = mirrorText(mirror, kSerialNumber);
    set.softwareVersion = mirrorText(mirror, kSoftwareVersion);
    set.hardwareVersion = mirrorText(mirror, kHardwareVersion);
    set.projectName = mirrorText(mirror, kProjectName);
    for (int n : paramSetNumbers()) {
        const FieldDef *read = paramReadField(n);
        const ParamInfo *info = paramInfo(n);
        if (!read || !info)
            continue;
        ParamValue v;
        v.number = n;
        v.caption = paramCaption(n);
        v.unit = paramUnit(n);
        for (int i = 0; i < info->regs; ++i)
            v.raw << static_cast<uint16_t>(mirror.cell(read->block, read->index + i));
        v.text = paramReadBackText(n, v.raw);
        set.params << v;
    }
    return set;
}

QByteArray paramSetToJson(const ParamSet &set) {
    QJsonObject identity{{"serialNumber", set.serialNumber},
                         {"softwareVersion", set.softwareVersion},
                         {"hardwareVersion", set.hardwareVersion},
                         {"projectName", set.projectName}};
    QJsonArray params;
    for (const ParamValue &p : set.params) {
        QJsonArray raw;
        for (uint16_t w : p.raw)
            raw.append(int(w));
        params.append(QJsonObject{{"number", p.number},
                                  {"caption", p.caption},
                                  {"unit", p.unit},
                                  {"raw", raw},
                                  {"text", p.text}});
    }
    const QJsonObject root{{"format", QLatin1String(kFormatName)},
                           {"formatVersion", kParamSetFormatVersion},
                           {"program", set.program},
                           {"time", set.time},
                           {"port", set.port},
                           {"address", set.address},
                           {"identity", identity},
                           {"parameters", params}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

namespace {

// Why raw is no value parameter n can hold, or empty. Texts: printable up to their end (the first
// zero byte). Numbers: of the register's kind and within the range their meaning allows. The
// clock and the identity, never written back, and the Host ID, checked when it is written,
// are taken as read.
QString paramValueProblem(int n, const QVector<uint16_t> &raw) {
    const ParamInfo *info = paramInfo(n);
    if (!paramIsRestored(n, true))
        return QString();
    if (info->encoding == ParamEncoding::Text) {
        for (uint16_t w : raw) {
            for (const int byte : {w >> 8, w & 0xFF}) {
                if (byte == 0)
                    return QString();
                if (byte < 0x20 || byte == 0x7F)
                    return QStringLiteral("parameter %1 (%2): the text holds the control byte "
                                          "0x%3")
                        .arg(n)
                        .arg(paramCaption(n))
                        .arg(byte, 2, 16, QLatin1Char('0'));
            }
        }
        return QString();
    }
    if (n == kHostIdParam)
        return QString();
    WriteListEntry e;
    if (!paramEntryFromRaw(n, raw, &e))
        return QStringLiteral("parameter %1: %2 The file holds %3.")
            .arg(n)
            .arg(paramInputTip(n), paramFieldText(n, raw));
    return QString();
}

} // namespace

bool paramSetFromJson(const QByteArray &json, ParamSet *out, QString *error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    const QJsonObject root = doc.object();
    if (doc.isNull() || !doc.isObject()) {
        *error = QStringLiteral("not a JSON document (%1)").arg(parseError.errorString());
        return false;
    }
    if (root.value("format").toString() != QLatin1String(kFormatName)) {
        *error = QStringLiteral("not a parameter set file");
        return false;
    }
    // A version is a whole number; 1.5 is named as it stands, not read as 1 or 0.
    const QJsonValue versionValue = root.value("formatVersion");
    const double version = versionValue.toDouble(0);
    if (!versionValue.isDouble() || version != std::floor(version) || version < 1 ||
        version > kParamSetFormatVersion) {
        *error = version > kParamSetFormatVersion
                     ? QStringLiteral("format version %1 is newer than this program reads (%2)")
                           .arg(QString::number(version))
                           .arg(kParamSetFormatVersion)
                     : QStringLiteral("format version %1 is not one this program reads (%2)")
                           .arg(versionValue.isDouble() ? QString::number(version)
                                                        : QStringLiteral("(none)"))
                           .arg(kParamSetFormatVersion);
        return false;
    }
    ParamSet set;
    set.formatVersion = static_cast<int>(version);
    set.program = root.value("program").toString();
    set.time = root.value("time").toString();
    set.port = root.value("port").toString();
    set.address = root.value("address").toInt();
    const QJsonObject identity = root.value("identity").toObject();
    set.serialNumber = identity.value("serialNumber").toString();
    set.softwareVersion = identity.value("softwareVersion").toString();
    set.hardwareVersion = identity.value("hardwareVersion").toString();
    set.projectName = identity.value("projectName").toString();
    // The whole list is checked before anything is taken from it: a fault names the first bad
    // entry and the file is refused, so nothing of it is ever written.
    const QJsonValue list = root.value("parameters");
    if (!list.isArray()) {
        *error = QStringLiteral("\"parameters\" is not a list");
        return false;
    }
    const QJsonArray entries = list.toArray();
    if (entries.size() > paramSetNumbers().size()) {
        *error = QStringLiteral("the file holds %1 parameters; a controller has %2")
                     .arg(entries.size())
                     .arg(paramSetNumbers().size());
        return false;
    }
    QMap<int, int> entryOf; // parameter number -> entry (1-based)
    for (int i = 0; i < entries.size(); ++i) {
        if (!entries.at(i).isObject()) {
            *error = QStringLiteral("entry %1 of \"parameters\" is no parameter").arg(i + 1);
            return false;
        }
        const QJsonObject o = entries.at(i).toObject();
        const QJsonValue number = o.value("number");
        if (!number.isDouble() || number.toDouble() != std::floor(number.toDouble())) {
            *error =
                QStringLiteral("entry %1 of \"parameters\" has no parameter number").arg(i + 1);
            return false;
        }
        ParamValue p;
        p.number = number.toInt();
        const ParamInfo *info = paramInfo(p.number);
        if (!info || !paramSetNumbers().contains(p.number)) {
            *error = QStringLiteral("parameter %1 is no writable parameter").arg(p.number);
            return false;
        }
        if (entryOf.contains(p.number)) {
            *error = QStringLiteral("parameter %1 appears twice (entries %2 and %3)")
                         .arg(p.number)
                         .arg(entryOf.value(p.number))
                         .arg(i + 1);
            return false;
        }
        entryOf.insert(p.number, i + 1);
        p.caption = o.value("caption").toString();
        p.unit = o.value("unit").toString();
        p.text = o.value("text").toString();
        const QJsonValue raw = o.value("raw");
        if (!raw.isArray()) {
            *error = QStringLiteral("parameter %1: \"raw\" is not a list").arg(p.number);
            return false;
        }
        for (const QJsonValue &w : raw.toArray()) {
            const double word = w.toDouble(-1);
            if (!w.isDouble() || word != std::floor(word) || word < 0 || word > 0xFFFF) {
                *error = QStringLiteral("parameter %1: a raw value is no 16-bit register value")
                             .arg(p.number);
                return false;
            }
            p.raw << static_cast<uint16_t>(word);
        }
        if (p.raw.size() != info->regs) {
            *error = QStringLiteral("parameter %1 has %2 raw values, not %3")
                         .arg(p.number)
                         .arg(p.raw.size())
                         .arg(info->regs);
            return false;
        }
        const QString problem = paramValueProblem(p.number, p.raw);
        if (!problem.isEmpty()) {
            *error = problem;
            return false;
        }
        set.params << p;
    }
    std::sort(set.params.begin(), set.params.end(),
              [](const ParamValue &a, const ParamValue &b) { return a.number < b.number; });
    *out = set;
    return true;
}

bool saveParamSet(const QString &path, const ParamSet &set, QString *error) {
    QSaveFile file(path);
    const QByteArray bytes = paramSetToJson(set);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        *error = writeErrorReason(file);
        return false;
    }
    return commitSaveFile(file, error);
}

bool loadParamSet(const QString &path, ParamSet *out, QString *error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    return paramSetFromJson(file.readAll(), out, error);
}

QString paramFieldText(int n, const QVector<uint16_t> &raw) {
    const ParamInfo *info = paramInfo(n);
    if (!info)
        return QString();
    const uint16_t w = word0(raw);
    const int value = info->isSigned ? static_cast<int16_t>(w) : w;
    switch (info->encoding) {
    case ParamEncoding::Int:
        return QString::number(value);
    case ParamEncoding::Half:
        return QString::number(2 * value); // the register holds half of the number typed
    case ParamEncoding::Milli:
        return QString::number(value / 1000.0, 'f', 3);
    case ParamEncoding::Deci:
        return QString::number(value / 10.0, 'f', 1);
    case ParamEncoding::Text:
        return cellsText(raw.constData(), raw.size());
    case ParamEncoding::DateTime:
    case ParamEncoding::Command:
        break;
    }
    return QString();
}

bool paramEntryFromRaw(int n, const QVector<uint16_t> &raw, WriteListEntry *out) {
    ParamWriteData w;
    if (!encodeSingleWrite(n, paramFieldText(n, raw), &w) || w.count > kWriteListMaxRegs)
        return false;
    WriteListEntry e;
    e.reg = w.start;
    e.count = w.count;
    if (w.dataKind == 5) {
        std::copy(w.bytes, w.bytes + 2 * w.count, e.data);
    } else {
        for (int i = 0; i < w.count; ++i) {
            e.data[2 * i] = static_cast<uint8_t>(w.words[i] >> 8);
            e.data[2 * i + 1] = static_cast<uint8_t>(w.words[i] & 0xFF);
        }
    }
    *out = e;
    return true;
}

QVector<ParamDifference> compareParamSets(const ParamSet &file, const ParamSet &device) {
    QVector<ParamDifference> out;
    for (const ParamValue &p : file.params) {
        ParamDifference d;
        d.number = p.number;
        d.caption = paramCaption(p.number);
        d.unit = paramUnit(p.number);
        d.fileRaw = p.raw;
        d.fileText = paramReadBackText(p.number, p.raw);
        if (const ParamValue *now = device.find(p.number)) {
            d.deviceRaw = now->raw;
            d.deviceText = now->text;
        } else {
            d.deviceText = QStringLiteral("no value");
        }
        d.differs = d.fileRaw != d.deviceRaw;
        out << d;
    }
    return out;
}
