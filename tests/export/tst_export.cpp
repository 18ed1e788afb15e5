// Fault log export: the record-to-row mapping, the workbook as an independent reader
// (openpyxl) sees it, failures that must leave files alone, and the operator's flow with its
// dialogs answered by the test.

#include "battertstackthread.h"
#include "faultexport.h"
#include "faultrecord.h"
#include "ptysimulator.h"
#include "registermirror.h"
#include "serialline.h"
#include "serialsettings.h"
#include "sheetwriter.h"
#include "ui_widget.h"
#include "widget.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTableWidget>

#include "faultrecordswindow.h"
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

using Words = QVector<int>;             // 32 words of a record, as 16-bit patterns
using ColumnTexts = QMap<int, QString>; // sheet column -> expected text
using Cells = QMap<QPair<int, int>, QString>;
Q_DECLARE_METATYPE(ColumnTexts)
Q_DECLARE_METATYPE(Cells)

namespace {

// The headers of row 1, copied from the layout table by hand (index = sheet column).
const char *const kHeaders[33] = {
    nullptr,
    "Time",
    nullptr,
    nullptr,
    "Max Voltage",
    "Min Voltage",
    "MaxV_PACKNum",
    "MinV_PACKNum",
    "Max Temp",
    "Min Temp",
    "MaxT_PACKNum",
    "MinT_PACKNum",
    "Total Voltage",
    "Total Current",
    "P_Insulation",
    "N_Insulation",
    "Relay_Status",
    "SOC",
    "CAN1 Error",
    "MaxV_Num",
    "Fault Byte0-1",
    "Fault Byte2-3",
    "Fault Byte4-5",
    "Fault Byte6-7",
    "Fault Byte8| Kick Flag",
    "BMU_SPI_Status",
    "BMU_Wrong_Loca",
    "Act_Reset_Times",
    "Pass_Reset_Times",
    "BMU_Reset_Loca",
    "MinV_Num",
    "MaxT_Num",
    "MinT_Num",
};

bool usedColumn(int column) {
    return column == 1 || (column >= 4 && column <= 32);
}

Words filled(int value) {
    return Words(kFaultRecordWords, value);
}

Words withWords(std::initializer_list<std::pair<int, int>> set) {
    Words w = filled(0);
    for (const auto &p : set)
        w[p.first] = p.second;
    return w;
}

FaultRecordWords toRecord(const Words &w) {
    FaultRecordWords r{};
    for (int i = 0; i < kFaultRecordWords; ++i)
        r[i] = static_cast<int16_t>(w.value(i));
    return r;
}

void putRecord(int k, const Words &w) {
    for (int i = 0; i < kFaultRecordWords; ++i)
        setMirrorCell((kFaultFirstBlock + k) * kBlockSize + i, static_cast<int16_t>(w[i]));
}

// Every column of the all-zero record, worked out by hand.
ColumnTexts zeroTexts() {
    ColumnTexts t;
    for (int c = 1; c <= 32; ++c) {
        if (usedColumn(c))
            t[c] = QStringLiteral("0");
    }
    t[1] = QStringLiteral("2000-0-0 0:0:0");
    t[4] = t[5] = QStringLiteral("0.000");
    t[12] = t[13] = QStringLiteral("0.0");
    return t;
}

// Every column of a record whose 32 words all hold the 16-bit pattern of -10 (0xfff6).
ColumnTexts minusTenTexts() {
    ColumnTexts t;
    for (int c = 1; c <= 32; ++c) {
        if (usedColumn(c))
            t[c] = QStringLiteral("65526");
    }
    t[1] = QStringLiteral("2255-246-255 246:255:246");
    t[4] = t[5] = QStringLiteral("65.526");
    t[8] = t[9] = QStringLiteral("-10");
    t[12] = QStringLiteral("6552.6");
    t[13] = QStringLiteral("-1.0");
    return t;
}

// Every column of a record whose words all hold the small value v (1..9).
ColumnTexts uniformTexts(int v) {
    ColumnTexts t;
    const QString n = QString::number(v);
    for (int c = 1; c <= 32; ++c) {
        if (usedColumn(c))
            t[c] = n;
    }
    t[1] = QStringLiteral("2000-%1-0 %1:0:%1").arg(n);
    t[4] = t[5] = QStringLiteral("0.00%1").arg(n);
    t[12] = t[13] = QStringLiteral("0.%1").arg(n);
    return t;
}

Cells headerCells() {
    Cells c;
    for (int col = 1; col <= 32; ++col) {
        if (kHeaders[col])
            c[{1, col}] = QString::fromLatin1(kHeaders[col]);
    }
    return c;
}

void addRow(Cells &cells, int row, const ColumnTexts &texts) {
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        cells[{row, it.key()}] = it.value();
}

struct Workbook {
    QString error; // empty when the reader could load the file
    QStringList sheets;
    Cells cells;
    QStringList nonText; // cells whose stored type is not text
};

Workbook readBack(const QString &path) {
    Workbook book;
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(VADUZ_READXLSX), path});
    if (!reader.waitForFinished(60000) || reader.exitStatus() != QProcess::NormalExit ||
        reader.exitCode() != 0) {
        book.error = QString::fromUtf8(reader.readAllStandardError());
        if (book.error.isEmpty())
            book.error = QStringLiteral("reader did not finish");
        if (reader.state() != QProcess::NotRunning) {
            reader.kill();
            reader.waitForFinished();
        }
        return book;
    }
    const QJsonObject root = QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
    for (const QJsonValue &s : root.value(QStringLiteral("sheets")).toArray())
        book.sheets << s.toString();
    for (const QJsonValue &v : root.value(QStringLiteral("cells")).toArray()) {
        const QJsonArray cell = v.toArray();
        const int row = cell.at(0).toInt();
        const int col = cell.at(1).toInt();
        if (cell.at(2).toString() != QLatin1String("s") || !cell.at(3).isString())
            book.nonText << QStringLiteral("%1,%2").arg(row).arg(col);
        book.cells[{row, col}] =
            cell.at(3).isString() ? cell.at(3).toString() : cell.at(3).toVariant().toString();
    }
    return book;
}

