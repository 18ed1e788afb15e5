// The main form as an operator and the code that drives it rely on it: every bound field on
// its page under its name, parameter rows complete, nothing overlapping, the tables and their
// header texts, the embedded artwork. Expected values are written out by hand from the layout
// the controller's register blocks need, not taken from the field map.

#include "artworkpage.h"
#include "fieldmap.h"
#include "ui_widget.h"

#include <QAbstractItemView>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include <memory>

namespace {

const QRegularExpression kReadName(QStringLiteral("^R_Addr(\\d+)Num(\\d+)_text$"));
const QRegularExpression kEditName(QStringLiteral("^W_Addr(\\d+)_text$"));
const QRegularExpression kButtonName(QStringLiteral("^W_Addr(\\d+)_btn$"));
const QString kBackup = QStringLiteral("R_Addr2Num0_backup_text");

bool isReadName(const QString &n) {
    return kReadName.match(n).hasMatch() || n == kBackup;
}

// Bound widgets directly on a page (the page's own children, as the one-click walk sees them).
QList<QWidget *> boundOn(QWidget *page) {
    QList<QWidget *> out;
    for (QWidget *w : page->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
        const QString n = w->objectName();
        if (isReadName(n) || kEditName.match(n).hasMatch() || kButtonName.match(n).hasMatch())
            out.append(w);
    }
    return out;
}

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void windowFrame();
    void fieldCountsPerPage_data();
    void fieldCountsPerPage();
    void everyWriteButtonHasItsFieldInRow();
    void parameterReadFieldStandsLeftInRow_data();
    void parameterReadFieldStandsLeftInRow();
    void everyParameterHasAReadFieldOnItsLeft();
    void mirrorCellsShownOnce();
    void namesParseToTheMapBinding();
    void fieldsDoNotOverlap_data();
    void fieldsDoNotOverlap();
    void creationOrderFollowsTheForm();
    void fieldStyles();
    void tableShapesAndHeaders();
    void faultLegend_data();
    void faultLegend();
    void footerAndFaultControls();
    void stackingOrder();
    void retranslateEmptiesTheLiveFields();
    void artworkIsEmbedded_data();
    void artworkIsEmbedded();
    void artworkPaintsAsAStyleSheetBackground_data();
    void artworkPaintsAsAStyleSheetBackground();
    void onlyTheShownPageHoldsItsArtwork();
    void noFocusFrameOnUnselectedCells_data();
    void noFocusFrameOnUnselectedCells();
    void keyboard_data();
    void keyboard();

private:
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<Ui::Widget> m_ui;
};

void TestMainForm::initTestCase() {
    m_window = std::make_unique<QWidget>();
    m_ui = std::make_unique<Ui::Widget>();
    m_ui->setupUi(m_window.get());
}

void TestMainForm::cleanupTestCase() {
    m_ui.reset();
    m_window.reset();
}

void TestMainForm::windowFrame() {
    QCOMPARE(m_window->objectName(), QStringLiteral("Widget"));
    QCOMPARE(m_window->size(), QSize(1400, 900));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Kelvane_VaduzV1.2"));
    QCOMPARE(m_ui->tabWidget->count(), 5);
    QCOMPARE(m_ui->tabWidget->currentIndex(), 0);
    QCOMPARE(m_ui->stackedWidget->count(), 2);
    QCOMPARE(m_ui->stackedWidget->currentIndex(), 0);
    QCOMPARE(m_ui->tabWidget->layoutDirection(), Qt::RightToLeft);
    QCOMPARE(m_ui->tabWidget->geometry(), QRect(-5, 15, 1408, 857));
    const char *pages[] = {"Host_tabWidget", "Data_tabWidget", "Setting_tabWidget",
                           "Fault_tabWidget", "Pack_tabWidget"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(m_ui->tabWidget->widget(i)->objectName(), QString::fromLatin1(pages[i]));
        QVERIFY(m_ui->tabWidget->tabText(i).isEmpty());
    }
    QCOMPARE(m_ui->stackedWidget->widget(0), m_ui->set_page);
    QCOMPARE(m_ui->stackedWidget->widget(1), m_ui->set_page_2);
    const char *artwork[] = {"homeBackGround.jpg", "DataBackGround.jpg", nullptr,
                             "FaultBackGround.jpg", "PackBackGround.jpg"};
    for (int i = 0; i < 5; ++i) {
        auto *page = qobject_cast<ArtworkPage *>(m_ui->tabWidget->widget(i));
        QCOMPARE(page ? page->imagePath() : QString(),
                 artwork[i] ? QStringLiteral(":/images/%1").arg(QLatin1String(artwork[i]))
                            : QString());
    }
    QCOMPARE(m_ui->Data_tabWidget->layoutDirection(), Qt::LeftToRight);
}

