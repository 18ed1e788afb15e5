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

int readCsvRecords(const QByteArray &bytes, QVector<QStringList> *out) {
    int consumed = 0;
    QStringList record;
    QByteArray cell;
    bool quoted = false;
    const int n = bytes.size();
    for (int i = 0; i < n; ++i) {
        const char c = bytes.at(i);
        if (quoted) {
            if (c != '"') {
                cell.append(c);
            } else if (i + 1 < n && bytes.at(i + 1) == '"') {
                cell.append('"');
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record << QString::fromUtf8(cell);
            cell.clear();
        } else if (c == '\n') {
            if (cell.endsWith('\r'))
                cell.chop(1);
            record << QString::fromUtf8(cell);
            cell.clear();
            out->append(record);
            record.clear();
            consumed = i + 1;
        } else {
            cell.append(c);
        }
    }
    return consumed;
}
