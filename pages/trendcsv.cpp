#include "trendcsv.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <limits>

namespace {

constexpr float kGap = std::numeric_limits<float>::quiet_NaN();
constexpr int kLinesPerLook = 512; // lines between looks at the cancel request

// The separator of a recording: the first comma or semicolon outside quotes in its header.
QChar separatorOf(const QString &header) {
    bool quoted = false;
    for (const QChar ch : header) {
        if (ch == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && (ch == QLatin1Char(',') || ch == QLatin1Char(';')))
            return ch;
    }
    return QLatin1Char(',');
}

// Cells of one line (quoted cells may hold the separator and doubled quotes); at most
// maxCells + 1 are split, so that a line that is too wide costs no more than that.
void splitCells(const QString &line, QChar sep, int maxCells, QStringList *cells) {
    cells->clear();
    QString cell;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar ch = line.at(i);
        if (quoted) {
            if (ch == QLatin1Char('"') && i + 1 < line.size() &&
                line.at(i + 1) == QLatin1Char('"')) {
                cell += ch;
                ++i;
            } else if (ch == QLatin1Char('"')) {
                quoted = false;
            } else {
                cell += ch;
            }
        } else if (ch == QLatin1Char('"')) {
            quoted = true;
        } else if (ch == sep) {
            *cells << cell;
            cell.clear();
            if (cells->size() > maxCells)
                return;
        } else if (ch != QLatin1Char('\r') && ch != QLatin1Char('\n')) {
            cell += ch;
        }
    }
    *cells << cell;
}

// The recording's time: ISO 8601 with milliseconds; a blank for the "T" and a decimal comma
// are read too.
qint64 rowTime(QString cell, bool *ok) {
    cell = cell.trimmed();
    if (cell.size() > 10 && cell.at(10) == QLatin1Char(' '))
        cell[10] = QLatin1Char('T');
    cell.replace(QLatin1Char(','), QLatin1Char('.'));
    const QDateTime t = QDateTime::fromString(cell, Qt::ISODateWithMs);
    *ok = t.isValid();
    return *ok ? t.toMSecsSinceEpoch() : 0;
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

QStringList splitCsv(const QString &line) {
    QStringList cells;
    splitCells(line, QLatin1Char(','), std::numeric_limits<int>::max() - 1, &cells);
    return cells;
}

double trendCsvNumber(const QString &cell, QChar decimal) {
    constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
    int i = 0;
    const int n = cell.size();
    while (i < n && cell.at(i).isSpace())
        ++i;
    // A cell the recording kept from being read as a formula.
    if (i < n && cell.at(i) == QLatin1Char('\''))
        ++i;
    const int start = i;
    if (i < n && (cell.at(i) == QLatin1Char('-') || cell.at(i) == QLatin1Char('+')))
        ++i;
    const int digits = i;
    while (i < n && isAsciiDigit(cell.at(i)))
        ++i;
    if (i == digits)
        return kNone;
    if (i + 1 < n && cell.at(i) == decimal && isAsciiDigit(cell.at(i + 1))) {
        ++i;
        while (i < n && isAsciiDigit(cell.at(i)))
            ++i;
    }
    // "1e999", "1.2.3", "12abc": the number runs on into something that is not one.
    if (i < n) {
        const QChar next = cell.at(i);
        if (next.isLetterOrNumber() || next == QLatin1Char('.') || next == QLatin1Char(','))
            return kNone;
    }
    QString number = cell.mid(start, i - start);
    if (decimal != QLatin1Char('.'))
        number.replace(decimal, QLatin1Char('.'));
    bool ok = false;
    const double v = number.toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max())
        return kNone;
    return v;
}