void TestMainForm::fieldCountsPerPage_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("reads");
    QTest::addColumn<int>("edits");
    QTest::addColumn<int>("buttons");
    QTest::newRow("Home: 58 read fields, 26 parameters") << "Host_tabWidget" << 58 << 26 << 26;
    QTest::newRow("Data: 14 read fields of block 0") << "Data_tabWidget" << 14 << 0 << 0;
    QTest::newRow("set_page: 61 read fields, 58 parameters") << "set_page" << 61 << 58 << 58;
    QTest::newRow("set_page_2: 57 read fields, 15 parameters") << "set_page_2" << 57 << 15 << 15;
    QTest::newRow("Fault: 3 command buttons") << "Fault_tabWidget" << 0 << 0 << 3;
    QTest::newRow("Pack: table only") << "Pack_tabWidget" << 0 << 0 << 0;
}

void TestMainForm::fieldCountsPerPage() {
    QFETCH(QString, page);
    QFETCH(int, reads);
    QFETCH(int, edits);
    QFETCH(int, buttons);
    QWidget *p = m_window->findChild<QWidget *>(page);
    QVERIFY(p);
    int r = 0, e = 0, b = 0;
    for (QWidget *w : boundOn(p)) {
        const QString n = w->objectName();
        if (isReadName(n)) {
            QVERIFY2(qobject_cast<QPlainTextEdit *>(w), qPrintable(n));
            ++r;
        } else if (kEditName.match(n).hasMatch()) {
            QVERIFY2(qobject_cast<QPlainTextEdit *>(w), qPrintable(n));
            ++e;
        } else {
            QVERIFY2(qobject_cast<QPushButton *>(w), qPrintable(n));
            ++b;
        }
    }
    QCOMPARE(r, reads);
    QCOMPARE(e, edits);
    QCOMPARE(b, buttons);
}

void TestMainForm::everyWriteButtonHasItsFieldInRow() {
    const auto buttons = m_window->findChildren<QPushButton *>(kButtonName);
    QCOMPARE(buttons.size(), 26 + 58 + 15 + 3);
    QSet<int> seen;
    for (QPushButton *b : buttons) {
        const int n = kButtonName.match(b->objectName()).captured(1).toInt();
        QVERIFY2(!seen.contains(n), qPrintable(b->objectName()));
        seen.insert(n);
        auto *t = m_window->findChild<QPlainTextEdit *>(QStringLiteral("W_Addr%1_text").arg(n));
        if (n >= 81 && n <= 83) {
            QVERIFY2(!t, "command buttons have no edit field");
            QCOMPARE(b->parentWidget(), m_ui->Fault_tabWidget);
            continue;
        }
        QVERIFY2(t, qPrintable(b->objectName()));
        QCOMPARE(t->parentWidget(), b->parentWidget());
        QVERIFY2(qAbs(t->y() - b->y()) <= 8, qPrintable(b->objectName()));
        QVERIFY2(b->x() >= t->x() + t->width(), qPrintable(b->objectName()));
    }
    for (int n : {92, 93, 98, 99, 101, 105})
        QVERIFY(!seen.contains(n));
}

// Which mirror cell an operator sees beside each parameter, worked out from the register
// layout: the read-back block of each page and the order of its rows.
void TestMainForm::parameterReadFieldStandsLeftInRow_data() {
    QTest::addColumn<int>("param");
    QTest::addColumn<QString>("readField");
    QTest::newRow("1 host row 1") << 1 << "R_Addr2Num16_text";
    QTest::newRow("8 third host row") << 8 << "R_Addr2Num18_text";
    QTest::newRow("23 last of the first host column") << 23 << "R_Addr2Num29_text";
    QTest::newRow("14 on its own row") << 14 << "R_Addr2Num51_text";
    QTest::newRow("3 first of the lower right group") << 3 << "R_Addr2Num55_text";
    QTest::newRow("22 last of the lower right group") << 22 << "R_Addr2Num62_text";
    QTest::newRow("73 text row") << 73 << "R_Addr2Num63_text";
    QTest::newRow("74 date row") << 74 << "R_Addr2Num93_text";
    QTest::newRow("84 host ID row uses the backup field") << 84 << "R_Addr2Num0_backup_text";
    QTest::newRow("24 first cell threshold") << 24 << "R_Addr3Num0_text";
    QTest::newRow("39 last of block 3") << 39 << "R_Addr3Num15_text";
    QTest::newRow("57 last of block 4") << 57 << "R_Addr4Num17_text";
    QTest::newRow("72 last of block 5") << 72 << "R_Addr5Num14_text";
    QTest::newRow("75 device string") << 75 << "R_Addr86Num1_text";
    QTest::newRow("78 device string") << 78 << "R_Addr86Num27_text";
    QTest::newRow("80 device string") << 80 << "R_Addr86Num40_text";
    QTest::newRow("106 balancing start") << 106 << "R_Addr91Num0_text";
    QTest::newRow("91 thermal row 7") << 91 << "R_Addr88Num6_text";
    QTest::newRow("94 thermal row after the gap") << 94 << "R_Addr88Num9_text";
    QTest::newRow("100 thermal last row") << 100 << "R_Addr88Num15_text";
    QTest::newRow("102 cooling set point") << 102 << "R_Addr90Num7_text";
    QTest::newRow("104 cooling mode") << 104 << "R_Addr90Num9_text";
}

