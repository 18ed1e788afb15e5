// The trend window's reader over arbitrary files, with small limits: nothing may crash, read out
// of bounds or hold more than the limits allow; a loaded recording has a value (or a gap) for
// every row of every column, and no value that is not finite.

#include "trendcsv.h"

#include <QBuffer>

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    TrendCsvLimits limits;
    limits.maxBytes = 64 * 1024;
    limits.maxColumns = 40;
    limits.maxRows = 500;
    limits.maxValues = 4000;
    QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<int>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    TrendCsv csv;
    QString error;
    TrendCsvProgress progress;
    const TrendCsvResult result =
        parseTrendCsv(buffer, bytes.size(), limits, &csv, &error, &progress);
    if (result != TrendCsvResult::Loaded) {
        if (!csv.times.empty() || !csv.columns.empty() || error.isEmpty())
            abort();
        return 0;
    }
    if (csv.times.empty() || int(csv.times.size()) > limits.maxRows ||
        csv.captions.size() != int(csv.columns.size()) ||
        csv.captions.size() >= limits.maxColumns ||
        qint64(csv.times.size()) * qint64(csv.columns.size()) > limits.maxValues)
        abort();
    for (const std::vector<float> &column : csv.columns) {
        if (column.size() != csv.times.size())
            abort();
        for (float v : column)
            if (std::isinf(v))
                abort();
    }
    return 0;
}
