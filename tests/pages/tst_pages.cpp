// The page refresh driven through the real main form, offscreen: values go into the register
// mirror, one page pass runs, and the widget texts, cell items and colours are read back.

#include "pagerefresh.h"
#include "ui_widget.h"

#include "mirrorcells.h"
#include "registermirror.h"
#include "systick.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(Cells)

namespace {

constexpr int kHome = 0, kData = 1, kSettings = 2, kFault = 3, kPack = 4;

QImage iconImage(const QIcon &icon) {
    return icon.pixmap(QSize(80, 50)).toImage();
}

struct Window {
    QWidget widget;
    Ui::Widget ui;
    std::unique_ptr<PageRefresh> pages;
    Window() {
        ui.setupUi(&widget);
        pages = std::make_unique<PageRefresh>(&widget);
    }
    QString text(const QString &name) const {
        auto *w = widget.findChild<QPlainTextEdit *>(name);
        return w ? w->toPlainText() : QStringLiteral("<no widget %1>").arg(name);
    }
    void passOn(int tab) {
        ui.tabWidget->setCurrentIndex(tab);
        pages->pagePass();
    }
};

} // namespace

class tst_Pages : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void everyReadFieldIsPainted();
    void fields_data();
    void fields();
    void allZeroMirror_data();
    void allZeroMirror();
    void valueOutsideTableClearsField();
    void rackTable_data();
    void rackTable();
    void packTable_data();
    void packTable();
    void packTableShapeFromForm();
    void tableWriteModesShowTheSame();
    void faultBits_data();
    void faultBits();
    void faultBitClearsAgain();
    void progress_data();
    void progress();
    void progressUntouchedWhenNoCount();
    void tabSwitchAndGate();
    void returningToTabReappliesStyles();
    void hiddenPagesKeepTheirTexts();
    void hiddenSettingsPageIsRefreshed();
    void clockAndAddress();

private:
    std::unique_ptr<Window> m_win;
};

void tst_Pages::initTestCase() {
    m_win = std::make_unique<Window>();
}

void tst_Pages::init() {
    clearMirror();
    faultCount = 0;
    faultIndex = 0;
}

void tst_Pages::cleanupTestCase() {
    m_win.reset();
    clearMirror();
}

void tst_Pages::everyReadFieldIsPainted() {
    // Every field of the tables is on the form ...
    QCOMPARE(m_win->pages->missingWidgets(), QStringList());
    // ... and every read field of the form is written by a pass over its page.
    const QRegularExpression readField(QStringLiteral("^R_Addr\\d+Num\\d+(_backup)?_text$"));
    const auto fields = m_win->widget.findChildren<QPlainTextEdit *>(readField);
    for (QPlainTextEdit *w : fields)
        w->setPlainText(QStringLiteral("stale"));
    for (int tab : {kHome, kData, kSettings})
        m_win->passOn(tab);
    int seen = 0;
    for (QPlainTextEdit *w : fields) {
        ++seen;
        QVERIFY2(w->toPlainText() != QLatin1String("stale"), qPrintable(w->objectName()));
    }
    // 58 on Home, 14 on Data, 61 + 57 on the Settings pages.
    QCOMPARE(seen, 58 + 14 + 61 + 57);
}