// Names in dir other than the expected ones (leftover temporary files show up here).
QStringList strayFiles(const QString &dir, const QStringList &expected) {
    QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &e : expected)
        names.removeAll(e);
    return names;
}

// Answers whatever modal window is active, once each: the save dialog with the file name
// given (or cancels it when empty), a box by its accepting button, or by "Yes"/"No" as told.
class DialogAnswerer : public QObject {
public:
    struct Seen {
        QString title;
        QString text;
        QStringList buttons;
        QWidget *parent = nullptr;
        bool fileDialog = false;
        QString directory;
        QStringList filters;
    };

    DialogAnswerer(const QString &fileToChoose, bool replace)
        : m_file(fileToChoose), m_replace(replace) {
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::answer);
        m_timer.start(10);
    }

    QList<Seen> seen;

private:
    void answer() {
        QWidget *w = QApplication::activeModalWidget();
        if (!w)
            return;
        if (w->property("answeredByTest").toBool()) {
            // The file dialog may take the answer before its view has caught up with the typed
            // name and stay open: answer it again, every 100 ms, until it closes.
            auto *fd = qobject_cast<QFileDialog *>(w);
            if (fd && ++m_ticksOnFileDialog % 10 == 0)
                answerFileDialog(fd);
            return;
        }
        m_ticksOnFileDialog = 0;
        w->setProperty("answeredByTest", true);
        Seen s;
        s.title = w->windowTitle();
        s.parent = w->parentWidget();
        if (auto *fd = qobject_cast<QFileDialog *>(w)) {
            s.fileDialog = true;
            s.directory = fd->directory().absolutePath();
            s.filters = fd->nameFilters();
            seen << s;
            answerFileDialog(fd);
            return;
        }
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            s.text = box->text();
            QAbstractButton *choice = nullptr;
            for (QAbstractButton *b : box->buttons()) {
                s.buttons << b->text().remove(QLatin1Char('&'));
                const auto role = box->buttonRole(b);
                const bool wanted =
                    role == QMessageBox::AcceptRole ||
                    role == (m_replace ? QMessageBox::YesRole : QMessageBox::NoRole);
                if (!choice && wanted)
                    choice = b;
            }
            seen << s;
            if (choice)
                QMetaObject::invokeMethod(choice, "click", Qt::QueuedConnection);
            else
                QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
            return;
        }
        s.text = QStringLiteral("unexpected %1").arg(w->metaObject()->className());
        seen << s;
        w->close();
    }

    void answerFileDialog(QFileDialog *fd) {
        if (m_file.isEmpty()) {
            QMetaObject::invokeMethod(fd, "reject", Qt::QueuedConnection);
        } else {
            // Typed as the operator would, full path in the name field: selectFile() also
            // changes the dialog's folder, which its view loads in the background and which
            // can empty the name field again before the answer is taken.
            if (auto *edit = fd->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                edit->setText(m_file);
            else
                fd->selectFile(m_file);
            QMetaObject::invokeMethod(fd, "accept", Qt::QueuedConnection);
        }
    }

    QString m_file;
    bool m_replace = true;
    int m_ticksOnFileDialog = 0;
    QTimer m_timer;
};

} // namespace