void TestMainForm::parameterReadFieldStandsLeftInRow() {
    QFETCH(int, param);
    QFETCH(QString, readField);
    auto *edit = m_window->findChild<QPlainTextEdit *>(QStringLiteral("W_Addr%1_text").arg(param));
    auto *read = m_window->findChild<QPlainTextEdit *>(readField);
    QVERIFY(edit);
    QVERIFY(read);
    QCOMPARE(read->parentWidget(), edit->parentWidget());
    QVERIFY(qAbs(read->y() - edit->y()) <= 4);
    QVERIFY(read->x() + read->width() <= edit->x());
    // Nothing else stands between them.
    for (QWidget *w : boundOn(edit->parentWidget())) {
        if (w == edit || w == read)
            continue;
        const bool between = w->x() >= read->x() + read->width() && w->x() < edit->x();
        const bool sameRow = qAbs(w->y() - edit->y()) <= 8;
        QVERIFY2(!(between && sameRow), qPrintable(w->objectName()));
    }
}

void TestMainForm::everyParameterHasAReadFieldOnItsLeft() {
    const auto edits = m_window->findChildren<QPlainTextEdit *>(kEditName);
    QCOMPARE(edits.size(), 26 + 58 + 15);
    for (QPlainTextEdit *e : edits) {
        QPlainTextEdit *nearest = nullptr;
        for (QWidget *w : boundOn(e->parentWidget())) {
            auto *t = qobject_cast<QPlainTextEdit *>(w);
            if (!t || !isReadName(t->objectName()) || qAbs(t->y() - e->y()) > 4 ||
                t->x() + t->width() > e->x())
                continue;
            if (!nearest || t->x() > nearest->x())
                nearest = t;
        }
        QVERIFY2(nearest, qPrintable(e->objectName()));
    }
}

void TestMainForm::mirrorCellsShownOnce() {
    QHash<int, QStringList> byCell;
    for (QPlainTextEdit *t : m_window->findChildren<QPlainTextEdit *>()) {
        const QString n = t->objectName();
        if (n == kBackup) {
            byCell[200].append(n);
            continue;
        }
        const auto m = kReadName.match(n);
        if (!m.hasMatch())
            continue;
        const int block = m.captured(1).toInt(), index = m.captured(2).toInt();
        QVERIFY2(!m.captured(1).startsWith(QLatin1Char('0')) || block == 0, qPrintable(n));
        QVERIFY2(!m.captured(2).startsWith(QLatin1Char('0')) || index == 0, qPrintable(n));
        QVERIFY2(index < 100 && block < 92, qPrintable(n));
        byCell[block * 100 + index].append(n);
    }
    QCOMPARE(byCell.size(), 58 + 14 + 61 + 57 - 1);
    for (auto it = byCell.cbegin(); it != byCell.cend(); ++it) {
        if (it.key() == 200)
            QCOMPARE(it.value().size(), 2);
        else
            QVERIFY2(it.value().size() == 1, qPrintable(it.value().join(QLatin1Char(','))));
    }
}

void TestMainForm::namesParseToTheMapBinding() {
    QCOMPARE(int(fieldMapSize()), m_ui->fieldWidgets().size());
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = fieldMap()[i];
        QWidget *w = m_ui->fieldWidgets().at(int(i));
        const QString n = QString::fromLatin1(f.name);
        QCOMPARE(w->objectName(), n);
        QCOMPARE(m_window->findChild<QWidget *>(n), w);
        QCOMPARE(w->geometry(), f.rect());
        QCOMPARE(w->parentWidget()->objectName(), QString::fromLatin1(pageObjectName(f.page)));
        switch (f.kind) {
        case FieldKind::Read:
            if (n == kBackup) {
                QCOMPARE(f.cell(), 200);
            } else {
                const auto m = kReadName.match(n);
                QVERIFY(m.hasMatch());
                QCOMPARE(m.captured(1).toInt(), f.block);
                QCOMPARE(m.captured(2).toInt(), f.index);
            }
            QCOMPARE(f.param, 0);
            break;
        case FieldKind::Edit:
            QCOMPARE(kEditName.match(n).captured(1).toInt(), f.param);
            QCOMPARE(m_ui->editField(f.param), w);
            break;
        default:
            QCOMPARE(kButtonName.match(n).captured(1).toInt(), f.param);
            QCOMPARE(m_ui->writeButton(f.param), w);
            break;
        }
    }
    QCOMPARE(m_ui->readField(2, 57)->objectName(), QStringLiteral("R_Addr2Num57_text"));
    QCOMPARE(m_ui->hostIdBackupField()->objectName(), kBackup);
    QVERIFY(!m_ui->readField(2, 2000));
    QVERIFY(!m_ui->editField(81));
    QCOMPARE(m_ui->W_Addr82_btn, m_ui->writeButton(82));
}