void tst_Pages::fields_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("expected");

    auto row = [](const char *name, int tab, const Cells &cells, const char *widget,
                  const QString &expected) {
        QTest::newRow(name) << tab << cells << QString::fromLatin1(widget) << expected;
    };

    // ---- Home, block 2
    row("2:0 0xFFFF signed", kHome, {{200, 0xFFFF}}, "R_Addr2Num0_text", "-1");
    row("2:0 backup shows the same", kHome, {{200, 0xFFFF}}, "R_Addr2Num0_backup_text", "-1");
    row("2:3 signed", kHome, {{203, 0x8000}}, "R_Addr2Num3_text", "-32768");
    row("2:4 system state 5", kHome, {{204, 5}}, "R_Addr2Num4_text", "Discharging");
    row("2:4 system state 2", kHome, {{204, 2}}, "R_Addr2Num4_text", "ForbidCharge");
    row("2:4 system state 6 empty", kHome, {{204, 6}}, "R_Addr2Num4_text", "");
    row("2:5 charge state 2", kHome, {{205, 2}}, "R_Addr2Num5_text", "Discharging");
    row("2:5 charge state 4 empty", kHome, {{205, 4}}, "R_Addr2Num5_text", "");
    row("2:6 x0.1", kHome, {{206, 1234}}, "R_Addr2Num6_text", "123.4");
    row("2:9 x0.1 negative", kHome, {{209, 0xFFCE}}, "R_Addr2Num9_text", "-5.0");
    row("2:13 connect", kHome, {{213, 1}}, "R_Addr2Num13_text", "Connect");
    row("2:13 value 2 empty", kHome, {{213, 2}}, "R_Addr2Num13_text", "");
    row("2:14 0xFFFF signed", kHome, {{214, 0xFFFF}}, "R_Addr2Num14_text", "-1");
    row("2:15 0xFFFF unsigned", kHome, {{215, 0xFFFF}}, "R_Addr2Num15_text", "65535");
    row("2:17 0xFFFF unsigned", kHome, {{217, 0xFFFF}}, "R_Addr2Num17_text", "65535");
    row("2:18 0xFFFF signed", kHome, {{218, 0xFFFF}}, "R_Addr2Num18_text", "-1");
    row("2:29 signed", kHome, {{229, 0xFFFE}}, "R_Addr2Num29_text", "-2");
    row("2:30 composed voltage", kHome, {{230, 3}, {231, 12}, {232, 3215}}, "R_Addr2Num30_text",
        "3.215/3-12");
    row("2:33 composed signed", kHome, {{233, 0xFFFF}, {234, 2}, {235, 0xFFFF}},
        "R_Addr2Num33_text", "-0.001/-1-2");
    row("2:36 composed temp", kHome, {{236, 7}, {237, 25}}, "R_Addr2Num36_text", "25/7");
    row("2:38 composed negative", kHome, {{238, 0xFFF6}, {239, 5}}, "R_Addr2Num38_text", "5/-10");
    row("2:40 signed", kHome, {{240, 0xFFFF}}, "R_Addr2Num40_text", "-1");
    row("2:41 high cell first", kHome, {{241, 1}, {242, 0}}, "R_Addr2Num41_text", "6553.6");
    row("2:43 low cell", kHome, {{243, 0}, {244, 5}}, "R_Addr2Num43_text", "0.5");
    row("2:47 100000 x0.1", kHome, {{247, 1}, {248, 0x86A0}}, "R_Addr2Num47_text", "10000.0");
    row("2:49 unscaled max", kHome, {{249, 0xFFFF}, {250, 0xFFFF}}, "R_Addr2Num49_text",
        "4294967295");
    row("2:51 signed", kHome, {{251, 0xFFFF}}, "R_Addr2Num51_text", "-1");
    row("2:55 unsigned", kHome, {{255, 0xFFFF}}, "R_Addr2Num55_text", "65535");
    row("2:56 unsigned", kHome, {{256, 0xFFFF}}, "R_Addr2Num56_text", "65535");
    row("2:62 signed", kHome, {{262, 0xFFFF}}, "R_Addr2Num62_text", "-1");
    row("2:63 string 20 characters", kHome, textCells(263, "ABCDEFGHIJKLMNOPQRST"),
        "R_Addr2Num63_text", "ABCDEFGHIJKLMNOPQRST");
    row("2:73 string ends at NUL", kHome, textCells(273, "Kelv") + Cells{{275, 0x0041}},
        "R_Addr2Num73_text", "Kelv");
    row("2:83 first register 0", kHome, Cells{{283, 0}} + textCells(284, "late"),
        "R_Addr2Num83_text", "");
    row("2:83 odd length", kHome, textCells(283, "V1.2.3"), "R_Addr2Num83_text", "V1.2.3");
    row("2:93 date", kHome, {{293, 24}, {294, 5}, {295, 9}, {296, 8}, {297, 3}, {298, 0}},
        "R_Addr2Num93_text", "2024-5-9 8:3:0");
    row("2:93 date unsigned", kHome, {{293, 0xFFFF}, {298, 0xFFFF}}, "R_Addr2Num93_text",
        "67535-0-0 0:0:65535");
    row("2:99 signed", kHome, {{299, 0xFFE2}}, "R_Addr2Num99_text", "-30");

    // ---- Data summary, block 0
    row("0:0 system state 4", kData, {{0, 4}}, "R_Addr0Num0_text", "Charging");
    row("0:0 system state 6 empty", kData, {{0, 6}}, "R_Addr0Num0_text", "");
    row("0:1 connect only for 1", kData, {{1, 1}}, "R_Addr0Num1_text", "Connect");
    row("0:1 value 2 empty", kData, {{1, 2}}, "R_Addr0Num1_text", "");
    row("0:2 unsigned", kData, {{2, 0xFFFF}}, "R_Addr0Num2_text", "65535");
    row("0:3 unsigned x0.1", kData, {{3, 0xFFFF}}, "R_Addr0Num3_text", "6553.5");
    row("0:4 signed x0.1", kData, {{4, 0xFFCE}}, "R_Addr0Num4_text", "-5.0");
    row("0:6 unsigned", kData, {{6, 0x8000}}, "R_Addr0Num6_text", "32768");
    row("0:8 unsigned x0.1", kData, {{8, 1234}}, "R_Addr0Num8_text", "123.4");
    row("0:9 communication", kData, {{9, 1}}, "R_Addr0Num9_text", "Communication");
    row("0:9 not communication", kData, {{9, 0}}, "R_Addr0Num9_text", "Not Communication");
    row("0:9 value 2 empty", kData, {{9, 2}}, "R_Addr0Num9_text", "");
    row("0:10 composed", kData, {{10, 1}, {11, 2}, {12, 3}, {13, 3300}}, "R_Addr0Num10_text",
        "3.300/1-2-3");
    row("0:14 composed unsigned", kData, {{14, 0xFFFF}, {17, 0xFFFF}}, "R_Addr0Num14_text",
        "65.535/65535-0-0");
    row("0:18 composed", kData, {{18, 4}, {19, 5}, {20, 0xFFFD}}, "R_Addr0Num18_text", "-3/4-5");
    row("0:21 composed unsigned numbers", kData, {{21, 0xFFFF}, {22, 1}, {23, 2}},
        "R_Addr0Num21_text", "2/65535-1");

    // ---- Settings group A, B, C
    row("3:0 x0.001", kSettings, {{300, 3650}}, "R_Addr3Num0_text", "3.650");
    row("3:0 unsigned x0.001", kSettings, {{300, 0xFFFF}}, "R_Addr3Num0_text", "65.535");
    row("3:14 unsigned x0.001", kSettings, {{314, 1}}, "R_Addr3Num14_text", "0.001");
    row("3:15 signed", kSettings, {{315, 0xFFFF}}, "R_Addr3Num15_text", "-1");
    row("4:0 unsigned", kSettings, {{400, 0xFFFF}}, "R_Addr4Num0_text", "65535");
    row("4:1 unsigned x0.1", kSettings, {{401, 0xFFFF}}, "R_Addr4Num1_text", "6553.5");
    row("4:2 signed x0.1", kSettings, {{402, 0xFFFF}}, "R_Addr4Num2_text", "-0.1");
    row("4:6 unsigned x0.1", kSettings, {{406, 0xFFFF}}, "R_Addr4Num6_text", "6553.5");
    row("4:7 signed x0.1", kSettings, {{407, 0xFFFF}}, "R_Addr4Num7_text", "-0.1");
    row("4:8 unsigned x0.1", kSettings, {{408, 0xFFFF}}, "R_Addr4Num8_text", "6553.5");
    row("4:11 signed x0.1", kSettings, {{411, 0xFF9C}}, "R_Addr4Num11_text", "-10.0");
    row("4:12 signed", kSettings, {{412, 0xFFFF}}, "R_Addr4Num12_text", "-1");
    row("4:13 x0.01", kSettings, {{413, 1234}}, "R_Addr4Num13_text", "12.34");
    row("4:18 signed x0.1", kSettings, {{418, 0xFFFF}}, "R_Addr4Num18_text", "-0.1");
    row("5:0 signed", kSettings, {{500, 0xFFFF}}, "R_Addr5Num0_text", "-1");
    row("5:14 signed", kSettings, {{514, 300}}, "R_Addr5Num14_text", "300");
    // ---- device information, block 86
    row("86:0 wifi", kSettings, {{8600, 1}}, "R_Addr86Num0_text", "Wifi Connect");
    row("86:0 value 3 N/A", kSettings, {{8600, 3}}, "R_Addr86Num0_text", "N/A");
    row("86:1 string 22", kSettings, textCells(8601, "KLV-0000111122223333-X"), "R_Addr86Num1_text",
        "KLV-0000111122223333-X");
    row("86:12 unsigned", kSettings, {{8612, 0xFFFF}}, "R_Addr86Num12_text", "65535");
    row("86:13 string 4", kSettings, textCells(8613, "V2.1") + textCells(8615, "next"),
        "R_Addr86Num13_text", "V2.1");
    row("86:15 string 24 whole", kSettings, textCells(8615, "ABCDEFGHIJKLMNOPQRSTUVWX"),
        "R_Addr86Num15_text", "ABCDEFGHIJKLMNOPQRSTUVWX");
    row("86:15 string 21 ends in 86:25", kSettings,
        textCells(8615, "ABCDEFGHIJKLMNOPQRSTU") + Cells{{8626, 0x5A5A}}, "R_Addr86Num15_text",
        "ABCDEFGHIJKLMNOPQRSTU");
    row("86:27 string 20", kSettings, textCells(8627, "01234567890123456789"), "R_Addr86Num27_text",
        "01234567890123456789");
    row("86:37 string 6", kSettings, textCells(8637, "HW-1.0"), "R_Addr86Num37_text", "HW-1.0");
    row("86:40 string 10", kSettings, textCells(8640, "2024-05-09"), "R_Addr86Num40_text",
        "2024-05-09");
    // ---- alarm configuration, block 89
    row("89:0 low byte 0x00FF", kSettings, {{8900, 0x00FF}}, "R_Addr89Num0_text", "-1");
    row("89:1 low byte 0x0105", kSettings, {{8901, 0x0105}}, "R_Addr89Num1_text", "5");
    row("89:2 unsigned", kSettings, {{8902, 0xFFFF}}, "R_Addr89Num2_text", "65535");
    row("89:3 0xAA normal", kSettings, {{8903, 0xAA}}, "R_Addr89Num3_text", "Normal");
    row("89:3 0x55 warning", kSettings, {{8903, 0x55}}, "R_Addr89Num3_text", "Warning");
    row("89:3 0x1F hexadecimal", kSettings, {{8903, 0x1F}}, "R_Addr89Num3_text", "1f");
    row("89:4 0x55 warning", kSettings, {{8904, 0x55}}, "R_Addr89Num4_text", "Warning");
    row("89:5 level 3", kSettings, {{8905, 3}}, "R_Addr89Num5_text", "Level 3 Warning");
    row("89:5 value 7", kSettings, {{8905, 7}}, "R_Addr89Num5_text", "7");
    row("89:6 sensor fault", kSettings, {{8906, 2}}, "R_Addr89Num6_text", "Sensor Fault");
    row("89:6 value 4", kSettings, {{8906, 4}}, "R_Addr89Num6_text", "4");
    row("89:7 no such config", kSettings, {{8907, 2}}, "R_Addr89Num7_text", "No Such Config");
    row("89:11 value 3", kSettings, {{8911, 3}}, "R_Addr89Num11_text", "3");
    row("89:12 value 2", kSettings, {{8912, 2}}, "R_Addr89Num12_text", "2");
    row("89:13 abnormal", kSettings, {{8913, 1}}, "R_Addr89Num13_text", "Abnormal");
    // ---- cooling unit status, block 90
    row("90:0 signed x0.1", kSettings, {{9000, 0xFFFF}}, "R_Addr90Num0_text", "-0.1");
    row("90:1 unsigned x0.1", kSettings, {{9001, 0xFFFF}}, "R_Addr90Num1_text", "6553.5");
    row("90:2 fault", kSettings, {{9002, 1}}, "R_Addr90Num2_text", "Fault");
    row("90:3 value 2", kSettings, {{9003, 2}}, "R_Addr90Num3_text", "2");
    row("90:4 stop", kSettings, {{9004, 1}}, "R_Addr90Num4_text", "Stop");
    row("90:6 value 5", kSettings, {{9006, 5}}, "R_Addr90Num6_text", "5");
    row("90:8 unsigned x0.1", kSettings, {{9008, 255}}, "R_Addr90Num8_text", "25.5");
    row("90:9 automatic without blank", kSettings, {{9009, 1}}, "R_Addr90Num9_text", "Automatic");
    row("90:9 value 2", kSettings, {{9009, 2}}, "R_Addr90Num9_text", "2");
    // ---- thermal management, block 88
    row("88:0 automatic with blank", kSettings, {{8800, 1}}, "R_Addr88Num0_text", " Automatic");
    row("88:0 value 2 empty", kSettings, {{8800, 2}}, "R_Addr88Num0_text", "");
    row("88:1 cooling with blank", kSettings, {{8801, 1}}, "R_Addr88Num1_text", " Cooling");
    row("88:1 heating with blank", kSettings, {{8801, 2}}, "R_Addr88Num1_text", " Heating");
    row("88:1 automatic without blank", kSettings, {{8801, 4}}, "R_Addr88Num1_text", "Automatic");
    row("88:1 value 5 empty", kSettings, {{8801, 5}}, "R_Addr88Num1_text", "");
    row("88:2 return water", kSettings, {{8802, 1}}, "R_Addr88Num2_text", "Return Water");
    row("88:2 value 2", kSettings, {{8802, 2}}, "R_Addr88Num2_text", "2");
    row("88:6 signed", kSettings, {{8806, 0xFFFF}}, "R_Addr88Num6_text", "-1");
    row("88:10 signed", kSettings, {{8810, 0xFFFF}}, "R_Addr88Num10_text", "-1");
    row("88:12 unsigned x0.1", kSettings, {{8812, 0xFFFF}}, "R_Addr88Num12_text", "6553.5");
    row("88:15 unsigned", kSettings, {{8815, 0xFFFF}}, "R_Addr88Num15_text", "65535");
    row("88:16 19200", kSettings, {{8816, 2}}, "R_Addr88Num16_text", "19200");
    row("88:16 value 3 empty", kSettings, {{8816, 3}}, "R_Addr88Num16_text", "");
    row("88:17 0x0102", kSettings, {{8817, 0x0102}}, "R_Addr88Num17_text", "Cooling|Work");
    row("88:17 zero", kSettings, {{8817, 0}}, "R_Addr88Num17_text", "Standby|Standby");
    row("88:17 0x0705", kSettings, {{8817, 0x0705}}, "R_Addr88Num17_text", "7|5");
    row("88:17 0x0304", kSettings, {{8817, 0x0304}}, "R_Addr88Num17_text",
        "Self-Circulation|Fault");
    row("88:17 0xFFFF", kSettings, {{8817, 0xFFFF}}, "R_Addr88Num17_text", "255|255");
    row("88:22 signed x0.1", kSettings, {{8822, 0xFFFF}}, "R_Addr88Num22_text", "-0.1");
    row("88:24 signed x0.1", kSettings, {{8824, 0xFFFF}}, "R_Addr88Num24_text", "-0.1");
    row("88:29 unsigned", kSettings, {{8829, 0xFFFF}}, "R_Addr88Num29_text", "65535");
    row("88:31 unsigned x0.1", kSettings, {{8831, 0xFFFF}}, "R_Addr88Num31_text", "6553.5");
    row("88:33 hexadecimal", kSettings, {{8833, 0x1A2B}}, "R_Addr88Num33_text", "1a2b");
    row("88:37 hexadecimal", kSettings, {{8837, 0xFFFF}}, "R_Addr88Num37_text", "ffff");
    row("88:40 unsigned", kSettings, {{8840, 0xFFFF}}, "R_Addr88Num40_text", "65535");
    row("88:41 unsigned x0.1", kSettings, {{8841, 0xFFFF}}, "R_Addr88Num41_text", "6553.5");
    // ---- miscellaneous, block 91
    row("91:0 unsigned", kSettings, {{9100, 0xFFFF}}, "R_Addr91Num0_text", "65535");
    row("91:2 unsigned", kSettings, {{9102, 3300}}, "R_Addr91Num2_text", "3300");
}