class TestExport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void headers();
    void recordRow_data();
    void recordRow();
    void suffix_data();
    void suffix();
    void faultNames_data();
    void faultNames();

    void workbook_data();
    void workbook();
    void unwritable_data();
    void unwritable();
    void failedWriteKeepsExistingFile();
    void successReplacesExistingFile();
    void fullDiskKeepsExistingFile();

    void flow_data();
    void flow();

    // The main window starts the process-wide tick thread, which then runs until the end.
    void exportButtonAfterReadingButton();
};

void TestExport::initTestCase() {
    // Qt's own dialog, which a test can find and answer.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QVERIFY2(QFileInfo::exists(QStringLiteral(VADUZ_READXLSX)), VADUZ_READXLSX);
}

void TestExport::init() {
    clearMirror();
    faultCount.store(0);
}

void TestExport::headers() {
    for (int column = 1; column <= 32; ++column) {
        const QString expected =
            kHeaders[column] ? QString::fromLatin1(kHeaders[column]) : QString();
        QCOMPARE(faultColumnHeader(column), expected);
        QCOMPARE(faultColumnUsed(column), kHeaders[column] != nullptr);
    }
    QVERIFY(faultColumnHeader(0).isEmpty());
    QVERIFY(faultColumnHeader(33).isEmpty());
}

void TestExport::recordRow_data() {
    QTest::addColumn<Words>("words");
    QTest::addColumn<ColumnTexts>("expected");

    QTest::newRow("all-zero record") << filled(0) << zeroTexts();
    QTest::newRow("-10 in every word: signed, unsigned and scaled readings")
        << filled(-10) << minusTenTexts();
    QTest::newRow("typical date 2025-4-7 9:5:3")
        << withWords({{0, 0x1904}, {1, 0x0709}, {2, 0x0503}})
        << ColumnTexts{{1, QStringLiteral("2025-4-7 9:5:3")}};
    QTest::newRow("fixed notation examples") << withWords({{3, 3456}, {11, 65535}, {12, -25}})
                                             << ColumnTexts{{4, QStringLiteral("3.456")},
                                                            {12, QStringLiteral("6553.5")},
                                                            {13, QStringLiteral("-2.5")}};
    QTest::newRow("16-bit extremes")
        << withWords({{3, 0x8000},
                      {4, 0xffff},
                      {7, -32768},
                      {8, 32767},
                      {11, 0x8000},
                      {12, -32768},
                      {5, 0xffff},
                      {31, 0x8000}})
        << ColumnTexts{{4, QStringLiteral("32.768")},   {5, QStringLiteral("65.535")},
                       {6, QStringLiteral("65535")},    {8, QStringLiteral("-32768")},
                       {9, QStringLiteral("32767")},    {12, QStringLiteral("3276.8")},
                       {13, QStringLiteral("-3276.8")}, {32, QStringLiteral("32768")}};
    // Word w holds 100 + w: shows which word feeds which column.
    Words ladder = filled(0);
    for (int w = 0; w < kFaultRecordWords; ++w)
        ladder[w] = 100 + w;
    ColumnTexts ladderTexts;
    for (int c = 6; c <= 32; ++c)
        ladderTexts[c] = QString::number(100 + c - 1);
    ladderTexts[1] = QStringLiteral("2000-100-0 101:0:102");
    ladderTexts[4] = QStringLiteral("0.103");
    ladderTexts[5] = QStringLiteral("0.104");
    ladderTexts[12] = QStringLiteral("11.1");
    ladderTexts[13] = QStringLiteral("11.2");
    QTest::newRow("word w goes to column w + 1") << ladder << ladderTexts;
}