void TestMainForm::fieldsDoNotOverlap_data() {
    QTest::addColumn<QString>("page");
    for (const char *p :
         {"Host_tabWidget", "Data_tabWidget", "set_page", "set_page_2", "Fault_tabWidget"})
        QTest::newRow(p) << QString::fromLatin1(p);
}

// Rows stand 28 to 34 pixels apart while fields are 30 or 31 high, so neighbouring rows may
// share the empty edge of their boxes; their text lines must never meet.
void TestMainForm::fieldsDoNotOverlap() {
    QFETCH(QString, page);
    QWidget *p = m_window->findChild<QWidget *>(page);
    QVERIFY(p);
    QList<QWidget *> widgets = boundOn(p);
    for (QWidget *w : p->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (qobject_cast<QLabel *>(w) && !w->objectName().contains(QLatin1String("Back")))
            widgets.append(w);
    for (int i = 0; i < widgets.size(); ++i) {
        for (int j = i + 1; j < widgets.size(); ++j) {
            const QRect a = widgets[i]->geometry(), b = widgets[j]->geometry();
            const QRect both = a.intersected(b);
            const QString what =
                widgets[i]->objectName() + QLatin1Char('/') + widgets[j]->objectName();
            QVERIFY2(both.isEmpty() || both.height() <= 4, qPrintable(what));
        }
    }
}

void TestMainForm::creationOrderFollowsTheForm() {
    QStringList order;
    for (QPlainTextEdit *t : m_window->findChildren<QPlainTextEdit *>())
        order.append(t->objectName());
    const int w8 = order.indexOf(QStringLiteral("W_Addr8_text"));
    const int w3 = order.indexOf(QStringLiteral("W_Addr3_text"));
    QVERIFY(w8 >= 0 && w3 >= 0);
    QVERIFY2(w8 < w3, "W_Addr8_text must come before W_Addr3_text");
    // Within a page the walk meets the fields in field-map order. (The pages themselves come
    // in the order the tab and stacked widgets keep them, which is not the tab order.)
    QHash<QString, QStringList> perPage;
    for (QPlainTextEdit *t : m_window->findChildren<QPlainTextEdit *>())
        if (findField(t->objectName()))
            perPage[t->parentWidget()->objectName()].append(t->objectName());
    QHash<QString, QStringList> expected;
    for (std::size_t i = 0; i < fieldMapSize(); ++i)
        if (!fieldMap()[i].isButton())
            expected[QString::fromLatin1(pageObjectName(fieldMap()[i].page))].append(
                QString::fromLatin1(fieldMap()[i].name));
    QCOMPARE(perPage, expected);
}

void TestMainForm::fieldStyles() {
    const QString value =
        QStringLiteral("background-color:transparent;\nborder:none;\ncolor:rgb(255,255,255);");
    // Value fields: transparent over the artwork, no frame, white text, without a style sheet
    // of their own.
    auto *home = m_ui->readField(2, 30);
    for (QPlainTextEdit *t : {home, m_ui->editField(1), m_ui->readField(3, 0)}) {
        QCOMPARE(t->styleSheet(), QString());
        QCOMPARE(t->frameShape(), QFrame::NoFrame);
        QCOMPARE(t->palette().color(QPalette::Base).alpha(), 0);
        QCOMPARE(t->palette().color(QPalette::Text), QColor(255, 255, 255));
    }
    QCOMPARE(m_ui->writeButton(24)->styleSheet(), value);
    QVERIFY(home->isReadOnly());
    QCOMPARE(home->font().family(), QStringLiteral("Calibri"));
    QCOMPARE(home->font().pointSize(), 12);
    QVERIFY(!m_ui->editField(1)->isReadOnly());
    QVERIFY(m_ui->readField(0, 9)->isReadOnly());
    auto *settings = m_ui->readField(3, 0);
    QVERIFY(!settings->isReadOnly());
    QCOMPARE(settings->font().pointSize(), 12);
    QVERIFY(settings->font().family() != QLatin1String("Calibri"));
    QCOMPARE(m_ui->readField(91, 1)->font().family(), QStringLiteral("Calibri"));
    QCOMPARE(m_ui->editField(107)->font().family(), QStringLiteral("Calibri"));
    QCOMPARE(m_ui->readField(2, 0)->minimumSize(), QSize(90, 30));
    QCOMPARE(m_ui->readField(2, 0)->maximumSize(), QSize(90, 30));
    for (int n : {84, 106, 107, 108}) {
        QCOMPARE(m_ui->writeButton(n)->text(), QStringLiteral("Set"));
        QCOMPARE(m_ui->writeButton(n)->size(), QSize(44, 20));
    }
    QVERIFY(m_ui->writeButton(1)->text().isEmpty());
    QCOMPARE(m_ui->writeButton(1)->size(), QSize(35, 20));
    QCOMPARE(m_ui->writeButton(24)->size(), QSize(36, 21));
    QCOMPARE(m_ui->writeButton(85)->size(), QSize(36, 23));
    QCOMPARE(m_ui->writeButton(83)->styleSheet(), QStringLiteral("border:none;"));
    QCOMPARE(m_ui->writeButton(83)->geometry(), QRect(1050, 762, 131, 39));
}

void TestMainForm::tableShapesAndHeaders() {
    QTableWidget *rack = m_ui->Rack_tableWidget;
    QCOMPARE(rack->columnCount(), 9);
    QCOMPARE(rack->rowCount(), 15);
    QCOMPARE(rack->geometry(), QRect(50, 238, 1311, 541));
    QCOMPARE(rack->horizontalHeader()->defaultSectionSize(), 139);
    QCOMPARE(rack->verticalHeader()->defaultSectionSize(), 34);
    QVERIFY(rack->isCornerButtonEnabled());
    QVERIFY(rack->item(0, 0));
    const QStringList rackCols = {"SOC",         "Total Voltage", "Total Current",
                                  "Max Voltage", "Min Voltage",   "Max Temp",
                                  "Min Temp",    "System State",  "Relay State"};
    for (int c = 0; c < 9; ++c)
        QCOMPARE(rack->horizontalHeaderItem(c)->text(), rackCols[c]);
    QCOMPARE(rack->verticalHeaderItem(0)->text(), QStringLiteral("RACK1"));
    QCOMPARE(rack->verticalHeaderItem(14)->text(), QStringLiteral("RACK15"));

    QTableWidget *pack = m_ui->PACK_tableWidget;
    QCOMPARE(pack->columnCount(), 92);
    QCOMPARE(pack->rowCount(), 15);
    QCOMPARE(pack->horizontalHeader()->defaultSectionSize(), 120);
    QCOMPARE(pack->verticalHeader()->defaultSectionSize(), 44);
    QCOMPARE(pack->horizontalHeaderItem(3)->text(), QStringLiteral("Min Voltage Num"));
    QCOMPARE(pack->horizontalHeaderItem(4)->text(), QStringLiteral("Max Voltage Num"));
    QCOMPARE(pack->horizontalHeaderItem(8)->text(), QStringLiteral("Min Temp Num"));
    QCOMPARE(pack->horizontalHeaderItem(9)->text(), QStringLiteral("Cell 1(V)"));
    QCOMPARE(pack->horizontalHeaderItem(60)->text(), QStringLiteral("Cell 52(V)"));
    QCOMPARE(pack->horizontalHeaderItem(61)->text(), QString::fromUtf8("Temp 1(\xE2\x84\x83)"));
    QCOMPARE(pack->horizontalHeaderItem(82)->text(), QString::fromUtf8("Temp 22(\xE2\x84\x83)"));
    QCOMPARE(pack->horizontalHeaderItem(83)->text(),
             QString::fromUtf8("ValveTemp.1(\xE2\x84\x83)"));
    QCOMPARE(pack->horizontalHeaderItem(86)->text(),
             QString::fromUtf8("ValveTemp.4(\xE2\x84\x83)"));
    QCOMPARE(pack->horizontalHeaderItem(87)->text(), QStringLiteral("BalanceState1"));
    QCOMPARE(pack->horizontalHeaderItem(90)->text(), QStringLiteral("BalanceState4"));
    QCOMPARE(pack->horizontalHeaderItem(91)->text(), QStringLiteral("BMU Fault"));
    QCOMPARE(pack->verticalHeaderItem(14)->text(), QStringLiteral("PACK15"));

    QTableWidget *fault = m_ui->Fault_tableWidget;
    QCOMPARE(fault->columnCount(), 8);
    QCOMPARE(fault->rowCount(), 8);
    QCOMPARE(fault->horizontalHeader()->defaultSectionSize(), 142);
    QCOMPARE(fault->verticalHeader()->defaultSectionSize(), 63);
    QCOMPARE(fault->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(fault->horizontalHeaderItem(0)->text(), QStringLiteral("Bit0"));
    QCOMPARE(fault->horizontalHeaderItem(7)->text(), QStringLiteral("Bit7"));
    QCOMPARE(fault->verticalHeaderItem(0)->font().pointSize(), 12);
    QCOMPARE(fault->font().pointSize(), 10);
}

void TestMainForm::faultLegend_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("rowHeader");
    QTest::addColumn<QString>("text");
    // Full-width parentheses U+FF08/U+FF09 and the full-width less-than sign U+FF1C.
    QTest::newRow("level 1 high byte, bit 0")
        << 0 << 0 << QString::fromUtf8("Level1 Warning\xEF\xBC\x88H\xEF\xBC\x89") << "TEMP_High";
    QTest::newRow("full-width less-than")
        << 1 << 5 << QString::fromUtf8("Level1 Warning\xEF\xBC\x88L\xEF\xBC\x89")
        << QString::fromUtf8("TotVol\xEF\xBC\x9C"
                             "200V");
    QTest::newRow("discharge typo kept")
        << 3 << 1 << QString::fromUtf8("Level2 Fault\xEF\xBC\x88L\xEF\xBC\x89")
        << "Disharge_OverCur";
    QTest::newRow("hardware current")
        << 5 << 3 << QString::fromUtf8("Level3 Protection1\xEF\xBC\x88L\xEF\xBC\x89")
        << "DischargeCurr_HW";
    QTest::newRow("CAN2") << 6 << 7
                          << QString::fromUtf8("Level3 Protection2\xEF\xBC\x88H\xEF\xBC\x89")
                          << "CAN2Commu_Fault";
    QTest::newRow("L4 temperature")
        << 7 << 4 << QString::fromUtf8("Level3 Protection2\xEF\xBC\x88L\xEF\xBC\x89")
        << "L4_TEMP_High";
    QTest::newRow("reserved tail")
        << 7 << 7 << QString::fromUtf8("Level3 Protection2\xEF\xBC\x88L\xEF\xBC\x89") << "Reserved";
}

void TestMainForm::faultLegend() {
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(QString, rowHeader);
    QFETCH(QString, text);
    QTableWidget *fault = m_ui->Fault_tableWidget;
    QCOMPARE(fault->verticalHeaderItem(row)->text(), rowHeader);
    QCOMPARE(fault->item(row, col)->text(), text);
    int items = 0;
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c)
            items += fault->item(r, c) && !fault->item(r, c)->text().isEmpty();
    QCOMPARE(items, 64);
}