void tst_Pages::fields() {
    QFETCH(int, tab);
    QFETCH(Cells, cells);
    QFETCH(QString, widget);
    QFETCH(QString, expected);

    // A different text first, so a pass that leaves the widget alone is caught.
    auto *w = m_win->widget.findChild<QPlainTextEdit *>(widget);
    QVERIFY2(w, qPrintable(widget));
    w->setPlainText(QStringLiteral("stale"));
    loadMirror(cells);
    m_win->passOn(tab);
    QCOMPARE(w->toPlainText(), expected);
}

void tst_Pages::allZeroMirror_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("expected");

    auto row = [](int tab, const char *widget, const char *expected) {
        QTest::newRow(widget) << tab << QString::fromLatin1(widget)
                              << QString::fromLatin1(expected);
    };
    row(kHome, "R_Addr2Num0_text", "0");
    row(kHome, "R_Addr2Num0_backup_text", "0");
    row(kHome, "R_Addr2Num4_text", "Wait");
    row(kHome, "R_Addr2Num5_text", "Wait");
    row(kHome, "R_Addr2Num6_text", "0.0");
    row(kHome, "R_Addr2Num13_text", "Disconnect");
    row(kHome, "R_Addr2Num30_text", "0.000/0-0");
    row(kHome, "R_Addr2Num36_text", "0/0");
    row(kHome, "R_Addr2Num41_text", "0.0");
    row(kHome, "R_Addr2Num49_text", "0");
    row(kHome, "R_Addr2Num63_text", "");
    row(kHome, "R_Addr2Num93_text", "2000-0-0 0:0:0");
    row(kData, "R_Addr0Num0_text", "Wait");
    row(kData, "R_Addr0Num1_text", "Disconnect");
    row(kData, "R_Addr0Num9_text", "Not Communication");
    row(kData, "R_Addr0Num10_text", "0.000/0-0-0");
    row(kData, "R_Addr0Num18_text", "0/0-0");
    row(kSettings, "R_Addr3Num0_text", "0.000");
    row(kSettings, "R_Addr4Num13_text", "0.00");
    row(kSettings, "R_Addr86Num0_text", "4G Connect");
    row(kSettings, "R_Addr86Num1_text", "");
    row(kSettings, "R_Addr89Num0_text", "0");
    row(kSettings, "R_Addr89Num3_text", "0");
    row(kSettings, "R_Addr89Num5_text", "Normal");
    row(kSettings, "R_Addr90Num4_text", "Start");
    row(kSettings, "R_Addr90Num9_text", "Manual");
    row(kSettings, "R_Addr88Num0_text", "Manual");
    row(kSettings, "R_Addr88Num1_text", "Standby");
    row(kSettings, "R_Addr88Num2_text", "Supply Water");
    row(kSettings, "R_Addr88Num16_text", "9600");
    row(kSettings, "R_Addr88Num17_text", "Standby|Standby");
    row(kSettings, "R_Addr88Num33_text", "0");
}