void TestExport::recordRow() {
    QFETCH(Words, words);
    QFETCH(ColumnTexts, expected);

    const FaultRow row = faultRecordRow(toRecord(words));
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QVERIFY2(row[it.key() - 1] == it.value(),
                 qPrintable(QStringLiteral("column %1: \"%2\", expected \"%3\"")
                                .arg(it.key())
                                .arg(row[it.key() - 1], it.value())));
    }
    QVERIFY(row[1].isEmpty());
    QVERIFY(row[2].isEmpty());
}

void TestExport::suffix_data() {
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing suffix added") << "/tmp/faults"
                                          << "/tmp/faults.xlsx";
    QTest::newRow("suffix kept") << "/tmp/faults.xlsx"
                                 << "/tmp/faults.xlsx";
    QTest::newRow("suffix in capitals kept") << "/tmp/FAULTS.XLSX"
                                             << "/tmp/FAULTS.XLSX";
    QTest::newRow("other suffix gets .xlsx") << "/tmp/log.2025"
                                             << "/tmp/log.2025.xlsx";
    QTest::newRow("dot in folder name only") << "/tmp/a.d/faults"
                                             << "/tmp/a.d/faults.xlsx";
    QTest::newRow("cancelled stays empty") << ""
                                           << "";
}

void TestExport::suffix() {
    QFETCH(QString, chosen);
    QFETCH(QString, expected);
    QCOMPARE(withXlsxSuffix(chosen), expected);
}

void TestExport::faultNames_data() {
    QTest::addColumn<int>("word"); // record word, 19 (Fault Byte0-1) .. 23
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("none") << 19 << 0 << QStringList();
    QTest::newRow("level 1, bit 0")
        << 19 << 0x0001 << QStringList{"Level1 Warning\uFF08H\uFF09: TEMP_High"};
    QTest::newRow("level 1, bits 8 and 13")
        << 19 << 0x2100
        << QStringList{"Level1 Warning\uFF08L\uFF09: Charge_OverCur",
                       "Level1 Warning\uFF08L\uFF09: TotVol\uFF1C200V"};
    QTest::newRow("level 2, same alarm name")
        << 20 << 0x0001 << QStringList{"Level2 Fault\uFF08H\uFF09: TEMP_High"};
    QTest::newRow("reserved bit by its place")
        << 20 << 0x0400 << QStringList{"Level2 Fault\uFF08L\uFF09: Reserved (Bit2)"};
    QTest::newRow("protection 2, bit 12")
        << 22 << 0x1000 << QStringList{"Level3 Protection2\uFF08L\uFF09: L4_TEMP_High"};
    QTest::newRow("kick flag word names nothing") << 23 << 0xFFFF << QStringList();
}

void TestExport::faultNames() {
    QFETCH(int, word);
    QFETCH(int, value);
    QFETCH(QStringList, names);
    FaultRecordWords words{};
    words[size_t(word)] = int16_t(uint16_t(value));
    QCOMPARE(FaultRecordsWindow::faultNames(words), names);
    // The proposed export name: the address and the time.
    QCOMPARE(proposedFaultLogName(3, QDateTime(QDate(2025, 4, 7), QTime(9, 5, 3))),
             QStringLiteral("FaultLog_addr3_20250407-090503.xlsx"));
}