TrendCsvResult parseTrendCsv(QIODevice &in, qint64 size, const TrendCsvLimits &limits,
                             TrendCsv *out, QString *error, TrendCsvProgress *progress) {
    *out = TrendCsv();
    const auto refuse = [&](const QString &why) {
        *out = TrendCsv();
        *error = why;
        return TrendCsvResult::Refused;
    };
    const auto tooLarge = [&] {
        return refuse(QStringLiteral("the file is larger than %1 MB, the most that is read")
                          .arg(limits.maxBytes / (1024 * 1024)));
    };
    if (size > limits.maxBytes)
        return tooLarge();
    QByteArray first = in.readLine();
    if (first.startsWith("\xEF\xBB\xBF"))
        first.remove(0, 3);
    const QString headerLine = QString::fromUtf8(first).trimmed();
    if (headerLine.isEmpty())
        return refuse(QStringLiteral("the file is empty"));
    const QChar sep = separatorOf(headerLine);
    const QChar decimal = sep == QLatin1Char(';') ? QLatin1Char(',') : QLatin1Char('.');
    QStringList header;
    splitCells(headerLine, sep, limits.maxColumns, &header);
    if (header.size() > limits.maxColumns)
        return refuse(QStringLiteral("the file has more than %1 columns, the most a recording "
                                     "has (with room to spare)")
                          .arg(limits.maxColumns));
    if (header.size() < 2 || header.first().trimmed() != QLatin1String("Time"))
        return refuse(QStringLiteral("not a recording: the first column is not \"Time\""));

    const int valueColumns = header.size() - 1;
    std::vector<std::vector<float>> columns(static_cast<size_t>(valueColumns));
    std::vector<bool> numeric(static_cast<size_t>(valueColumns), false);
    QStringList cells;
    qint64 read = first.size();
    int lines = 0;
    while (!in.atEnd()) {
        const QByteArray bytes = in.readLine();
        read += bytes.size();
        if (read > limits.maxBytes) // a device that gives more than its size said
            return tooLarge();
        if (++lines % kLinesPerLook == 0 && progress) {
            if (progress->cancel.load(std::memory_order_relaxed)) {
                *out = TrendCsv();
                return TrendCsvResult::Cancelled;
            }
            progress->permille.store(size > 0 ? int(qMin<qint64>(1000, read * 1000 / size)) : 0,
                                     std::memory_order_relaxed);
        }
        const QString line = QString::fromUtf8(bytes);
        splitCells(line, sep, valueColumns + 1, &cells);
        bool timeOk = false;
        const qint64 t = rowTime(cells.first(), &timeOk);
        if (!timeOk)
            continue; // a line that is no row (blank, cut short, a note)
        if (int(out->times.size()) >= limits.maxRows)
            return refuse(QStringLiteral("the file has more than %1 rows, the most that is read")
                              .arg(limits.maxRows));
        if (qint64(out->times.size() + 1) * valueColumns > limits.maxValues)
            return refuse(QStringLiteral("the file holds more than %1 values (rows times "
                                         "columns), the most that is read")
                              .arg(limits.maxValues));
        out->times.push_back(t);
        for (int c = 0; c < valueColumns; ++c) {
            const double v =
                c + 1 < cells.size() ? trendCsvNumber(cells.at(c + 1), decimal) : double(kGap);
            const bool isNumber = !std::isnan(v);
            numeric[size_t(c)] = numeric[size_t(c)] || isNumber;
            columns[size_t(c)].push_back(isNumber ? static_cast<float>(v) : kGap);
        }
    }
    if (out->times.empty())
        return refuse(QStringLiteral("no rows with a valid time"));
    for (int c = 0; c < valueColumns; ++c) {
        if (!numeric[size_t(c)])
            continue;
        out->captions << header.at(c + 1).trimmed();
        out->columns.push_back(std::move(columns[size_t(c)]));
    }
    if (progress)
        progress->permille.store(1000);
    return TrendCsvResult::Loaded;
}

TrendCsvResult readTrendCsvFile(const QString &path, const TrendCsvLimits &limits, TrendCsv *out,
                                QString *error, TrendCsvProgress *progress) {
    QFile f(path);
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("not a file");
        return TrendCsvResult::Refused;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return TrendCsvResult::Refused;
    }
    return parseTrendCsv(f, f.size(), limits, out, error, progress);
}
