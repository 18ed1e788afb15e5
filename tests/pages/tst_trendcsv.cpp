// Reading recordings for the trend window: both formats, gaps for what is no number, and every
// limit refused with a reason that names it.

#include "trendcsv.h"

#include <QBuffer>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(TrendCsvResult)

namespace {

TrendCsvResult parse(const QByteArray &text, const TrendCsvLimits &limits, TrendCsv *out,
                     QString *error) {
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return parseTrendCsv(buffer, text.size(), limits, out, error);
}

// A column's values as text, "gap" for NaN.
QStringList shown(const std::vector<float> &column) {
    QStringList out;
    for (float v : column)
        out << (std::isnan(v) ? QStringLiteral("gap") : QString::number(double(v)));
    return out;
}

const QByteArray kRow1 = "2026-03-01T10:00:00.000";
const QByteArray kRow2 = "2026-03-01T10:00:01.000";

} // namespace

class tst_TrendCsv : public QObject {
    Q_OBJECT

private slots:
    void values_data();
    void values();
    void limits_data();
    void limits();
    void cancelStopsTheRead();
    void notAFileIsRefused();
};

void tst_TrendCsv::values_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<QStringList>("firstColumn");

    QTest::newRow("comma, decimal point")
        << "\xEF\xBB\xBFTime,SOC (%),Total voltage (V)\r\n" + kRow1 + ",55.5,812.3\r\n" + kRow2 +
               ",-1.25,812.4\r\n"
        << QStringList{"SOC (%)", "Total voltage (V)"} << QStringList{"55.5", "-1.25"};
    QTest::newRow("semicolon, decimal comma")
        << "Time;SOC (%);Total voltage (V)\r\n" + kRow1 + ";55,5;812,3\r\n" + kRow2 +
               ";-1,25;812,4\r\n"
        << QStringList{"SOC (%)", "Total voltage (V)"} << QStringList{"55.5", "-1.25"};
    QTest::newRow("semicolon file keeps commas in a caption")
        << "Time;\"Cell, max (V)\"\n" + kRow1 + ";3,329/1-14\n"
        << QStringList{"Cell, max (V)"} << QStringList{"3.329"};
    QTest::newRow("gaps for what is no number")
        << "Time,A\n" + kRow1 + ",NaN\n" + kRow1 + ",1e999\n" + kRow1 + ",inf\n" + kRow1 +
               ",text\n" + kRow1 + ",\n" + kRow1 + ",1.2.3\n" + kRow1 +
               ",99999999999999999999999999999999999999999\n" + kRow1 + ",7\n"
        << QStringList{"A"} << QStringList{"gap", "gap", "gap", "gap", "gap", "gap", "gap", "7"};
    QTest::newRow("neutralised cell and unit read")
        << "Time,A\n" + kRow1 + ",'-5/2\n" + kRow2 + ",12 A\n"
        << QStringList{"A"} << QStringList{"-5", "12"};
    QTest::newRow("short and long rows, a line that is no row")
        << "Time,A,B\n" + kRow1 + "\nnote\n" + kRow2 + ",1,2,3\n"
        << QStringList{"A", "B"} << QStringList{"gap", "1"};
    QTest::newRow("column without numbers is left out") << "Time,State,A\n" + kRow1 + ",Idle,4\n"
                                                        << QStringList{"A"} << QStringList{"4"};
    QTest::newRow("time with a blank and a decimal comma")
        << QByteArray("Time;A\n2026-03-01 10:00:00,250;9\n") << QStringList{"A"}
        << QStringList{"9"};
}

void tst_TrendCsv::values() {
    QFETCH(QByteArray, text);
    QFETCH(QStringList, captions);
    QFETCH(QStringList, firstColumn);
    TrendCsv csv;
    QString error;
    QCOMPARE(parse(text, TrendCsvLimits(), &csv, &error), TrendCsvResult::Loaded);
    QCOMPARE(csv.captions, captions);
    QCOMPARE(shown(csv.columns.front()), firstColumn);
    QCOMPARE(int(csv.times.size()), firstColumn.size());
}

void tst_TrendCsv::limits_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("limit"); // which limit is lowered to 4
    QTest::addColumn<QString>("reason");

    const QByteArray rows = "Time,A\n" + kRow1 + ",1\n" + kRow1 + ",2\n" + kRow1 + ",3\n" + kRow1 +
                            ",4\n" + kRow1 + ",5\n";
    QTest::newRow("size") << rows << "bytes"
                          << "larger than";
    QTest::newRow("columns") << QByteArray("Time,A,B,C,D\n" + kRow1 + ",1,2,3,4\n") << "columns"
                             << "more than 4 columns";
    QTest::newRow("rows") << rows << "rows"
                          << "more than 4 rows";
    QTest::newRow("values") << QByteArray("Time,A,B\n" + kRow1 + ",1,2\n" + kRow1 + ",1,2\n" +
                                          kRow1 + ",1,2\n")
                            << "values"
                            << "more than 4 values";
    QTest::newRow("200000 columns") << QByteArray("Time" + QByteArray(200000, ',') + "\n") << ""
                                    << "more than 1000 columns";
    QTest::newRow("first column not Time") << QByteArray("A,B\n1,2\n") << ""
                                           << "not a recording";
    QTest::newRow("empty") << QByteArray() << ""
                           << "empty";
    QTest::newRow("no valid time") << QByteArray("Time,A\nyesterday,1\n") << ""
                                   << "no rows";
}

void tst_TrendCsv::limits() {
    QFETCH(QByteArray, text);
    QFETCH(QString, limit);
    QFETCH(QString, reason);
    TrendCsvLimits limits;
    if (limit == QLatin1String("bytes"))
        limits.maxBytes = 40;
    if (limit == QLatin1String("columns"))
        limits.maxColumns = 4;
    if (limit == QLatin1String("rows"))
        limits.maxRows = 4;
    if (limit == QLatin1String("values"))
        limits.maxValues = 4;
    TrendCsv csv;
    QString error;
    QCOMPARE(parse(text, limits, &csv, &error), TrendCsvResult::Refused);
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(csv.times.empty() && csv.columns.empty());
}

void tst_TrendCsv::cancelStopsTheRead() {
    QByteArray text = "Time,A\n";
    for (int i = 0; i < 5000; ++i)
        text += kRow1 + ",1.5\n";
    // Read through, the progress reaches its end; asked to stop, the read stops at its next
    // look and keeps nothing.
    TrendCsvProgress progress;
    TrendCsv csv;
    QString error;
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    QCOMPARE(parseTrendCsv(buffer, text.size(), TrendCsvLimits(), &csv, &error, &progress),
             TrendCsvResult::Loaded);
    QCOMPARE(progress.permille.load(), 1000);
    progress.cancel = true;
    buffer.seek(0);
    QCOMPARE(parseTrendCsv(buffer, text.size(), TrendCsvLimits(), &csv, &error, &progress),
             TrendCsvResult::Cancelled);
    QVERIFY(csv.times.empty());
}

void tst_TrendCsv::notAFileIsRefused() {
    TrendCsv csv;
    QString error;
    QCOMPARE(readTrendCsvFile(QStringLiteral("/dev/zero"), TrendCsvLimits(), &csv, &error),
             TrendCsvResult::Refused);
}

QTEST_GUILESS_MAIN(tst_TrendCsv)
#include "tst_trendcsv.moc"