void tst_Pages::allZeroMirror() {
    QFETCH(int, tab);
    QFETCH(QString, widget);
    QFETCH(QString, expected);
    auto *w = m_win->widget.findChild<QPlainTextEdit *>(widget);
    QVERIFY2(w, qPrintable(widget));
    w->setPlainText(QStringLiteral("stale"));
    m_win->passOn(tab);
    QCOMPARE(w->toPlainText(), expected);

    if (tab == kData) {
        const QStringList rack{"0", "0.0", "0.0", "0.000", "0.000", "0", "0", "Wait", "Disconnect"};
        for (int c = 0; c < rack.size(); ++c)
            QCOMPARE(m_win->ui.Rack_tableWidget->item(14, c)->text(), rack[c]);
    }
}

void tst_Pages::valueOutsideTableClearsField() {
    loadMirror({{204, 1}});
    m_win->passOn(kHome);
    QCOMPARE(m_win->text("R_Addr2Num4_text"), QStringLiteral("Fault"));
    setMirrorCell(204, 6);
    m_win->passOn(kHome);
    QCOMPARE(m_win->text("R_Addr2Num4_text"), QString());
}

void tst_Pages::rackTable_data() {
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");

    QTest::newRow("rack 1 SOC is 0:24") << Cells{{24, 97}} << 0 << 0 << "97";
    QTest::newRow("rack 1 voltage unsigned x0.1") << Cells{{25, 0xFFFF}} << 0 << 1 << "6553.5";
    QTest::newRow("rack 1 current signed x0.1") << Cells{{26, 0xFFCE}} << 0 << 2 << "-5.0";
    QTest::newRow("rack 1 max voltage 0xFFFF unsigned")
        << Cells{{27, 0xFFFF}} << 0 << 3 << "65.535";
    QTest::newRow("rack 1 min voltage x0.001") << Cells{{28, 3215}} << 0 << 4 << "3.215";
    QTest::newRow("rack 1 max temp signed") << Cells{{29, 0xFFFF}} << 0 << 5 << "-1";
    QTest::newRow("rack 1 system state 3") << Cells{{31, 3}} << 0 << 7 << "ForbidDischarge";
    QTest::newRow("rack 1 system state 6 empty") << Cells{{31, 6}} << 0 << 7 << "";
    QTest::newRow("rack 1 relay 0") << Cells{{32, 0}} << 0 << 8 << "Disconnect";
    QTest::newRow("rack 1 relay 1") << Cells{{32, 1}} << 0 << 8 << "Connect";
    QTest::newRow("rack 1 relay 2") << Cells{{32, 2}} << 0 << 8 << "Connect";
    QTest::newRow("rack 1 relay 0xFFFF") << Cells{{32, 0xFFFF}} << 0 << 8 << "Connect";
    QTest::newRow("rack 8 SOC is 0:87") << Cells{{87, 55}, {100, 66}} << 7 << 0 << "55";
    QTest::newRow("rack 8 relay is 0:95") << Cells{{95, 1}, {108, 0}} << 7 << 8 << "Connect";
    QTest::newRow("rack 9 SOC is 1:0") << Cells{{87, 55}, {100, 66}} << 8 << 0 << "66";
    QTest::newRow("rack 9 relay is 1:8") << Cells{{95, 0}, {108, 3}} << 8 << 8 << "Connect";
    QTest::newRow("rack 9 ignores 0:96") << Cells{{96, 9}, {100, 0}} << 8 << 0 << "0";
    QTest::newRow("rack 15 SOC is 1:54") << Cells{{154, 100}} << 14 << 0 << "100";
    QTest::newRow("rack 15 min temp is 1:60") << Cells{{160, 0xFFF6}} << 14 << 6 << "-10";
    QTest::newRow("rack 15 relay is 1:62") << Cells{{162, 1}, {163, 0}} << 14 << 8 << "Connect";
}

