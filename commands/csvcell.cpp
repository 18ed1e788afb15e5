#include "csvcell.h"

#include "safetext.h"

QString csvCell(const QString &raw) {
    // A controller's text or a file's value never becomes a formula in a spreadsheet.
    const QString text = safeCsvCell(raw);
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvRow(const QStringList &cells) {
    QStringList out;
    out.reserve(cells.size());
    for (const QString &cell : cells)
        out << csvCell(cell);
    return out.join(QLatin1Char(','));
}
