// The trend model's gaps and pens, the trend window's panning keys, read-out and PNG name, and
// the recording's column headers and its two CSV formats, on the real form.

#include "bundledfonts.h"
#include "pagerecorder.h"
#include "registermirror.h"
#include "simcontroller.h"
#include "trendmodel.h"
#include "trendwindow.h"

#include <QImageReader>
#include <QTemporaryDir>
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>
#include <QtTest>

#include <cmath>
#include <memory>
#include <set>

namespace {

const QString kSoc = QStringLiteral("R_Addr2Num1_text");

// A model with one sample of SOC at each of times (ms); a NaN value leaves the sample empty.
std::unique_ptr<TrendModel> modelOf(const QList<qint64> &times, const QList<double> &values) {
    auto m = std::make_unique<TrendModel>();
    for (int i = 0; i < times.size(); ++i)
        m->addSample(times[i], {{kSoc, values[i]}});
    return m;
}

// The traffic of a recording pass landed in every block: pass 0 an honest simulated controller
// (its clock set), pass 1 garbage.
void landPass(int pass) {
    uint8_t data[2 * kBlockSize];
    SimController sim(20240501u);
    sim.setClock(QDateTime(QDate(2025, 4, 7), QTime(9, 0, 0)));
    uint32_t seed = 0x5eed0000u + uint32_t(pass);
    for (int block = 0; block < kMirrorBlocks; ++block) {
        for (int r = 0; r < kBlockSize; ++r) {
            const uint16_t v = uint16_t(sim.reg(block, r));
            data[2 * r] = uint8_t(v >> 8);
            data[2 * r + 1] = uint8_t(v);
        }
        if (pass == 1)
            for (uint8_t &b : data) {
                seed = seed * 1664525u + 1013904223u;
                b = uint8_t(seed >> 24);
            }
        landRegisters(block, data, kBlockSize);
    }
}

} // namespace

class TestTrendRecording : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void runs_data();
    void runs();
    void pensAreDistinct();
    void windowPansReadsOutAndSaves();
    void headers_data();
    void headers();
    void tableRowsBeginWithTheirNumber();
    void cells_data();
    void cells();
    void bothFormatsWrittenAndRead();
    void recordingAsBefore_data();
    void recordingAsBefore();
    void trendsKeepOneSeriesPerController();
};

void TestTrendRecording::initTestCase() {
    registerBundledFonts();
}

void TestTrendRecording::runs_data() {
    QTest::addColumn<QList<qint64>>("times");
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<QList<int>>("runSizes");
    QTest::addColumn<qint64>("probe"); // a time whose value is asked for
    QTest::addColumn<double>("atProbe");
    const double nan = std::nan("");
    QTest::newRow("a second apart: one line")
        << QList<qint64>{0, 1000, 2000, 3000} << QList<double>{1, 2, 3, 4} << QList<int>{4}
        << qint64(2500) << 3.0;
    QTest::newRow("page not shown for a minute: two lines")
        << QList<qint64>{0, 1000, 61000, 62000} << QList<double>{1, 2, 3, 4} << QList<int>{2, 2}
        << qint64(30000) << nan;
    QTest::newRow("5 s apart still joined")
        << QList<qint64>{0, 5000} << QList<double>{1, 2} << QList<int>{2} << qint64(4999) << 1.0;
    QTest::newRow("a sample without a value breaks the line")
        << QList<qint64>{0, 1000, 2000, 3000} << QList<double>{1, 2, nan, 4} << QList<int>{2, 1}
        << qint64(2100) << nan;
    QTest::newRow("after the last sample nothing")
        << QList<qint64>{0, 1000} << QList<double>{1, 2} << QList<int>{2} << qint64(9000) << nan;
}

void TestTrendRecording::runs() {
    QFETCH(QList<qint64>, times);
    QFETCH(QList<double>, values);
    QFETCH(QList<int>, runSizes);
    QFETCH(qint64, probe);
    QFETCH(double, atProbe);
    const auto m = modelOf(times, values);
    double lo = 0, hi = 0;
    // More buckets than samples: every sample is a point of its own.
    const auto runs = m->runs(kSoc, times.first(), times.last(), 100000, &lo, &hi);
    QList<int> sizes;
    for (const auto &run : runs)
        sizes << run.size();
    QCOMPARE(sizes, runSizes);
    for (const auto &run : runs)
        for (const QPointF &p : run)
            QVERIFY(times.contains(qint64(p.x())));
    const double v = m->valueAt(kSoc, probe);
    QVERIFY2(std::isnan(atProbe) ? std::isnan(v) : v == atProbe, qPrintable(QString::number(v)));
}

