#include "safetext.h"

namespace {

constexpr QChar kReplacement(0xFFFD);

bool isControl(QChar c) {
    const ushort u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString replaceControls(const QString &text, bool keepLines) {
    QString out;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const bool kept = keepLines && (c == QLatin1Char('\n') || c == QLatin1Char('\r') ||
                                        c == QLatin1Char('\t'));
        if (!isControl(c) || kept)
            continue;
        // Only texts that hold a control character are copied.
        if (out.isNull())
            out = text;
        out[i] = kReplacement;
    }
    return out.isNull() ? text : out;
}

// "-12.5", "+3", "7", "-0,25": an optional sign, digits, at most one decimal point or comma
// followed by digits. What the program writes for a number; a spreadsheet reads it as one.
bool isPlainNumber(const QString &cell) {
    int i = 0;
    const int n = cell.size();
    if (i < n && (cell.at(i) == QLatin1Char('-') || cell.at(i) == QLatin1Char('+')))
        ++i;
    const int intStart = i;
    while (i < n && cell.at(i).isDigit() && cell.at(i).unicode() < 0x80)
        ++i;
    if (i == intStart)
        return false;
    if (i < n && (cell.at(i) == QLatin1Char('.') || cell.at(i) == QLatin1Char(','))) {
        const int fracStart = ++i;
        while (i < n && cell.at(i).isDigit() && cell.at(i).unicode() < 0x80)
            ++i;
        if (i == fracStart)
            return false;
    }
    return i == n;
}

} // namespace

QString printableText(const QString &text) {
    return replaceControls(text, false);
}

QString printableLines(const QString &text) {
    return replaceControls(text, true);
}

QString safeCsvCell(const QString &cell) {
    if (cell.isEmpty())
        return cell;
    const QChar first = cell.at(0);
    const bool risky = first == QLatin1Char('=') || first == QLatin1Char('+') ||
                       first == QLatin1Char('-') || first == QLatin1Char('@') ||
                       first == QLatin1Char('\t') || first == QLatin1Char('\r');
    if (risky && !isPlainNumber(cell))
        return QLatin1Char('\'') + printableText(cell);
    return printableText(cell);
}