void TestMainForm::footerAndFaultControls() {
    QCOMPARE(m_ui->com_open_close_btn->text(), QStringLiteral("Connect"));
    QCOMPARE(m_ui->com_set_btn->text(), QStringLiteral("COM SET"));
    QCOMPARE(m_ui->devaddrSet_btn->text(), QStringLiteral("SET ADDR"));
    QCOMPARE(m_ui->one_key_set_btn->text(), QStringLiteral("One-click setup"));
    QCOMPARE(m_ui->one_key_set_muti_batt_btn->text(), QStringLiteral("One-click setup muti batt"));
    QCOMPARE(m_ui->status_label->text(), QStringLiteral("Status:"));
    QCOMPARE(m_ui->devaddr_label->text(), QStringLiteral("Addr:"));
    QCOMPARE(m_ui->next_page1->text(), QStringLiteral("->"));
    QCOMPARE(m_ui->next_page2->geometry(), QRect(1364, 778, 36, 21));
    QCOMPARE(m_ui->ReadingFault_btn->text(), QStringLiteral("Reading"));
    QCOMPARE(m_ui->ExportFault_btn->text(), QStringLiteral("Export"));
    QCOMPARE(m_ui->label->text(), QStringLiteral("Host ID"));
    QCOMPARE(m_ui->label_6->text(), QStringLiteral("BalStoptVoltDiff(mV)"));
    QCOMPARE(m_ui->statusText_label->geometry(), QRect(650, 872, 155, 25));
    QProgressBar *bar = m_ui->Fault_progressBar;
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->maximum(), 100);
    QVERIFY(bar->invertedAppearance());
    QCOMPARE(bar->layoutDirection(), Qt::RightToLeft);
    QVERIFY(!m_ui->needReadFaultCnt_text->isReadOnly());
    QCOMPARE(m_ui->needReadFaultCnt_text->font().pointSize(), 14);
}