void tst_Pages::rackTable() {
    QFETCH(Cells, cells);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, expected);
    loadMirror(cells);
    m_win->passOn(kData);
    QTableWidgetItem *item = m_win->ui.Rack_tableWidget->item(row, column);
    QVERIFY(item);
    QCOMPARE(item->text(), expected);
    QCOMPARE(item->data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
}

void tst_Pages::packTable_data() {
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");

    QTest::newRow("pack 1 total voltage x0.1") << Cells{{700, 5321}} << 0 << 0 << "532.1";
    QTest::newRow("pack 1 total voltage signed") << Cells{{700, 0xFFFF}} << 0 << 0 << "-0.1";
    QTest::newRow("pack 1 max voltage signed x0.001") << Cells{{701, 0xFFFF}} << 0 << 1 << "-0.001";
    QTest::newRow("pack 1 min voltage num signed") << Cells{{703, 0xFFFF}} << 0 << 3 << "-1";
    QTest::newRow("pack 1 min temp num") << Cells{{708, 17}} << 0 << 8 << "17";
    QTest::newRow("pack 1 cell 1 0xFFFF") << Cells{{709, 0xFFFF}} << 0 << 9 << "-0.001";
    QTest::newRow("pack 1 cell 52") << Cells{{760, 3300}} << 0 << 60 << "3.300";
    QTest::newRow("pack 1 temp 1 signed") << Cells{{761, 0xFFFF}} << 0 << 61 << "-1";
    QTest::newRow("pack 1 valve temp 4") << Cells{{786, 0xFFF1}} << 0 << 86 << "-15";
    QTest::newRow("pack 1 balance state 1 hex") << Cells{{787, 0xFFFF}} << 0 << 87 << "ffff";
    QTest::newRow("pack 1 BMU fault 0x00A0") << Cells{{791, 0xA0}} << 0 << 91 << "a0";
    QTest::newRow("pack 1 BMU fault 0") << Cells{{791, 0}} << 0 << 91 << "0";
    QTest::newRow("pack 2 is block 8") << Cells{{800, 10}, {700, 20}} << 1 << 0 << "1.0";
    QTest::newRow("pack 15 is block 21") << Cells{{2100, 1234}} << 14 << 0 << "123.4";
    QTest::newRow("pack 15 BMU fault") << Cells{{2191, 0x1F}} << 14 << 91 << "1f";
}