void TestTrendRecording::pensAreDistinct() {
    std::set<std::pair<QRgb, int>> seen;
    std::set<QRgb> colours;
    for (int i = 0; i < 40; ++i) {
        const TrendModel::Pen p = TrendModel::pen(i);
        QVERIFY(seen.insert({p.colour.rgb(), int(p.style)}).second);
        colours.insert(p.colour.rgb());
    }
    // The seven key values each get a colour of their own.
    std::set<QRgb> first;
    for (int i = 0; i < TrendModel::defaultFields().size(); ++i)
        first.insert(TrendModel::pen(i).colour.rgb());
    QCOMPARE(int(first.size()), TrendModel::defaultFields().size());
}

void TestTrendRecording::windowPansReadsOutAndSaves() {
    QList<qint64> times;
    QList<double> values;
    const qint64 t0 = QDateTime(QDate(2025, 4, 7), QTime(9, 0)).toMSecsSinceEpoch();
    for (int i = 0; i < 600; ++i) {
        // A minute without samples in the middle.
        times << t0 + (i < 300 ? i : i + 60) * 1000LL;
        values << i % 100;
    }
    auto live = modelOf(times, values);
    TrendWindow window(live.get());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.replot();
    // The gap splits SOC's line in two.
    int socSeries = 0;
    for (QAbstractSeries *s : window.chart()->series())
        socSeries += s->name().isEmpty() || s->name().startsWith(QStringLiteral("SOC"));
    QCOMPARE(socSeries, 2);

    QWidget *view = window.focusWidget();
    QVERIFY(view);
    QTest::keyClick(view, Qt::Key_Plus);
    const QDateTime before = window.timeAxis()->min();
    QTest::keyClick(view, Qt::Key_Left);
    QVERIFY(window.timeAxis()->min() < before);
    QTest::keyClick(view, Qt::Key_Right);
    QTest::keyClick(view, Qt::Key_Right);
    QVERIFY(window.timeAxis()->min() > before);

    const QString inGap = window.readoutAt(t0 + 330 * 1000LL);
    QVERIFY2(inGap.contains(QStringLiteral("SOC (%): -")), qPrintable(inGap));
    const QString measured = window.readoutAt(t0 + 10 * 1000LL);
    QVERIFY2(measured.contains(QStringLiteral("SOC (%): 10")), qPrintable(measured));
    QVERIFY(measured.startsWith(QStringLiteral("2025-04-07 09:00:10")));

    QTemporaryDir dir;
    QVERIFY(window.savePng(dir.filePath(QStringLiteral("trend1"))));
    QCOMPARE(QImageReader(dir.filePath(QStringLiteral("trend1.png"))).format(), QByteArray("png"));
}

void TestTrendRecording::headers_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QStringList>("present");
    QTest::newRow("Home") << 0
                          << QStringList{"Time", "SOC (%)", "Mean Temp (\u00B0C)",
                                         "Stack status: Host ID", "Configuration: Host ID"};
    QTest::newRow("Data") << 1
                          << QStringList{"Time",
                                         "Rack",
                                         "Rack: SOC (%)",
                                         "Max Temp (\u00B0C)",
                                         "Rack: System State",
                                         "Stack summary: System State"};
    QTest::newRow("Settings") << 2 << QStringList{"Cell OV Warning (V)", "Cabinet Temp (\u00B0C)"};
    QTest::newRow("Fault") << 3
                           << QStringList{"Level1 Warning\uFF08H\uFF09: TEMP_High",
                                          "Level2 Fault\uFF08H\uFF09: TEMP_High",
                                          "Level2 Fault\uFF08L\uFF09: Reserved (Bit7)"};
    QTest::newRow("Pack")
        << 4 << QStringList{"Time",      "Pack",        "Total Voltage (V)", "Max Temp (\u00B0C)",
                            "Cell 1(V)", "Max Temp Num"};
}