void TestMainForm::stackingOrder() {
    // Direct children are kept in stacking order, bottom first.
    QStringList order;
    for (QObject *o : m_window->children())
        if (o->isWidgetType())
            order.append(o->objectName());
    const QStringList expected = {"com_set_btn",      "com_open_close_btn",
                                  "welcome2_label",   "tabWidget",
                                  "timeTips_label",   "status_label",
                                  "statusText_label", "welcome_label",
                                  "devaddr_label",    "devaddrText_label",
                                  "devaddrSetText",   "devaddrSet_btn",
                                  "one_key_set_btn",  "one_key_set_muti_batt_btn"};
    QCOMPARE(order, expected);
}

void TestMainForm::retranslateEmptiesTheLiveFields() {
    m_ui->readField(2, 4)->setPlainText(QStringLiteral("Charging"));
    m_ui->readField(0, 9)->setPlainText(QStringLiteral("Communication"));
    m_ui->readField(91, 0)->setPlainText(QStringLiteral("3400"));
    m_ui->readField(3, 0)->setPlainText(QStringLiteral("3.650"));
    m_ui->devaddrSetText->setPlainText(QStringLiteral("7"));
    m_ui->retranslateUi(m_window.get());
    QVERIFY(m_ui->readField(2, 4)->toPlainText().isEmpty());
    QVERIFY(m_ui->readField(0, 9)->toPlainText().isEmpty());
    QVERIFY(m_ui->readField(91, 0)->toPlainText().isEmpty());
    QVERIFY(m_ui->devaddrSetText->toPlainText().isEmpty());
    QCOMPARE(m_ui->readField(3, 0)->toPlainText(), QStringLiteral("3.650"));
}

