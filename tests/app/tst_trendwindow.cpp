// The trend window's "Open CSV...": a recording in either format, read in the background, with
// the live view's key values ticked by caption; a file over a limit is refused with the limit.

#include "pagerecorder.h"
#include "trendcsv.h"
#include "trendmodel.h"
#include "trendwindow.h"
#include "widget.h"

#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>
#include <QtCharts/QChart>
#include <QtTest>

class TestTrendWindow : public QObject {
    Q_OBJECT

private slots:
    void recordingTicksTheKeyValues_data();
    void recordingTicksTheKeyValues();
    void overALimitIsRefusedByName();
    void everyPagesRecordingIsWithinTheColumnLimit();

private:
    QTemporaryDir m_dir;
    QString write(const QString &name, const QByteArray &text) {
        QFile f(m_dir.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(text);
        return f.fileName();
    }
};

void TestTrendWindow::recordingTicksTheKeyValues_data() {
    QTest::addColumn<QChar>("separator");
    QTest::newRow("comma") << QChar(',');
    QTest::newRow("semicolon") << QChar(';');
}

void TestTrendWindow::recordingTicksTheKeyValues() {
    QFETCH(QChar, separator);
    // A Home recording: every field under its caption, in reverse form order so that neither
    // the file's nor the alphabet's first columns are the key values.
    QVector<TrendModel::Field> fields = TrendModel::homeFields();
    std::reverse(fields.begin(), fields.end());
    QStringList header{QStringLiteral("Time")};
    QStringList row{QStringLiteral("2026-03-01T10:00:00.000")};
    const QString number =
        separator == QLatin1Char(';') ? QStringLiteral("1,5") : QStringLiteral("1.5");
    for (const TrendModel::Field &f : fields) {
        header << QLatin1Char('"') + f.caption + QLatin1Char('"');
        row << number;
    }
    const QString path =
        write(QStringLiteral("home-%1.csv").arg(separator == ',' ? 1 : 2),
              (header.join(separator) + "\r\n" + row.join(separator) + "\r\n").toUtf8());
    TrendModel live;
    TrendWindow window(&live);
    window.show();
    QString error;
    QVERIFY2(window.openCsv(path, &error), qPrintable(error));
    QStringList ticked, keys;
    auto *list = window.findChild<QListWidget *>(QStringLiteral("trendFields"));
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->checkState() == Qt::Checked)
            ticked << list->item(i)->text();
    for (const QString &key : TrendModel::defaultFields())
        keys << live.captionOf(key);
    ticked.sort();
    keys.sort();
    QCOMPARE(ticked, keys);
    QCOMPARE(list->count(), fields.size());
    QCOMPARE(window.shownModel()->value(keys.first(), 0), 1.5);
    QCOMPARE(window.chart()->series().size(), keys.size());
}

void TestTrendWindow::overALimitIsRefusedByName() {
    TrendModel live;
    TrendWindow window(&live);
    QString error;
    const QString wide = write(QStringLiteral("wide.csv"), "Time" + QByteArray(200000, ',') + "\n");
    QVERIFY(!window.openCsv(wide, &error));
    QVERIFY2(error.contains(QStringLiteral("more than 1000 columns")), qPrintable(error));
    QCOMPARE(window.shownModel(), &live);
}

void TestTrendWindow::everyPagesRecordingIsWithinTheColumnLimit() {
    // The limit leaves room: at least twice the columns of the widest page's recording.
    int widest = 0;
    for (int tab = 0; tab < 5; ++tab)
        widest =
            std::max(widest, int(PageRecorder::header(namedValues(DisplaySnapshot(), tab)).size()));
    QVERIFY2(2 * widest <= TrendCsvLimits().maxColumns, qPrintable(QString::number(widest)));
}

QTEST_MAIN(TestTrendWindow)
#include "tst_trendwindow.moc"
