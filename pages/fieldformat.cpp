#include "fieldformat.h"

#include <limits>

namespace {

constexpr double kScale[] = {1.0, 0.1, 0.01, 0.001};

double scaleFactor(int decimals) {
    return (decimals >= 0 && decimals <= 3) ? kScale[decimals] : 1.0;
}

int cellValue(uint16_t cell, bool isSigned) {
    return isSigned ? static_cast<int16_t>(cell) : cell;
}

QString byteText(const EnumTable *table, uint8_t byte) {
    return table ? enumText(*table, byte) : QString::number(byte);
}

QString composedText(const FieldFormat &format, const SnapshotRecord &record) {
    constexpr int kMaxArgs = 6;
    if (!format.format || format.argCount <= 0 || format.argCount > kMaxArgs)
        return {};
    double first = 0.0;
    int ints[kMaxArgs] = {};
    bool firstIsDouble = false;
    for (int i = 0; i < format.argCount; ++i) {
        const ComposedArg &a = format.args[i];
        const int v = cellValue(record.word(a.cell), a.isSigned) + a.offset;
        if (a.decimals > 0) {
            if (i != 0)
                return {}; // a table error; a double anywhere else would break the varargs
            firstIsDouble = true;
            first = v * scaleFactor(a.decimals);
        } else {
            ints[i] = v;
        }
    }
    // The format is a constant of the field tables. Unused trailing arguments are ignored by
    // the printf rules, so one call shape serves every format.
    if (firstIsDouble)
        return QString::asprintf(format.format, first, ints[1], ints[2], ints[3], ints[4], ints[5]);
    return QString::asprintf(format.format, ints[0], ints[1], ints[2], ints[3], ints[4], ints[5]);
}

} // namespace

QString signedText(uint16_t cell) {
    return QString::number(static_cast<int16_t>(cell));
}

QString unsignedText(uint16_t cell) {
    return QString::number(cell);
}

QString hexText(uint16_t cell) {
    return QString::number(cell, 16);
}

QString scaledText(double value, int decimals) {
    return QString::number(value * scaleFactor(decimals), 'f', decimals);
}

QString enumText(const EnumTable &table, uint16_t value) {
    for (int i = 0; i < table.count; ++i) {
        if (table.items[i].value == value)
            return QString::fromLatin1(table.items[i].text);
    }
    switch (table.fallback) {
    case Fallback::Empty:
        return {};
    case Fallback::Text:
        return QString::fromLatin1(table.fallbackText);
    case Fallback::Decimal:
        return unsignedText(value);
    case Fallback::Hex:
        return hexText(value);
    }
    return {};
}

QString formatField(const FieldFormat &format, const SnapshotRecord &record, int cell) {
    switch (format.rule) {
    case Rule::Integer:
        return format.isSigned ? signedText(record.word(cell)) : unsignedText(record.word(cell));
    case Rule::Hex:
        return hexText(record.word(cell));
    case Rule::Scaled:
        return scaledText(cellValue(record.word(cell), format.isSigned), format.decimals);
    case Rule::Total:
        return format.decimals > 0 ? scaledText(record.total(cell), format.decimals)
                                   : QString::number(record.total(cell));
    case Rule::String:
        return record.text(cell);
    case Rule::LowByte:
        return QString::number(record.lowByte(cell));
    case Rule::Enumeration:
        return format.table ? enumText(*format.table, record.word(cell)) : QString();
    case Rule::ByteStates: {
        const uint16_t w = record.word(cell);
        return byteText(format.table, static_cast<uint8_t>(w >> 8)) + QLatin1Char('|') +
               byteText(format.table2, static_cast<uint8_t>(w & 0xFF));
    }
    case Rule::Composed:
        return composedText(format, record);
    }
    return {};
}

double fieldNumber(const FieldFormat &format, const SnapshotRecord &record, int cell) {
    switch (format.rule) {
    case Rule::Integer:
        return cellValue(record.word(cell), format.isSigned);
    case Rule::Hex:
        return record.word(cell);
    case Rule::Scaled:
        return cellValue(record.word(cell), format.isSigned) * scaleFactor(format.decimals);
    case Rule::Total:
        return record.total(cell) * scaleFactor(format.decimals);
    case Rule::LowByte:
        return record.lowByte(cell);
    case Rule::Composed:
        if (format.format && format.argCount > 0) {
            const ComposedArg &a = format.args[0];
            return (cellValue(record.word(a.cell), a.isSigned) + a.offset) *
                   scaleFactor(a.decimals);
        }
        break;
    case Rule::String:
    case Rule::Enumeration:
    case Rule::ByteStates:
        break;
    }
    return std::numeric_limits<double>::quiet_NaN();
}