void TestExport::workbook_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<Words>>("records"); // placed at k = 0, 1, ...
    QTest::addColumn<Cells>("expected");         // every cell of the sheet

    QTest::newRow("count 0 gives a sheet without cells")
        << 0 << QVector<Words>{filled(5), filled(6)} << Cells();

    Cells zero = headerCells();
    addRow(zero, 2, zeroTexts());
    QTest::newRow("all-zero record") << 1 << QVector<Words>{filled(0)} << zero;

    Cells minusTen = headerCells();
    addRow(minusTen, 2, minusTenTexts());
    QTest::newRow("record of -10 words") << 1 << QVector<Words>{filled(-10)} << minusTen;

    Cells three = headerCells();
    for (int k = 0; k < 3; ++k)
        addRow(three, k + 2, uniformTexts(k + 1));
    QTest::newRow("count 3 exports rows 2-4, not the walk's last record")
        << 3 << QVector<Words>{filled(1), filled(2), filled(3), filled(4)} << three;

    QVector<Words> all;
    Cells full = headerCells();
    for (int k = 0; k < 65; ++k) { // block 87 too: must not appear
        all << filled(k % 9 + 1);
        if (k < 63)
            addRow(full, k + 2, uniformTexts(k % 9 + 1));
    }
    QTest::newRow("count 63 exports rows 2-64") << 63 << all << full;

    Cells allSlots = headerCells();
    for (int k = 0; k < 64; ++k)
        addRow(allSlots, k + 2, uniformTexts(k % 9 + 1));
    QTest::newRow("count past the fault blocks stops at block 85") << 200 << all << allSlots;
}

void TestExport::workbook() {
    QFETCH(int, count);
    QFETCH(QVector<Words>, records);
    QFETCH(Cells, expected);

    for (int k = 0; k < records.size(); ++k)
        putRecord(k, records[k]);
    faultCount.store(static_cast<uint8_t>(count));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("faults.xlsx"));
    QString error;
    QVERIFY2(writeFaultWorkbook(path, &error), qPrintable(error));
    QCOMPARE(strayFiles(dir.path(), {QStringLiteral("faults.xlsx")}), QStringList());

    const Workbook book = readBack(path);
    QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
    QCOMPARE(book.sheets, QStringList{QStringLiteral("Sheet1")});
    QCOMPARE(book.nonText, QStringList());
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        QVERIFY2(book.cells.value(it.key()) == it.value(),
                 qPrintable(QStringLiteral("cell %1,%2: \"%3\", expected \"%4\"")
                                .arg(it.key().first)
                                .arg(it.key().second)
                                .arg(book.cells.value(it.key()), it.value())));
    }
    for (auto it = book.cells.cbegin(); it != book.cells.cend(); ++it) {
        QVERIFY2(expected.contains(it.key()),
                 qPrintable(QStringLiteral("unexpected cell %1,%2 \"%3\"")
                                .arg(it.key().first)
                                .arg(it.key().second)
                                .arg(it.value())));
    }

    // The on-screen view of the same records, once the walk has read them all, shows the
    // workbook's header and rows cell for cell.
    faultIndex.store(static_cast<uint8_t>(std::min(count, 255)));
    FaultRecordsWindow view;
    view.refresh();
    QTableWidget *table = view.table();
    const int rows = std::min(count, kFaultRecordSlots);
    QCOMPARE(table->rowCount(), rows);
    int column = 0;
    for (int c = 1; c <= kFaultColumns; ++c) {
        if (!faultColumnUsed(c))
            continue;
        if (count > 0)
            QCOMPARE(table->horizontalHeaderItem(column)->text(), book.cells.value({1, c}));
        for (int k = 0; k < rows; ++k)
            QCOMPARE(table->item(k, column)->text(), book.cells.value({k + 2, c}));
        ++column;
        // The window's own column of fault names stands after the last fault byte.
        if (c == 24) {
            QCOMPARE(table->horizontalHeaderItem(column)->text(), QStringLiteral("Faults"));
            for (int k = 0; k < rows; ++k)
                QCOMPARE(table->item(k, column)->text(),
                         FaultRecordsWindow::faultNames(faultRecordFromMirror(k))
                             .join(QStringLiteral("; ")));
            ++column;
        }
    }
    faultIndex.store(0);
}