void TestMainForm::artworkIsEmbedded_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("minSize");
    const QSize page(1400, 800);
    QTest::newRow("home") << ":/images/homeBackGround.jpg" << page;
    QTest::newRow("data") << ":/images/DataBackGround.jpg" << page;
    QTest::newRow("settings 1") << ":/images/SettingsBackGround.jpg" << QSize(1401, 801);
    QTest::newRow("settings 2") << ":/images/SettingsBackGround2.jpg" << QSize(1401, 801);
    QTest::newRow("fault") << ":/images/FaultBackGround.jpg" << page;
    QTest::newRow("pack") << ":/images/PackBackGround.jpg" << page;
    QTest::newRow("heading") << ":/images/BMS_heading.jpg" << QSize(1006, 66);
    QTest::newRow("heading 2") << ":/images/BMS_heading2.png" << QSize(496, 21);
    QTest::newRow("rack corner") << ":/images/cornerBackGround.png" << QSize(63, 27);
    QTest::newRow("pack corner") << ":/images/corner_PackBackGround.png" << QSize(57, 35);
    QTest::newRow("fault corner") << ":/images/corner_FaultBackGround.png" << QSize(156, 31);
    for (const char *icon : {"HOME", "HOME_Deep", "Data", "Data_Deep", "Settings", "Settings_Deep",
                             "Fault", "Fault_Deep", "PACk", "PACK_Deep"})
        QTest::newRow(icon) << QStringLiteral(":/images/%1.png").arg(QLatin1String(icon))
                            << QSize(40, 30);
}

void TestMainForm::artworkIsEmbedded() {
    QFETCH(QString, path);
    QFETCH(QSize, minSize);
    QPixmap pm(path);
    QVERIFY2(!pm.isNull(), qPrintable(path));
    QVERIFY(pm.width() >= minSize.width());
    QVERIFY(pm.height() >= minSize.height());
    // And drawn for pixel ratio 2, the file Qt and the pages pick on a scaled screen.
    const QString atTwo = ArtworkPage::imageFileFor(path, 2.0);
    QVERIFY2(atTwo.endsWith(QStringLiteral("@2x") + path.mid(path.lastIndexOf(QLatin1Char('.')))),
             qPrintable(atTwo));
    QCOMPARE(QImage(atTwo).size(), 2 * pm.size());
}

void TestMainForm::artworkPaintsAsAStyleSheetBackground_data() {
    QTest::addColumn<QString>("image");
    QTest::addColumn<QSize>("pageSize");
    QTest::addColumn<bool>("ahead"); // decoded on a thread before the first paint
    QTest::newRow("home, tab page") << "homeBackGround.jpg" << QSize(1398, 803) << false;
    QTest::newRow("home, decoded ahead") << "homeBackGround.jpg" << QSize(1398, 803) << true;
    QTest::newRow("settings 2, stacked page")
        << "SettingsBackGround2.jpg" << QSize(1401, 801) << false;
    QTest::newRow("pack, a corner only") << "PackBackGround.jpg" << QSize(40, 30) << false;
}