void TestTrendRecording::headers() {
    QFETCH(int, tab);
    QFETCH(QStringList, present);
    const QVector<NamedGroup> values = namedValues(DisplaySnapshot(), tab);
    const QStringList h = PageRecorder::header(values);
    QCOMPARE(h.first(), QStringLiteral("Time"));
    QCOMPARE(QSet<QString>(h.begin(), h.end()).size(), h.size());
    for (const QString &p : present)
        QVERIFY2(h.contains(p), qPrintable(p));
    for (const QString &c : h)
        QVERIFY2(!c.contains(QLatin1String("_text")) && !c.trimmed().isEmpty(), qPrintable(c));
    // A row has a cell under every header.
    for (const QStringList &row : PageRecorder::rows(values))
        QCOMPARE(row.size() + 1, h.size());
}

void TestTrendRecording::tableRowsBeginWithTheirNumber() {
    for (int tab : {1, 4}) {
        const QList<QStringList> rows = PageRecorder::rows(namedValues(DisplaySnapshot(), tab));
        QCOMPARE(rows.size(), 15);
        for (int r = 0; r < rows.size(); ++r)
            QCOMPARE(rows[r].first(), QString::number(r + 1));
    }
}

void TestTrendRecording::cells_data() {
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QString>("comma");
    QTest::addColumn<QString>("semicolon");
    QTest::newRow("numbers") << QStringList{"3.5", "-0.001", "12", "+7.25"} << "3.5,-0.001,12,+7.25"
                             << "3,5;-0,001;12;+7,25";
    QTest::newRow("texts keep their points")
        << QStringList{"3.329/1-14", "2025-04-07T09:00:00.123", "V1.2"}
        << "3.329/1-14,2025-04-07T09:00:00.123,V1.2"
        << "3.329/1-14;2025-04-07T09:00:00.123;V1.2";
    QTest::newRow("quoting") << QStringList{"a,b", "a;b", "say \"hi\""}
                             << "\"a,b\",a;b,\"say \"\"hi\"\"\""
                             << "a,b;\"a;b\";\"say \"\"hi\"\"\"";
    // A line break is a control character: shown, so that a record stays one line.
    QTest::newRow("line break shown")
        << QStringList{"two\nlines"} << QString::fromUtf8("two\uFFFDlines")
        << QString::fromUtf8("two\uFFFDlines");
    QTest::newRow("formula neutralised") << QStringList{"=1+1", "-2.5"} << "'=1+1,-2.5"
                                         << "'=1+1;-2,5";
}

void TestTrendRecording::cells() {
    QFETCH(QStringList, cells);
    QFETCH(QString, comma);
    QFETCH(QString, semicolon);
    QCOMPARE(csvLine(cells, RecordFormat::Comma), comma);
    QCOMPARE(csvLine(cells, RecordFormat::Semicolon), semicolon);
}