void TestExport::unwritable_data() {
    QTest::addColumn<QString>("target"); // relative to a fresh folder unless absolute
    QTest::addColumn<QString>("setup");  // "", "dir:<name>", "file:<name>", "readonly"

    QTest::newRow("folder missing") << "nosuch/faults.xlsx"
                                    << "";
    QTest::newRow("target is a folder") << "faults.xlsx"
                                        << "dir:faults.xlsx";
    QTest::newRow("folder is a file") << "plain/faults.xlsx"
                                      << "file:plain";
    QTest::newRow("read-only folder") << "faults.xlsx"
                                      << "readonly";
    QTest::newRow("folder refuses new files (/proc)") << "/proc/vaduz-faults.xlsx"
                                                      << "";
}

void TestExport::unwritable() {
    QFETCH(QString, target);
    QFETCH(QString, setup);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList present;
    if (setup.startsWith(QLatin1String("dir:"))) {
        QVERIFY(QDir(dir.path()).mkdir(setup.mid(4)));
        present << setup.mid(4);
    } else if (setup.startsWith(QLatin1String("file:"))) {
        QFile f(dir.filePath(setup.mid(5)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        present << setup.mid(5);
    } else if (setup == QLatin1String("readonly")) {
        if (::geteuid() == 0)
            QSKIP("permission bits do not stop root");
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }
    faultCount.store(2);
    putRecord(0, filled(1));

    const QString path = QDir::isAbsolutePath(target) ? target : dir.filePath(target);
    QString error;
    QVERIFY(!writeFaultWorkbook(path, &error));
    QVERIFY2(!error.trimmed().isEmpty(), "a failure needs a reason for the operator");
    QVERIFY(!QFileInfo(path).isFile());
    QFile::setPermissions(dir.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(strayFiles(dir.path(), present), QStringList());
}

void TestExport::failedWriteKeepsExistingFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("faults.xlsx"));
    const QByteArray previous("previous workbook");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(previous);
    }
    {
        XlsxSheetWriter writer(path);
        QVERIFY2(writer.isOpen(), qPrintable(writer.errorString()));
        QVERIFY(writer.writeText(1, 1, QStringLiteral("Time")));
        QVERIFY(!writer.writeText(0, 1, QStringLiteral("no row 0")));
        QVERIFY(!writer.errorString().isEmpty());
        QVERIFY(!writer.writeText(2, 1, QStringLiteral("after the failure")));
        QVERIFY(!writer.finish());
    }
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), previous);
    QCOMPARE(strayFiles(dir.path(), {QStringLiteral("faults.xlsx")}), QStringList());
}

void TestExport::successReplacesExistingFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("faults.xlsx"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("previous workbook");
    }
    const QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ReadUser | QFileDevice::WriteUser |
                                          QFileDevice::ReadGroup;
    QVERIFY(QFile::setPermissions(path, mode));

    putRecord(0, filled(-10));
    faultCount.store(1);
    QString error;
    QVERIFY2(writeFaultWorkbook(path, &error), qPrintable(error));

    const Workbook book = readBack(path);
    QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
    QCOMPARE(book.cells.value({2, 13}), QStringLiteral("-1.0"));
    QCOMPARE(QFileInfo(path).permissions(), mode);
    QCOMPARE(strayFiles(dir.path(), {QStringLiteral("faults.xlsx")}), QStringList());
}