void tst_Pages::packTable() {
    QFETCH(Cells, cells);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, expected);
    loadMirror(cells);
    m_win->passOn(kPack);
    QTableWidgetItem *item = m_win->ui.PACK_tableWidget->item(row, column);
    QVERIFY(item);
    QCOMPARE(item->text(), expected);
    QCOMPARE(item->data(Qt::TextAlignmentRole).toInt(), int(Qt::AlignCenter));
}

void tst_Pages::packTableShapeFromForm() {
    loadMirror({{749, 1}, {791, 0xA0}});
    {
        Window win;
        QTableWidget *t = win.ui.PACK_tableWidget;
        t->setColumnCount(50);
        t->setRowCount(10);
        win.passOn(kPack);
        QCOMPARE(t->rowCount(), 15);
        QCOMPARE(t->columnCount(), 50);
        QCOMPARE(t->item(0, 49)->text(), QStringLiteral("0.001"));
        QCOMPARE(t->item(14, 0)->text(), QStringLiteral("0.0"));
    }
    {
        Window win;
        QTableWidget *t = win.ui.PACK_tableWidget;
        t->setColumnCount(95);
        t->setRowCount(17);
        win.passOn(kPack);
        QCOMPARE(t->rowCount(), 17);
        QCOMPARE(t->item(0, 91)->text(), QStringLiteral("a0"));
        for (int c = 92; c < 95; ++c)
            QVERIFY(!t->item(0, c));
        QVERIFY(!t->item(15, 0));
    }
}

void tst_Pages::tableWriteModesShowTheSame() {
    Cells cells;
    for (int i = 0; i < 22 * kBlockSize; ++i)
        cells.append({i, (i * 7919) & 0xFFFF});
    loadMirror(cells);
    Window replace, update;
    replace.pages->setTableWrite(PageRefresh::TableWrite::ReplaceItems);
    update.pages->setTableWrite(PageRefresh::TableWrite::UpdateItems);
    for (int round = 0; round < 2; ++round) {
        for (int tab : {kData, kPack}) {
            replace.passOn(tab);
            update.passOn(tab);
        }
        for (QTableWidget *t : {replace.ui.Rack_tableWidget, replace.ui.PACK_tableWidget}) {
            QTableWidget *u = t == replace.ui.Rack_tableWidget ? update.ui.Rack_tableWidget
                                                               : update.ui.PACK_tableWidget;
            for (int r = 0; r < t->rowCount(); ++r) {
                for (int c = 0; c < t->columnCount(); ++c) {
                    QCOMPARE(u->item(r, c)->text(), t->item(r, c)->text());
                    QCOMPARE(u->item(r, c)->data(Qt::TextAlignmentRole),
                             t->item(r, c)->data(Qt::TextAlignmentRole));
                }
            }
        }
        // Second round: other values over the items of the first.
        for (auto &c : cells)
            c.second ^= 0x5A5A;
        loadMirror(cells);
    }
}

void tst_Pages::faultBits_data() {
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<QVector<int>>("coloured"); // row * 8 + column

    QTest::newRow("none") << Cells{} << QVector<int>{};
    QTest::newRow("6:0 0x0101 row 0 and 1 column 0") << Cells{{600, 0x0101}} << QVector<int>{0, 8};
    QTest::newRow("6:3 0x8000 row 7 column 7") << Cells{{603, 0x8000}} << QVector<int>{63};
    QTest::newRow("6:1 0x0080 row 2 column 7") << Cells{{601, 0x0080}} << QVector<int>{23};
    QTest::newRow("6:2 0x0100 row 5 column 0") << Cells{{602, 0x0100}} << QVector<int>{40};
    QVector<int> all;
    for (int i = 0; i < 64; ++i)
        all << i;
    QTest::newRow("all bits") << Cells{{600, 0xFFFF}, {601, 0xFFFF}, {602, 0xFFFF}, {603, 0xFFFF}}
                              << all;
}