// The Home page's header and a row of shown values, in each format, read as a spreadsheet in
// the format's locale reads it; the comma file also loads into the trend window's model.
void TestTrendRecording::bothFormatsWrittenAndRead() {
    DisplaySnapshot snapshot;
    snapshot.host.word[6] = 565; // total voltage, shown scaled by 0.1
    const QVector<NamedGroup> values = namedValues(snapshot, 0);
    const QStringList header = PageRecorder::header(values);
    QStringList row = PageRecorder::rows(values).first();
    row.prepend(QStringLiteral("2025-04-07T09:00:00.000"));
    const int soc = header.indexOf(QStringLiteral("Total Voltage (V)"));
    QVERIFY(soc > 0);
    QTemporaryDir dir;
    for (RecordFormat format : {RecordFormat::Comma, RecordFormat::Semicolon}) {
        const QString path = dir.filePath(recordFormatName(format) + QStringLiteral(".csv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write((csvLine(header, format) + QStringLiteral("\r\n") + csvLine(row, format) +
                 QStringLiteral("\r\n"))
                    .toUtf8());
        f.close();
        const bool semi = format == RecordFormat::Semicolon;
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
        const QStringList cells = lines.at(1).split(QLatin1Char(semi ? ';' : ','));
        QCOMPARE(cells.size(), header.size());
        const QLocale locale(semi ? QLocale::German : QLocale::C);
        bool ok = false;
        QCOMPARE(locale.toDouble(cells.at(soc), &ok), 56.5);
        QVERIFY(ok);
        if (!semi) {
            TrendModel model;
            QString error;
            QVERIFY2(model.loadCsv(path, &error), qPrintable(error));
            QCOMPARE(model.value(QStringLiteral("Total Voltage (V)"), 0), 56.5);
        }
    }
    // Trends are captioned as the recording's columns, the form's labels included; a cell the
    // form shows twice is one trend.
    TrendModel live;
    QCOMPARE(live.captionOf(QStringLiteral("R_Addr2Num99_text")),
             QStringLiteral("Mean Temp (\u00B0C)"));
    QVERIFY(header.contains(live.captionOf(QStringLiteral("R_Addr2Num99_text"))));
    for (const TrendModel::Field &f : TrendModel::homeFields())
        QVERIFY2(f.name != QLatin1String("R_Addr2Num0_backup_text"), qPrintable(f.name));
    // The key values the trend window ticks are columns of the recording.
    for (const QString &key : TrendModel::defaultCaptions())
        QVERIFY2(header.contains(key), qPrintable(key));
}

// Two passes of the same traffic recorded from the named values, byte for byte as the recorder
// that read the page widgets wrote them (tests/app/data, its timestamps fixed).
void TestTrendRecording::recordingAsBefore_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("reference");
    QTest::newRow("Home") << 0 << "recording_home.csv";
    QTest::newRow("Data") << 1 << "recording_data.csv";
    QTest::newRow("Settings") << 2 << "recording_settings.csv";
    QTest::newRow("Fault") << 3 << "recording_fault.csv";
    QTest::newRow("Pack") << 4 << "recording_pack.csv";
}

void TestTrendRecording::recordingAsBefore() {
    QFETCH(int, tab);
    QFETCH(QString, reference);
    QTemporaryDir dir;
    PageRecorder recorder;
    recorder.setFormat(RecordFormat::Comma);
    QString error;
    QVERIFY2(recorder.start(dir.path(), &error), qPrintable(error));
    for (int pass = 0; pass < 2; ++pass) {
        landPass(pass);
        DisplaySnapshot snapshot;
        takeDisplaySnapshot(snapshot);
        const QDateTime at(QDate(2025, 4, 7), QTime(9, 0, pass));
        QVERIFY2(recorder.recordPass(namedValues(snapshot, tab), tab, at, &error),
                 qPrintable(error));
    }
    QFile made(recorder.fileFor(tab));
    QFile before(QStringLiteral(VADUZ_TEST_DATA "/") + reference);
    QVERIFY(made.open(QIODevice::ReadOnly));
    QVERIFY(before.open(QIODevice::ReadOnly));
    QCOMPARE(made.readAll(), before.readAll());
}

// Samples of two controllers never share a line: each address has its series, and the model
// answers with the selected controller's.
void TestTrendRecording::trendsKeepOneSeriesPerController() {
    TrendModel model;
    DisplaySnapshot snapshot;
    for (int i = 0; i < 3; ++i) {
        snapshot.host.word[1] = 62;
        model.sample(namedValues(snapshot, 0).first(), 1, 1000 * i);
        snapshot.host.word[1] = 1003; // a controller answering garbage
        model.sample(namedValues(snapshot, 0).first(), 2, 1000 * i + 500);
    }
    for (const auto &[address, soc] : {std::pair<int, double>{1, 62}, {2, 1003}}) {
        model.selectController(uint8_t(address));
        double lo = 0, hi = 0;
        const auto runs = model.runs(kSoc, 0, 3000, 100, &lo, &hi);
        QCOMPARE(model.size(), 3);
        QCOMPARE(runs.size(), 1);
        QCOMPARE(lo, soc);
        QCOMPARE(hi, soc);
    }
    model.selectController(3);
    QCOMPARE(model.size(), 0);
}

QTEST_MAIN(TestTrendRecording)
#include "tst_trendrecording.moc"
