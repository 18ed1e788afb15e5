#pragma once
// Reading a recorded CSV file for the trend window. Files come from anywhere, so everything is
// bounded: the file's size, its columns, its rows and the values held, each refused with a
// reason that names the limit. Both recording formats are read: comma-separated with decimal
// points, and semicolon-separated with decimal commas (told apart by the header line). A value
// that is not a finite number (text, "NaN", "1e999") is a gap, never a zero. Pure code: it
// runs on a thread of its own, reports its progress and stops when asked.

#include <QString>
#include <QStringList>

#include <atomic>
#include <vector>

class QIODevice;

struct TrendCsvLimits {
    qint64 maxBytes = 256LL * 1024 * 1024;
    // A recording of any page has fewer than 500 columns.
    int maxColumns = 1000;
    // Eleven and a half days of a page recorded every second.
    int maxRows = 1000000;
    // Rows times value columns kept in memory (4 bytes each).
    qint64 maxValues = 32000000;
};

struct TrendCsv {
    std::vector<qint64> times;               // ms since the epoch, local time, one per row
    QStringList captions;                    // the header of each column that holds a number
    std::vector<std::vector<float>> columns; // one per caption, a value per row, NaN for a gap
};

// What the parse is told and tells while it runs (shared with the thread that waits for it).
struct TrendCsvProgress {
    std::atomic<bool> cancel{false};
    std::atomic<int> permille{0};
};

enum class TrendCsvResult { Loaded, Refused, Cancelled };

// Reads a recording from in (size bytes, for the progress). Refused with the reason in *error:
// a file that is not a recording, or one over a limit.
TrendCsvResult parseTrendCsv(QIODevice &in, qint64 size, const TrendCsvLimits &limits,
                             TrendCsv *out, QString *error, TrendCsvProgress *progress = nullptr);
// The same from a file, whose size is checked before anything is read.
TrendCsvResult readTrendCsvFile(const QString &path, const TrendCsvLimits &limits, TrendCsv *out,
                                QString *error, TrendCsvProgress *progress = nullptr);

// A recorded cell's number: the number the cell begins with ("3.329/1-14" gives 3.329, "-12 A"
// gives -12), with decimal as the decimal separator; NaN when the cell does not begin with a
// plain number, or its number is not finite as a float.
double trendCsvNumber(const QString &cell, QChar decimal);

// The cells of one comma-separated line (quoted cells may hold commas and doubled quotes).
QStringList splitCsv(const QString &line);