void tst_Pages::faultBits() {
    QFETCH(Cells, cells);
    QFETCH(QVector<int>, coloured);
    loadMirror(cells);
    m_win->passOn(kFault);
    QTableWidget *t = m_win->ui.Fault_tableWidget;
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            const QVariant bg = t->item(r, c)->data(Qt::BackgroundRole);
            QVERIFY2(bg.canConvert<QBrush>(), "every cell is written");
            const QBrush brush = bg.value<QBrush>();
            QCOMPARE(brush.style(), Qt::SolidPattern);
            const QColor expected =
                coloured.contains(r * 8 + c) ? QColor(104, 16, 21, 255) : QColor(Qt::transparent);
            QVERIFY2(brush.color() == expected, qPrintable(QString("cell %1,%2").arg(r).arg(c)));
        }
    }
    // The legend texts stay.
    QCOMPARE(t->item(0, 0)->text(), QStringLiteral("TEMP_High"));
}

void tst_Pages::faultBitClearsAgain() {
    loadMirror({{602, 0x0004}});
    m_win->passOn(kFault);
    QTableWidgetItem *item = m_win->ui.Fault_tableWidget->item(4, 2);
    QCOMPARE(item->data(Qt::BackgroundRole).value<QBrush>().color(), QColor(104, 16, 21));
    setMirrorCell(602, 0);
    m_win->passOn(kFault);
    QCOMPARE(item->data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::transparent));
}

void tst_Pages::progress_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("format");

    QTest::newRow("none read") << 3 << 0 << 0 << "0.0%";
    QTest::newRow("one of three") << 3 << 1 << 33 << "33.3%";
    QTest::newRow("two of three") << 3 << 2 << 66 << "66.7%";
    QTest::newRow("three of three") << 3 << 3 << 100 << "100.0%";
    QTest::newRow("walk end one past") << 3 << 4 << 100 << "100.0%";
    QTest::newRow("index far past") << 1 << 255 << 100 << "100.0%";
    QTest::newRow("63 records, 62 read") << 63 << 62 << 98 << "98.4%";
}

void tst_Pages::progress() {
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(QString, format);
    faultCount = static_cast<uint8_t>(count);
    faultIndex = static_cast<uint8_t>(index);
    QProgressBar *bar = m_win->ui.Fault_progressBar;
    bar->setValue(50);
    // The progress follows on every page.
    for (int tab : {kHome, kFault, kPack}) {
        bar->setFormat(QStringLiteral("stale"));
        m_win->passOn(tab);
        QCOMPARE(bar->value(), value);
        QCOMPARE(bar->format(), format);
    }
}

void tst_Pages::progressUntouchedWhenNoCount() {
    faultCount = 0;
    faultIndex = 5;
    QProgressBar *bar = m_win->ui.Fault_progressBar;
    bar->setValue(42);
    bar->setFormat(QStringLiteral("kept"));
    for (int tab = 0; tab < 5; ++tab) {
        m_win->passOn(tab);
        QCOMPARE(bar->value(), 42);
        QCOMPARE(bar->format(), QStringLiteral("kept"));
    }
}

void tst_Pages::tabSwitchAndGate() {
    tick = 0;
    Window win; // gate at 0, last tab -1
    QTabWidget *tabs = win.ui.tabWidget;
    const QIcon homeShown(":/images/HOME.png"), homeDeep(":/images/HOME_Deep.png");
    const QIcon faultShown(":/images/Fault.png"), faultDeep(":/images/Fault_Deep.png");
    QVERIFY(iconImage(homeShown) != iconImage(homeDeep));

    pollMode = 4;
    loadMirror({{201, 11}});
    win.pages->slotRefeshParaTimer();
    QCOMPARE(pollMode.load(), 0);
    QCOMPARE(iconImage(tabs->tabIcon(0)), iconImage(homeShown));
    QCOMPARE(iconImage(tabs->tabIcon(3)), iconImage(faultDeep));
    QCOMPARE(win.ui.timeTips_label->text(), QString()); // tick 0: no page pass yet
    QCOMPARE(win.text("R_Addr2Num1_text"), QString());

    // Switching to the Fault tab changes icons, styles and the poll mode at once ...
    tabs->setCurrentIndex(kFault);
    tick = 999;
    win.pages->slotRefeshParaTimer();
    QCOMPARE(pollMode.load(), 3);
    QCOMPARE(iconImage(tabs->tabIcon(0)), iconImage(homeDeep));
    QCOMPARE(iconImage(tabs->tabIcon(3)), iconImage(faultShown));
    QCOMPARE(win.ui.Fault_tableWidget->styleSheet(),
             QStringLiteral("background-color:transparent;border:none;color: white;"));
    QCOMPARE(win.ui.Fault_tableWidget->horizontalHeader()->styleSheet(),
             QStringLiteral("QHeaderView::section{background-color:transparent;color: white;}"));
    QCOMPARE(win.ui.Fault_tableWidget->verticalHeader()->styleSheet(),
             QStringLiteral("QHeaderView::section{background-color:transparent;color: white;}"));
    QCOMPARE(win.ui.FaultTableBackLabel->styleSheet(),
             QStringLiteral("background-image: url(:/images/corner_FaultBackGround.png);"));
    QCOMPARE(win.ui.timeTips_label->text(), QString()); // ... but paints nothing before 1000

    // ... and the page at the first pass, once the tick reaches the refresh period.
    loadMirror({{600, 1}});
    tick = 1000;
    win.pages->slotRefeshParaTimer();
    QVERIFY(!win.ui.timeTips_label->text().isEmpty());
    QTableWidgetItem *bit0 = win.ui.Fault_tableWidget->item(0, 0);
    QCOMPARE(bit0->data(Qt::BackgroundRole).value<QBrush>().color(), QColor(104, 16, 21));

    // The next pass is measured from this one.
    setMirrorCell(600, 0);
    tick = 1999;
    win.pages->slotRefeshParaTimer();
    QCOMPARE(bit0->data(Qt::BackgroundRole).value<QBrush>().color(), QColor(104, 16, 21));
    tick = 2000;
    win.pages->slotRefeshParaTimer();
    QCOMPARE(bit0->data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::transparent));

    // A longer refresh period spaces the passes further.
    refreshPeriod = 5000;
    setMirrorCell(600, 1);
    tick = 6999;
    win.pages->slotRefeshParaTimer();
    QCOMPARE(bit0->data(Qt::BackgroundRole).value<QBrush>().color(), QColor(Qt::transparent));
    tick = 7000;
    win.pages->slotRefeshParaTimer();
    QCOMPARE(bit0->data(Qt::BackgroundRole).value<QBrush>().color(), QColor(104, 16, 21));
    refreshPeriod = 1000;
    tick = 0;
}