// A disk that fills up while the workbook is written: needs a small tmpfs, so it runs only
// where this process may mount one (root with mount rights), and is skipped elsewhere.
void TestExport::fullDiskKeepsExistingFile() {
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString mountPoint = base.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mountPoint));
    QProcess mount;
    mount.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=12k"), QStringLiteral("tmpfs"), mountPoint});
    if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit ||
        mount.exitCode() != 0)
        QSKIP("no permission to mount a small tmpfs");
    struct Unmount {
        QString path;
        ~Unmount() {
            QProcess umount;
            umount.start(QStringLiteral("umount"), {path});
            umount.waitForFinished(10000);
        }
    } unmount{mountPoint};

    const QString path = QDir(mountPoint).filePath(QStringLiteral("faults.xlsx"));
    const QByteArray previous("previous workbook");
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(previous);
    }
    // Words that vary, so the compressed sheet does not fit into the few free blocks.
    for (int k = 0; k < kFaultRecordSlots; ++k) {
        Words w(kFaultRecordWords);
        for (int i = 0; i < kFaultRecordWords; ++i)
            w[i] = (k * kFaultRecordWords + i) * 7919;
        putRecord(k, w);
    }
    faultCount.store(63);

    QString error;
    QVERIFY(!writeFaultWorkbook(path, &error));
    QVERIFY2(!error.trimmed().isEmpty(), "a failure needs a reason for the operator");
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), previous);
    QCOMPARE(strayFiles(mountPoint, {QStringLiteral("faults.xlsx")}), QStringList());
}

void TestExport::flow_data() {
    QTest::addColumn<QString>("typed");     // name typed into the save dialog; "" cancels
    QTest::addColumn<QString>("existing");  // file present before the export, "" for none
    QTest::addColumn<bool>("replace");      // answer to a replace question
    QTest::addColumn<QStringList>("boxes"); // patterns of "title|text|buttons", in order
    QTest::addColumn<QString>("written");   // workbook expected afterwards, "" for none

    const QString wait = QStringLiteral("tips\\|Exporting\\.\\.\\.,please wait\\|ok");
    const QString finish = QStringLiteral("tips\\|Export finish\\|ok");
    QTest::newRow("cancel ends silently")
        << QString() << QString() << true << QStringList() << QString();
    QTest::newRow("missing suffix added, export finishes")
        << "faults" << QString() << true << QStringList{wait, finish} << "faults.xlsx";
    QTest::newRow("existing file: dialog asks, export replaces it")
        << "faults.xlsx"
        << "faults.xlsx" << true
        << QStringList{QStringLiteral("Save\\|faults\\.xlsx already exists\\.\nDo you want to "
                                      "replace it\\?\\|Yes/No"),
                       wait, finish}
        << "faults.xlsx";
    QTest::newRow("other suffix: replacing the .xlsx file is asked and done")
        << "log.2025"
        << "log.2025.xlsx" << true
        << QStringList{QStringLiteral("tips\\|.*log\\.2025\\.xlsx already exists\\.\nDo you "
                                      "want to replace it\\?\\|Yes/No"),
                       wait, finish}
        << "log.2025.xlsx";
    QTest::newRow("other suffix: refusing to replace ends silently")
        << "log.2025"
        << "log.2025.xlsx" << false
        << QStringList{QStringLiteral("tips\\|.*log\\.2025\\.xlsx already exists\\.\nDo you "
                                      "want to replace it\\?\\|Yes/No")}
        << QString();
    QTest::newRow("unwritable folder: failure and its reason")
        << "/proc/vaduz-faults.xlsx" << QString() << true
        << QStringList{wait, QStringLiteral("tips\\|Export failed, /proc/vaduz-faults\\.xlsx was "
                                            "not written:\n.+\\|ok")}
        << QString();
}