// Qt's own style-sheet background is the reference: the page must look the same without it.
void TestMainForm::artworkPaintsAsAStyleSheetBackground() {
    QFETCH(QString, image);
    QFETCH(QSize, pageSize);
    QFETCH(bool, ahead);
    const QString path = QStringLiteral(":/images/") + image;
    ArtworkPage page(path);
    page.resize(pageSize);
    if (ahead)
        page.decodeAhead();
    QWidget reference;
    reference.setObjectName(QStringLiteral("reference"));
    reference.setStyleSheet(QStringLiteral("#reference{background-image: url(%1);}").arg(path));
    reference.resize(pageSize);
    const QImage painted = page.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage expected = reference.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(painted.size(), pageSize);
    QVERIFY(painted == expected);
    // And it is the artwork, not an empty page on both sides.
    QCOMPARE(painted.pixel(pageSize.width() - 1, pageSize.height() - 1),
             QImage(path).pixel(pageSize.width() - 1, pageSize.height() - 1));
}

void TestMainForm::onlyTheShownPageHoldsItsArtwork() {
    m_ui->tabWidget->setCurrentIndex(0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    auto *home = qobject_cast<ArtworkPage *>(m_ui->Host_tabWidget);
    auto *data = qobject_cast<ArtworkPage *>(m_ui->Data_tabWidget);
    auto *set1 = qobject_cast<ArtworkPage *>(m_ui->set_page);
    auto *set2 = qobject_cast<ArtworkPage *>(m_ui->set_page_2);
    QVERIFY(home && data && set1 && set2);
    QTRY_VERIFY(home->holdsArtwork());
    QVERIFY(!data->holdsArtwork());

    m_ui->tabWidget->setCurrentIndex(1);
    QTRY_VERIFY(data->holdsArtwork());
    QVERIFY(!home->holdsArtwork());

    m_ui->tabWidget->setCurrentIndex(2);
    QTRY_VERIFY(set1->holdsArtwork());
    QVERIFY(!data->holdsArtwork());
    m_ui->stackedWidget->setCurrentIndex(1);
    QTRY_VERIFY(set2->holdsArtwork());
    QVERIFY(!set1->holdsArtwork());

    // A hidden window holds none.
    m_window->hide();
    QVERIFY(!set2->holdsArtwork());
    m_ui->stackedWidget->setCurrentIndex(0);
    m_ui->tabWidget->setCurrentIndex(0);
}

void TestMainForm::noFocusFrameOnUnselectedCells_data() {
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("table");
    QTest::newRow("alarm grid") << 3 << "Fault_tableWidget";
    QTest::newRow("pack table") << 4 << "PACK_tableWidget";
}

// The current cell of a focused table looks like every other unselected cell: a frame on it
// reads like a marked alarm.
void TestMainForm::noFocusFrameOnUnselectedCells() {
    QFETCH(int, tab);
    QFETCH(QString, table);
    m_ui->tabWidget->setCurrentIndex(tab);
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    auto *t = m_window->findChild<QTableWidget *>(table);
    QVERIFY(t);
    t->setCurrentCell(1, 1, QItemSelectionModel::NoUpdate);
    t->clearFocus();
    const QImage unfocused = t->viewport()->grab().toImage();
    t->setFocus();
    QTRY_VERIFY(t->hasFocus());
    QVERIFY(t->selectedItems().isEmpty());
    QCOMPARE(t->viewport()->grab().toImage(), unfocused);
    m_window->hide();
    m_ui->tabWidget->setCurrentIndex(0);
}

// Tab moves on instead of typing a tab; Enter in an entry field presses the button that acts on
// it instead of typing a line break; fields that only show values are not in the Tab chain.
void TestMainForm::keyboard_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("button"); // empty: read-only, out of the Tab chain
    QTest::newRow("parameter 24") << "W_Addr24_text"
                                  << "W_Addr24_btn";
    QTest::newRow("date and time") << "W_Addr74_text"
                                   << "W_Addr74_btn";
    QTest::newRow("device address") << "devaddrSetText"
                                    << "devaddrSet_btn";
    QTest::newRow("fault record count") << "needReadFaultCnt_text"
                                        << "ReadingFault_btn";
    QTest::newRow("a Home value") << "R_Addr2Num0_text"
                                  << "";
}

void TestMainForm::keyboard() {
    QFETCH(QString, field);
    QFETCH(QString, button);
    auto *edit = m_window->findChild<QPlainTextEdit *>(field);
    QVERIFY(edit);
    if (button.isEmpty()) {
        QCOMPARE(edit->focusPolicy(), Qt::ClickFocus);
        return;
    }
    auto *b = m_window->findChild<QPushButton *>(button);
    QVERIFY(b);
    QSignalSpy clicked(b, &QPushButton::clicked);
    edit->setPlainText(QStringLiteral("12"));
    QTest::keyClick(edit, Qt::Key_Tab);
    QTest::keyClick(edit, Qt::Key_Backtab);
    QCOMPARE(edit->toPlainText(), QStringLiteral("12"));
    QCOMPARE(clicked.count(), 0);
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(edit->toPlainText(), QStringLiteral("12"));
    edit->clear();
}

QTEST_MAIN(TestMainForm)
#include "tst_mainform.moc"