void tst_Pages::returningToTabReappliesStyles() {
    Window win;
    QTabWidget *tabs = win.ui.tabWidget;
    tabs->setCurrentIndex(kData);
    win.pages->slotRefeshParaTimer();
    const QString style = QStringLiteral("background-color:transparent;border:none;color: white;");
    QCOMPARE(win.ui.Rack_tableWidget->styleSheet(), style);
    QCOMPARE(win.ui.RackTableBackLabel->styleSheet(),
             QStringLiteral("background-image: url(:/images/cornerBackGround.png);"));
    QCOMPARE(iconImage(tabs->tabIcon(1)), iconImage(QIcon(":/images/Data.png")));

    win.ui.Rack_tableWidget->setStyleSheet(QString());
    win.pages->slotRefeshParaTimer(); // same tab: nothing re-applied
    QCOMPARE(win.ui.Rack_tableWidget->styleSheet(), QString());

    tabs->setCurrentIndex(kPack);
    win.pages->slotRefeshParaTimer();
    QCOMPARE(pollMode.load(), 4);
    QCOMPARE(win.ui.PACK_tableWidget->styleSheet(), style);
    QCOMPARE(win.ui.PackTableBackLabel->styleSheet(),
             QStringLiteral("background-image: url(:/images/corner_PackBackGround.png);"));
    QCOMPARE(iconImage(tabs->tabIcon(1)), iconImage(QIcon(":/images/Data_Deep.png")));
    QCOMPARE(iconImage(tabs->tabIcon(4)), iconImage(QIcon(":/images/PACk.png")));

    tabs->setCurrentIndex(kData);
    win.pages->slotRefeshParaTimer();
    QCOMPARE(win.ui.Rack_tableWidget->styleSheet(), style);
    QCOMPARE(iconImage(tabs->tabIcon(4)), iconImage(QIcon(":/images/PACK_Deep.png")));
}

void tst_Pages::hiddenPagesKeepTheirTexts() {
    loadMirror({{201, 5}, {2, 7}});
    m_win->passOn(kHome);
    QCOMPARE(m_win->text("R_Addr2Num1_text"), QStringLiteral("5"));
    setMirrorCell(201, 6);
    m_win->passOn(kData);
    QCOMPARE(m_win->text("R_Addr2Num1_text"), QStringLiteral("5"));
    QCOMPARE(m_win->text("R_Addr0Num2_text"), QStringLiteral("7"));
    m_win->passOn(kHome);
    QCOMPARE(m_win->text("R_Addr2Num1_text"), QStringLiteral("6"));
}

void tst_Pages::hiddenSettingsPageIsRefreshed() {
    loadMirror({{8800, 1}, {300, 1}});
    m_win->ui.stackedWidget->setCurrentIndex(0);
    m_win->passOn(kSettings);
    QCOMPARE(m_win->text("R_Addr88Num0_text"), QStringLiteral(" Automatic"));
    m_win->ui.stackedWidget->setCurrentIndex(1);
    setMirrorCell(300, 2);
    m_win->passOn(kSettings);
    QCOMPARE(m_win->text("R_Addr3Num0_text"), QStringLiteral("0.002"));
    m_win->ui.stackedWidget->setCurrentIndex(0);
}

void tst_Pages::clockAndAddress() {
    deviceAddr = 247;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    m_win->passOn(kPack);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    const QString clock = m_win->ui.timeTips_label->text();
    QVERIFY2(
        QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$").match(clock).hasMatch(),
        qPrintable(clock));
    const QDateTime shown = QDateTime::fromString(clock, "yyyy-MM-dd hh:mm:ss");
    QVERIFY(shown >= before.addMSecs(-before.time().msec()) && shown <= after);
    QCOMPARE(m_win->ui.devaddrText_label->text(), QStringLiteral("247"));
    deviceAddr = 0;
    m_win->passOn(kPack);
    QCOMPARE(m_win->ui.devaddrText_label->text(), QStringLiteral("0"));
}

QTEST_MAIN(tst_Pages)
#include "tst_pages.moc"