void TestExport::flow() {
    QFETCH(QString, typed);
    QFETCH(QString, existing);
    QFETCH(bool, replace);
    QFETCH(QStringList, boxes);
    QFETCH(QString, written);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray previous("previous workbook");
    if (!existing.isEmpty()) {
        QFile f(dir.filePath(existing));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(previous);
    }
    putRecord(0, filled(-10));
    putRecord(1, filled(2));
    putRecord(2, filled(3));
    faultCount.store(2);

    QWidget window;
    window.resize(400, 300);
    window.show();

    const QString choose =
        typed.isEmpty() || QDir::isAbsolutePath(typed) ? typed : dir.filePath(typed);
    DialogAnswerer answerer(choose, replace);
    exportFaultLog(&window);

    QVERIFY(!answerer.seen.isEmpty());
    const DialogAnswerer::Seen &save = answerer.seen.first();
    QVERIFY(save.fileDialog);
    QCOMPARE(save.title, QStringLiteral("Save"));
    QCOMPARE(save.parent, &window);
    QCOMPARE(save.directory, QDir::current().absolutePath());
    QCOMPARE(save.filters, QStringList{QStringLiteral("*.xlsx")});

    QCOMPARE(answerer.seen.size(), boxes.size() + 1);
    for (int i = 0; i < boxes.size(); ++i) {
        const DialogAnswerer::Seen &s = answerer.seen.at(i + 1);
        const QString shown = s.title + QLatin1Char('|') + s.text + QLatin1Char('|') +
                              s.buttons.join(QLatin1Char('/'));
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(boxes.at(i)))
                     .match(shown)
                     .hasMatch(),
                 qPrintable(QStringLiteral("box %1 shows \"%2\"").arg(i).arg(shown)));
        if (s.title == QLatin1String("tips"))
            QCOMPARE(s.parent, &window);
    }

    if (written.isEmpty()) {
        QCOMPARE(strayFiles(dir.path(), existing.isEmpty() ? QStringList() : QStringList{existing}),
                 QStringList());
        if (!existing.isEmpty()) {
            QFile f(dir.filePath(existing));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), previous);
        }
        return;
    }
    QStringList present{written};
    if (!existing.isEmpty() && existing != written)
        present << existing;
    QCOMPARE(strayFiles(dir.path(), present), QStringList());
    const Workbook book = readBack(dir.filePath(written));
    QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
    Cells expected = headerCells();
    addRow(expected, 2, minusTenTexts());
    addRow(expected, 3, uniformTexts(2));
    QCOMPARE(book.cells, expected);
}

// The operator's way: the main window on the Fault page, Connect, a count of 3 and "Reading"
// against the simulated controller, then "Export" with the dialogs answered.
void TestExport::exportButtonAfterReadingButton() {
    const QVector<Words> records{filled(3), filled(-10), filled(5), filled(6)};
    PtySimulator sim;
    QVERIFY(sim.start());
    sim.setFrozen(true);
    sim.setAddress(1);
    for (int k = 0; k < records.size(); ++k) {
        for (int w = 0; w < kFaultRecordWords; ++w)
            sim.setReg(kFaultFirstBlock + k, w, static_cast<int16_t>(records[k][w]));
    }

    Widget window;
    Ui::Widget *ui = window.form();
    window.show();
    useSerialLine(sim.slavePath(), 115200);
    deviceAddr.store(1);

    ui->tabWidget->setCurrentWidget(ui->Fault_tabWidget);
    QTRY_COMPARE_WITH_TIMEOUT(pollMode.load(), 3, 5000);
    QTest::mouseClick(ui->com_open_close_btn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(window.worker()->stats().readsOk > 0, 10000);

    ui->needReadFaultCnt_text->setPlainText(QStringLiteral("3"));
    QTest::mouseClick(ui->ReadingFault_btn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(faultWalk.load() == 0 && faultIndex.load() == 4, 20000);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    {
        DialogAnswerer answerer(dir.filePath(QStringLiteral("walk")), true);
        QTest::mouseClick(ui->ExportFault_btn, Qt::LeftButton);
        QCOMPARE(answerer.seen.size(), 3);
        QVERIFY(answerer.seen.at(0).fileDialog);
        QCOMPARE(answerer.seen.at(0).title, QStringLiteral("Save"));
        QCOMPARE(answerer.seen.at(1).text, QStringLiteral("Exporting...,please wait"));
        QCOMPARE(answerer.seen.at(2).text, QStringLiteral("Export finish"));
        for (const DialogAnswerer::Seen &s : answerer.seen)
            QCOMPARE(s.parent, static_cast<QWidget *>(&window));
    }
    QTest::mouseClick(ui->com_open_close_btn, Qt::LeftButton);

    const Workbook book = readBack(dir.filePath(QStringLiteral("walk.xlsx")));
    QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
    Cells expected = headerCells();
    addRow(expected, 2, uniformTexts(3));
    addRow(expected, 3, minusTenTexts());
    addRow(expected, 4, uniformTexts(5));
    QCOMPARE(book.cells, expected);
}

QTEST_MAIN(TestExport)
#include "tst_export.moc"
