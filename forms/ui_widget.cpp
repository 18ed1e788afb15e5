#include "ui_widget.h"

#include "artworkpage.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFont>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QWidget>

#include <algorithm>

// The images live in this static library; a static library's resources must be registered
// by hand before the first use.
static void initFormResources() {
    Q_INIT_RESOURCE(vaduz_images);
}

namespace {

const char kValueFieldStyle[] = "background-color:transparent;\n"
                                "border:none;\n"
                                "color:rgb(255,255,255);";

QString tr(const char *text) {
    return QCoreApplication::translate("Widget", text);
}

QFont fontOf(const char *family, int pointSize) {
    QFont f;
    if (family)
        f.setFamily(QString::fromLatin1(family));
    if (pointSize > 0)
        f.setPointSize(pointSize);
    return f;
}

QFont arial() {
    return fontOf("Arial", -1);
}
QFont calibri(int pt) {
    return fontOf("Calibri", pt);
}

// The value fields' look (transparent over the artwork, white text) as a palette: with one
// style sheet per field, each of the ~290 fields and its viewport and scroll bars would carry
// the style-sheet style's rules and copies.
QPalette valueFieldPalette() {
    QPalette p;
    for (QPalette::ColorRole role : {QPalette::Base, QPalette::Window})
        p.setBrush(role, Qt::transparent);
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
        p.setColor(role, QColor(255, 255, 255));
    return p;
}

QLabel *makeLabel(QWidget *parent, const char *name, int x, int y, int w, int h) {
    auto *l = new QLabel(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(x, y, w, h);
    return l;
}

// A caption label of the field map's label table, where the table puts it.
QLabel *makeFormLabel(QWidget *page, const char *name) {
    const FormLabel *l = findFormLabel(name);
    return l ? makeLabel(page, name, l->x, l->y, l->w, l->h) : makeLabel(page, name, 0, 0, 0, 0);
}

void setFormLabelText(QLabel *label) {
    if (const FormLabel *l = findFormLabel(label->objectName().toLatin1().constData()))
        label->setText(formLabelText(*l));
}

QPushButton *makeButton(QWidget *parent, const char *name, int x, int y, int w, int h) {
    auto *b = new QPushButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, y, w, h);
    return b;
}

QFrame *makeLine(QWidget *parent, const char *name, int x, int y, int w) {
    auto *l = new QFrame(parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(x, y, w, 1);
    l->setStyleSheet(QStringLiteral("background-color:rgb(211,17,27);"));
    l->setFrameShape(QFrame::NoFrame);
    return l;
}

// A page; with an image, an ArtworkPage that paints it under the page's fields.
QWidget *makePage(QWidget *parent, const char *name, const char *image) {
    QWidget *p =
        image ? new ArtworkPage(QStringLiteral(":/images/%1").arg(QLatin1String(image)), parent)
              : new QWidget(parent);
    p->setObjectName(QString::fromLatin1(name));
    return p;
}

// Grid cells draw no focus frame unless they are selected: a frame on an unselected cell of
// the alarm grid or the pack table reads like a marked value.
class NoFocusFrameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!(option->state & QStyle::State_Selected))
            option->state &= ~QStyle::State_HasFocus;
    }
};

// Transparent table over the page artwork with its headers; the tab styles of the window
// re-apply the transparency when the tab is shown.
QTableWidget *makeTable(QWidget *parent, const char *name, QRect geometry, int cols, int rows) {
    auto *t = new QTableWidget(parent);
    t->setObjectName(QString::fromLatin1(name));
    t->setGeometry(geometry);
    t->setColumnCount(cols);
    t->setRowCount(rows);
    t->setItemDelegate(new NoFocusFrameDelegate(t));
    for (int c = 0; c < cols; ++c)
        t->setHorizontalHeaderItem(c, new QTableWidgetItem);
    for (int r = 0; r < rows; ++r)
        t->setVerticalHeaderItem(r, new QTableWidgetItem);
    return t;
}

const QRegularExpression kEditField(QStringLiteral("^W_Addr(\\d+)_text$"));

// A value field shows its whole text as its tooltip while the text is wider than the field
// (a 24-character server address, a date typed with care), and no tooltip otherwise.
void tipWhenCut(QPlainTextEdit *field) {
    QObject::connect(field, &QPlainTextEdit::textChanged, field, [field] {
        const QString text = field->toPlainText();
        // The document margin stands on both sides of the line.
        const int room =
            field->contentsRect().width() - 2 * int(field->document()->documentMargin());
        const QString tip = field->fontMetrics().horizontalAdvance(text) > room ? text : QString();
        if (field->toolTip() != tip)
            field->setToolTip(tip);
    });
}

// The footer's push buttons look like buttons over the dark footer.
const char kFooterButtonStyle[] =
    "QPushButton{color:white;background-color:qlineargradient(x1:0,y1:0,x2:0,y2:1,"
    "stop:0 #3a3e47,stop:1 #2a2d34);border:1px solid #5d626d;border-radius:4px;"
    "padding:2px 6px;}"
    "QPushButton:hover{border-color:#d3111b;}"
    "QPushButton:pressed{background-color:#681015;}";

// Enter in an entry field presses the button that acts on it, as an operator expects of a
// form; the key is not typed into the field.
class EnterPresses : public QObject {
public:
    EnterPresses(QObject *field, QAbstractButton *button) : QObject(field), m_button(button) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && m_button &&
                m_button->isEnabled()) {
                m_button->click();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QAbstractButton> m_button;
};

void pressOnEnter(QPlainTextEdit *field, QAbstractButton *button) {
    if (field && button)
        field->installEventFilter(new EnterPresses(field, button));
}

} // namespace

namespace Ui {

void Widget::setupUi(QWidget *Widget) {
    setupHome(Widget);
    setupRest(Widget);
}

void Widget::setupHome(QWidget *Widget) {
    initFormResources();

    if (Widget->objectName().isEmpty())
        Widget->setObjectName(QStringLiteral("Widget"));
    Widget->resize(1400, 900);

    welcome_label = makeLabel(Widget, "welcome_label", 0, 0, 1006, 66);
    welcome_label->setStyleSheet(
        QStringLiteral("background-image: url(:/images/BMS_heading.jpg);"));
    welcome2_label = makeLabel(Widget, "welcome2_label", 905, 0, 496, 21);
    welcome2_label->setStyleSheet(
        QStringLiteral("background-image: url(:/images/BMS_heading2.png);"));

    tabWidget = new QTabWidget(Widget);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    tabWidget->setGeometry(-5, 15, 1408, 857);
    tabWidget->setLayoutDirection(Qt::RightToLeft);
    tabWidget->setAutoFillBackground(true);
    // The tab style goes on the tab bar alone. On the tab widget it would put every widget of
    // every page under the style-sheet style, which keeps rules, palettes and fonts per widget
    // (4 MB for the ~400 widgets of the pages). The tab widget has no font of its own either:
    // its bar shows icons only, and the pages take the window's font.
    tabWidget->findChild<QTabBar *>()->setStyleSheet(QStringLiteral("QTabBar::tab{width:80}\n"
                                                                    "QTabBar::tab{height:50}\n"
                                                                    "QTabBar::tab{border: none}"));
    tabWidget->setTabPosition(QTabWidget::North);
    tabWidget->setTabBarAutoHide(true);

    // ---- Tab 0: Home ---------------------------------------------------------------------
    Host_tabWidget = makePage(nullptr, "Host_tabWidget", "homeBackGround.jpg");
    if (decodeHomeAhead)
        static_cast<ArtworkPage *>(Host_tabWidget)->decodeAhead();
    Host_tabWidget->setLayoutDirection(Qt::RightToLeft);
    tabWidget->addTab(Host_tabWidget, QString());

    // ---- Tab 1: Data ---------------------------------------------------------------------
    Data_tabWidget = makePage(nullptr, "Data_tabWidget", "DataBackGround.jpg");
    Data_tabWidget->setLayoutDirection(Qt::LeftToRight);
    tabWidget->addTab(Data_tabWidget, QString());

    // ---- Tab 2: Settings -----------------------------------------------------------------
    Setting_tabWidget = makePage(nullptr, "Setting_tabWidget", nullptr);
    stackedWidget = new QStackedWidget(Setting_tabWidget);
    stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    stackedWidget->setGeometry(2, 2, 1401, 801);
    set_page = makePage(nullptr, "set_page", "SettingsBackGround.jpg");
    stackedWidget->addWidget(set_page);
    set_page_2 = makePage(nullptr, "set_page_2", "SettingsBackGround2.jpg");
    stackedWidget->addWidget(set_page_2);
    tabWidget->addTab(Setting_tabWidget, QString());

    // ---- Tab 3: Fault --------------------------------------------------------------------
    Fault_tabWidget = makePage(nullptr, "Fault_tabWidget", "FaultBackGround.jpg");
    tabWidget->addTab(Fault_tabWidget, QString());

    // ---- Tab 4: Pack ---------------------------------------------------------------------
    Pack_tabWidget = makePage(nullptr, "Pack_tabWidget", "PackBackGround.jpg");
    tabWidget->addTab(Pack_tabWidget, QString());

    // The bound fields, page by page in field-map order: Home's now, the others' with the rest.
    for (std::size_t i = 0; i < fieldMapSize(); ++i)
        m_fieldList.append(nullptr);
    createFields(true);

    // Home: the "Host ID" row caption between its separator lines, and "Mean Temp".
    label = makeFormLabel(Host_tabWidget, "label");
    label->setFont(calibri(12));
    label->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    line = makeLine(Host_tabWidget, "line", 420, 514, 400);
    line_2 = makeLine(Host_tabWidget, "line_2", 420, 548, 400);
    label_3 = makeFormLabel(Host_tabWidget, "label_3");
    label_3->setFont(calibri(12));
    label_3->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));

    // ---- Footer --------------------------------------------------------------------------
    one_key_set_btn = makeButton(Widget, "one_key_set_btn", 4, 868, 127, 31);
    one_key_set_muti_batt_btn = makeButton(Widget, "one_key_set_muti_batt_btn", 150, 870, 187, 31);
    timeTips_label = makeLabel(Widget, "timeTips_label", 348, 872, 225, 25);
    timeTips_label->setFont(calibri(12));
    status_label = makeLabel(Widget, "status_label", 582, 872, 54, 25);
    statusText_label = makeLabel(Widget, "statusText_label", 650, 872, 155, 25);
    devaddr_label = makeLabel(Widget, "devaddr_label", 820, 872, 54, 25);
    devaddrText_label = makeLabel(Widget, "devaddrText_label", 886, 872, 61, 25);
    devaddrText_label->setFont(calibri(12));
    devaddrSetText = new QPlainTextEdit(Widget);
    devaddrSetText->setObjectName(QStringLiteral("devaddrSetText"));
    devaddrSetText->setGeometry(964, 872, 90, 30);
    devaddrSetText->setFont(calibri(12));
    // An entry field, and it looks like one.
    devaddrSetText->setStyleSheet(QStringLiteral(
        "background-color:white;color:black;border:1px solid #7a7a7a;border-radius:3px;"));
    devaddrSetText->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    devaddrSetText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    devaddrSet_btn = makeButton(Widget, "devaddrSet_btn", 1078, 870, 101, 31);
    com_set_btn = makeButton(Widget, "com_set_btn", 1205, 870, 101, 31);
    com_open_close_btn = makeButton(Widget, "com_open_close_btn", 1300, 870, 101, 31);
    for (QPushButton *b : {one_key_set_btn, one_key_set_muti_batt_btn, devaddrSet_btn, com_set_btn,
                           com_open_close_btn}) {
        b->setFont(arial());
        b->setStyleSheet(QLatin1String(kFooterButtonStyle));
    }

    // Stacking: each one above all before it.
    for (QWidget *w : std::initializer_list<QWidget *>{
             com_set_btn, com_open_close_btn, welcome2_label, tabWidget, timeTips_label,
             status_label, statusText_label, welcome_label, devaddr_label, devaddrText_label,
             devaddrSetText, devaddrSet_btn, one_key_set_btn, one_key_set_muti_batt_btn})
        w->raise();

    QList<QPlainTextEdit *> entries = Host_tabWidget->findChildren<QPlainTextEdit *>();
    entries << devaddrSetText;
    setUpKeyboard(entries);
    pressOnEnter(devaddrSetText, devaddrSet_btn);

    retranslateFrame(Widget);

    tabWidget->setCurrentIndex(0);
    stackedWidget->setCurrentIndex(0);
}

void Widget::setupRest(QWidget *Widget) {
    createFields(false);

    // Data: the rack table with its corner label on top.
    Rack_tableWidget =
        makeTable(Data_tabWidget, "Rack_tableWidget", QRect(50, 238, 1311, 541), 9, 15);
    Rack_tableWidget->setStyleSheet(
        QStringLiteral("border:none;\nQHeaderView::section{background-color:transparent;}"));
    Rack_tableWidget->setCornerButtonEnabled(true);
    Rack_tableWidget->setItem(0, 0, new QTableWidgetItem);
    Rack_tableWidget->horizontalHeader()->setDefaultSectionSize(139);
    Rack_tableWidget->horizontalHeader()->setMinimumSectionSize(25);
    Rack_tableWidget->verticalHeader()->setDefaultSectionSize(34);
    RackTableBackLabel = makeLabel(Data_tabWidget, "RackTableBackLabel", 48, 236, 63, 27);

    // Settings, first page: the balancing rows' captions and the page arrow.
    label_2 = makeFormLabel(set_page, "label_2");
    label_5 = makeFormLabel(set_page, "label_5");
    label_6 = makeFormLabel(set_page, "label_6");
    for (QLabel *l : {label_2, label_5, label_6}) {
        l->setFont(calibri(12));
        l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    }
    line_3 = makeLine(set_page, "line_3", 928, 582, 416);
    line_6 = makeLine(set_page, "line_6", 928, 642, 416);
    line_7 = makeLine(set_page, "line_7", 928, 676, 416);
    next_page1 = makeButton(set_page, "next_page1", 1362, 778, 36, 21);
    next_page2 = makeButton(set_page_2, "next_page2", 1364, 778, 36, 21);
    // Which of the two Settings pages is shown, left of the arrow that turns them.
    page_indicator1 = makeLabel(set_page, "page_indicator1", 1322, 778, 36, 21);
    page_indicator2 = makeLabel(set_page_2, "page_indicator2", 1324, 778, 36, 21);
    for (QLabel *l : {page_indicator1, page_indicator2}) {
        l->setFont(calibri(12));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setStyleSheet(QStringLiteral("color:rgb(255,255,255);"));
    }

    // Fault: legend table, reading controls.
    Fault_tableWidget = makeTable(Fault_tabWidget, "Fault_tableWidget", QRect(54, 130, 1295, 535),
                                  kFaultLegendCols, kFaultLegendRows);
    Fault_tableWidget->setFont(calibri(10));
    Fault_tableWidget->setLayoutDirection(Qt::LeftToRight);
    Fault_tableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The legend is a fixed grid: with wide row headers its last column may lose a few
    // pixels, which is better than a scroll bar across the page.
    Fault_tableWidget->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Fault_tableWidget->horizontalHeader()->setDefaultSectionSize(142);
    Fault_tableWidget->verticalHeader()->setDefaultSectionSize(63);
    Fault_tableWidget->verticalHeader()->setMinimumSectionSize(25);
    for (int r = 0; r < kFaultLegendRows; ++r) {
        Fault_tableWidget->verticalHeaderItem(r)->setFont(calibri(12));
        for (int c = 0; c < kFaultLegendCols; ++c)
            Fault_tableWidget->setItem(r, c, new QTableWidgetItem);
    }
    FaultTableBackLabel = makeLabel(Fault_tabWidget, "FaultTableBackLabel", 54, 128, 156, 31);

    Fault_progressBar = new QProgressBar(Fault_tabWidget);
    Fault_progressBar->setObjectName(QStringLiteral("Fault_progressBar"));
    Fault_progressBar->setGeometry(102, 716, 855, 23);
    Fault_progressBar->setRange(0, 100);
    Fault_progressBar->setValue(0);
    Fault_progressBar->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Fault_progressBar->setOrientation(Qt::Horizontal);
    Fault_progressBar->setLayoutDirection(Qt::RightToLeft);
    Fault_progressBar->setInvertedAppearance(true);
    Fault_progressBar->setStyleSheet(QStringLiteral(
        "QProgressBar{height:22px; text-align:center; font-size:14px; color:black; "
        "border-radius:11px; background:#FFFFFF;}"
        "QProgressBar::chunk{border-radius:11px;background:qlineargradient(spread:pad,x1:0,"
        "y1:0,x2:1,y2:0,stop:0 #f7333d,stop:1 #681015);}"));

    needReadFaultCnt_text = new QPlainTextEdit(Fault_tabWidget);
    needReadFaultCnt_text->setObjectName(QStringLiteral("needReadFaultCnt_text"));
    needReadFaultCnt_text->setGeometry(978, 708, 53, 35);
    needReadFaultCnt_text->setFont(calibri(14));
    ReadingFault_btn = makeButton(Fault_tabWidget, "ReadingFault_btn", 1066, 706, 91, 37);
    ExportFault_btn = makeButton(Fault_tabWidget, "ExportFault_btn", 1162, 706, 91, 37);

    // Pack: the pack table with its corner label on top.
    PACK_tableWidget =
        makeTable(Pack_tabWidget, "PACK_tableWidget", QRect(52, 46, 1309, 711), 92, 15);
    PACK_tableWidget->setLayoutDirection(Qt::LeftToRight);
    PACK_tableWidget->setItem(0, 0, new QTableWidgetItem);
    PACK_tableWidget->horizontalHeader()->setDefaultSectionSize(120);
    PACK_tableWidget->verticalHeader()->setDefaultSectionSize(44);
    PACK_tableWidget->verticalHeader()->setMinimumSectionSize(25);
    PackTableBackLabel = makeLabel(Pack_tabWidget, "PackTableBackLabel", 52, 40, 57, 35);

    // The footer was made with Home, before the other pages; Tab reaches it after them.
    QWidget *last = Widget->previousInFocusChain();
    while (last != Widget && last->focusPolicy() == Qt::NoFocus)
        last = last->previousInFocusChain();
    for (QWidget *w : std::initializer_list<QWidget *>{one_key_set_btn, one_key_set_muti_batt_btn,
                                                       devaddrSetText, devaddrSet_btn, com_set_btn,
                                                       com_open_close_btn}) {
        if (last != Widget)
            QWidget::setTabOrder(last, w);
        last = w;
    }

    QList<QPlainTextEdit *> entries;
    for (QWidget *page : {Data_tabWidget, Setting_tabWidget, Fault_tabWidget, Pack_tabWidget})
        entries << page->findChildren<QPlainTextEdit *>();
    setUpKeyboard(entries);
    pressOnEnter(needReadFaultCnt_text, ReadingFault_btn);

    retranslatePages();

    QMetaObject::connectSlotsByName(Widget);
}

void Widget::setUpKeyboard(const QList<QPlainTextEdit *> &entries) {
    // Tab and Shift+Tab move between the entry fields instead of typing a tab, fields that only
    // show values are left out of the chain (a click still selects their text), and Enter in an
    // entry field presses its button.
    for (QPlainTextEdit *t : entries) {
        t->setTabChangesFocus(true);
        if (t->isReadOnly())
            t->setFocusPolicy(Qt::ClickFocus);
        const QRegularExpressionMatch m = kEditField.match(t->objectName());
        if (m.hasMatch())
            pressOnEnter(t, qobject_cast<QAbstractButton *>(
                                field(QStringLiteral("W_Addr%1_btn").arg(m.captured(1)))));
    }
}

void Widget::createFields(bool home) {
    const QString valueStyle = QString::fromLatin1(kValueFieldStyle);
    const QPalette valuePalette = valueFieldPalette();
    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = map[i];
        if ((f.page == FieldPage::Home) != home)
            continue;
        QWidget *page = pageWidget(f.page);
        const QString name = QString::fromLatin1(f.name);
        const bool calibriPage = f.page == FieldPage::Home || f.page == FieldPage::Data ||
                                 f.block == 91 || (f.param >= 106 && f.param <= 108);
        QWidget *w = nullptr;
        if (f.isButton()) {
            auto *b = new QPushButton(page);
            switch (f.kind) {
            case FieldKind::SetButton:
                break; // an ordinary button; its text "Set" comes from retranslateUi
            case FieldKind::Command:
                b->setStyleSheet(QStringLiteral("border:none;"));
                break;
            default:
                if (f.page == FieldPage::Home) {
                    b->setFont(arial());
                    b->setStyleSheet(QStringLiteral("border:none;"));
                } else {
                    b->setStyleSheet(valueStyle);
                }
                break;
            }
            w = b;
        } else {
            auto *t = new QPlainTextEdit(page);
            t->setFrameShape(QFrame::NoFrame);
            t->setPalette(valuePalette);
            // A value is one line: never wrapped under itself, never a scroll bar over the
            // artwork.
            t->setLineWrapMode(QPlainTextEdit::NoWrap);
            t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            // The Settings pages' fields are in the tab widget's family, Arial.
            t->setFont(calibriPage ? calibri(12) : fontOf("Arial", 12));
            tipWhenCut(t);
            // Read fields on Home and Data cannot be typed into; the Settings pages keep
            // theirs editable, like the parameter fields beside them.
            if (f.kind == FieldKind::Read &&
                (f.page == FieldPage::Home || f.page == FieldPage::Data))
                t->setReadOnly(true);
            w = t;
        }
        w->setObjectName(name);
        w->setGeometry(f.rect());
        if (name == QLatin1String("R_Addr2Num0_text")) {
            w->setMinimumSize(90, 30);
            w->setMaximumSize(90, 30);
            w->setEnabled(true);
        }
        m_fields.insert(name, w);
        m_fieldList[int(i)] = w;
    }
    if (home)
        return;
    W_Addr81_btn = writeButton(81);
    W_Addr82_btn = writeButton(82);
    W_Addr83_btn = writeButton(83);
}

void Widget::retranslateUi(QWidget *Widget) {
    retranslateFrame(Widget);
    retranslatePages();
}

void Widget::retranslateFrame(QWidget *Widget) {
    Widget->setWindowTitle(tr("Kelvane_VaduzV1.2"));

    setFormLabelText(label);
    setFormLabelText(label_3);
    one_key_set_btn->setText(tr("One-click setup"));
    one_key_set_muti_batt_btn->setText(tr("One-click setup muti batt"));
    timeTips_label->setText(QString());
    status_label->setText(tr("Status:"));
    statusText_label->setText(QString());
    devaddr_label->setText(tr("Addr:"));
    devaddrText_label->setText(QString());
    devaddrSet_btn->setText(tr("SET ADDR"));
    com_set_btn->setText(tr("COM SET"));
    com_open_close_btn->setText(tr("Connect"));
    writeButton(84)->setText(tr("Set"));

    for (int i = 0; i < tabWidget->count(); ++i)
        tabWidget->setTabText(i, QString());

    // Empty the Home fields and the address entry field.
    emptyFields(FieldPage::Home);
    devaddrSetText->setPlainText(QString());
}

void Widget::retranslatePages() {
    for (QLabel *l : {label_2, label_5, label_6})
        setFormLabelText(l);
    next_page1->setText(tr("->"));
    next_page2->setText(tr("->"));
    page_indicator1->setText(QStringLiteral("1/2"));
    page_indicator2->setText(QStringLiteral("2/2"));
    ReadingFault_btn->setText(tr("Reading"));
    ExportFault_btn->setText(tr("Export"));
    for (int n : {106, 107, 108})
        writeButton(n)->setText(tr("Set"));

    for (int c = 0; c < kRackTableColumns; ++c)
        Rack_tableWidget->horizontalHeaderItem(c)->setText(rackColumnHead(c));
    for (int r = 0; r < 15; ++r)
        Rack_tableWidget->verticalHeaderItem(r)->setText(QStringLiteral("RACK%1").arg(r + 1));

    for (int c = 0; c < kPackTableColumns; ++c)
        PACK_tableWidget->horizontalHeaderItem(c)->setText(packColumnHead(c));
    for (int r = 0; r < 15; ++r)
        PACK_tableWidget->verticalHeaderItem(r)->setText(QStringLiteral("PACK%1").arg(r + 1));

    for (int c = 0; c < kFaultLegendCols; ++c)
        Fault_tableWidget->horizontalHeaderItem(c)->setText(QStringLiteral("Bit%1").arg(c));
    for (int r = 0; r < kFaultLegendRows; ++r) {
        Fault_tableWidget->verticalHeaderItem(r)->setText(faultLevelText(r));
        for (int c = 0; c < kFaultLegendCols; ++c)
            Fault_tableWidget->item(r, c)->setText(faultAlarmText(r, c));
    }

    // Empty the Data fields and the entry fields; the other Settings fields keep whatever they
    // show.
    emptyFields(FieldPage::Data);
    needReadFaultCnt_text->setPlainText(QString());
    for (const char *name :
         {"R_Addr4Num6_text", "R_Addr4Num13_text", "R_Addr91Num0_text", "R_Addr91Num1_text",
          "R_Addr91Num2_text", "W_Addr106_text", "W_Addr107_text", "W_Addr108_text"})
        if (QPlainTextEdit *t = textField(QString::fromLatin1(name)))
            t->setPlainText(QString());
}

void Widget::emptyFields(FieldPage page) {
    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i)
        if (!map[i].isButton() && map[i].page == page)
            static_cast<QPlainTextEdit *>(m_fieldList.at(int(i)))->setPlainText(QString());
}

QSize Widget::fitInto(QWidget *Widget, const QSize &available) {
    const QSize full(kFullWidth, kFullHeight);
    const QSize client = full.boundedTo(available);
    if (client == full || m_scrolls)
        return m_scrolls ? Widget->size() : full;
    m_scrolls = true;
    const int dx = kFullWidth - client.width();   // the right-hand side moves in by dx
    const int dy = kFullHeight - client.height(); // the footer moves up by dy

    // Each page goes into a scroll area of its own, in the tab it had; the tab widget shrinks
    // to the window, so its bar (at the right-hand end) stays in view. The scroll areas are
    // then put in the order the pages had among the tab widget's children, which is the order
    // a walk over the window's fields meets them.
    QWidget *stack = tabWidget->widget(0)->parentWidget();
    QList<QWidget *> childOrder;
    for (QObject *o : stack->children())
        if (o->isWidgetType() && tabWidget->indexOf(static_cast<QWidget *>(o)) >= 0)
            childOrder.append(static_cast<QWidget *>(o));
    const int current = tabWidget->currentIndex();
    QHash<QWidget *, QScrollArea *> areas;
    const QSignalBlocker block(tabWidget);
    for (int i = 0; i < tabWidget->count(); ++i) {
        QWidget *page = tabWidget->widget(i);
        const QIcon icon = tabWidget->tabIcon(i);
        // The size the page has in the full window (the tab widget lays it out only when shown).
        const QSize pageSize(kFullWidth - 2, 803);
        tabWidget->removeTab(i);
        auto *area = new QScrollArea;
        area->setObjectName(page->objectName() + QLatin1String("_scroll"));
        area->setFrameShape(QFrame::NoFrame);
        area->setLayoutDirection(Qt::LeftToRight);
        // The dark ground of the scroll area itself (the corner between its bars), as a palette:
        // a style sheet would put every widget of the page under the style-sheet style, slow
        // to reparent and heavy. The page and the bars keep the window colour their outlines
        // are drawn from.
        QPalette ground = area->palette();
        const QColor window = ground.color(QPalette::Window);
        ground.setColor(QPalette::Window, QColor(14, 15, 19));
        area->setPalette(ground);
        area->setAutoFillBackground(true);
        for (QWidget *part : area->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            QPalette own = part->palette();
            own.setColor(QPalette::Window, window);
            part->setPalette(own);
        }
        area->setWidget(page);
        page->resize(pageSize);
        tabWidget->insertTab(i, area, icon, QString());
        areas.insert(page, area);
    }
    for (QWidget *page : childOrder)
        areas.value(page)->raise();
    tabWidget->setCurrentIndex(current);
    tabWidget->resize(tabWidget->width() - dx, tabWidget->height() - dy);
    welcome2_label->move(welcome2_label->x() - dx, welcome2_label->y());
    // The heading lies over the row of the tab bar, which has moved in: it gives way.
    welcome_label->resize(std::max(0, welcome_label->width() - dx), welcome_label->height());

    // The footer: its right-hand controls keep their distance to the right edge, the date
    // label gives up what it does not need; below the narrowest such footer it scrolls.
    const int dateRoom = timeTips_label->width() - 150;
    const int shift = std::min(dx, dateRoom);
    timeTips_label->resize(timeTips_label->width() - shift, timeTips_label->height());
    for (QWidget *w : std::initializer_list<QWidget *>{
             status_label, statusText_label, devaddr_label, devaddrText_label, devaddrSetText,
             devaddrSet_btn, com_set_btn, com_open_close_btn})
        w->move(w->x() - shift, w->y());
    const int footerTop = 866;
    const int footerWidth = kFullWidth - shift;
    if (footerWidth > client.width()) {
        auto *bar = new QScrollArea(Widget);
        bar->setObjectName(QStringLiteral("footer_scroll"));
        bar->setFrameShape(QFrame::NoFrame);
        bar->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        bar->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        auto *footer = new QWidget;
        footer->setObjectName(QStringLiteral("footer"));
        footer->resize(footerWidth, kFullHeight - footerTop + 2);
        for (QWidget *w : std::initializer_list<QWidget *>{
                 one_key_set_btn, one_key_set_muti_batt_btn, timeTips_label, status_label,
                 statusText_label, devaddr_label, devaddrText_label, devaddrSetText, devaddrSet_btn,
                 com_set_btn, com_open_close_btn}) {
            const QPoint at = w->pos() - QPoint(0, footerTop);
            w->setParent(footer);
            w->move(at);
        }
        bar->setWidget(footer);
        const int barHeight = footer->height() + bar->horizontalScrollBar()->sizeHint().height();
        bar->setGeometry(0, client.height() - barHeight, client.width(), barHeight);
        tabWidget->resize(tabWidget->width(), tabWidget->height() - (barHeight - 34));
        bar->raise();
    } else {
        for (QWidget *w : std::initializer_list<QWidget *>{
                 one_key_set_btn, one_key_set_muti_batt_btn, timeTips_label, status_label,
                 statusText_label, devaddr_label, devaddrText_label, devaddrSetText, devaddrSet_btn,
                 com_set_btn, com_open_close_btn})
            w->move(w->x(), w->y() - dy);
    }
    Widget->resize(client);
    return client;
}

QPlainTextEdit *Widget::textField(const QString &name) const {
    return qobject_cast<QPlainTextEdit *>(m_fields.value(name));
}

QPlainTextEdit *Widget::readField(int block, int index) const {
    return textField(QStringLiteral("R_Addr%1Num%2_text").arg(block).arg(index));
}

QPlainTextEdit *Widget::editField(int param) const {
    return textField(QStringLiteral("W_Addr%1_text").arg(param));
}

QPushButton *Widget::writeButton(int param) const {
    return qobject_cast<QPushButton *>(m_fields.value(QStringLiteral("W_Addr%1_btn").arg(param)));
}

QPlainTextEdit *Widget::hostIdBackupField() const {
    return textField(QStringLiteral("R_Addr2Num0_backup_text"));
}

QWidget *Widget::pageWidget(FieldPage page) const {
    switch (page) {
    case FieldPage::Home:
        return Host_tabWidget;
    case FieldPage::Data:
        return Data_tabWidget;
    case FieldPage::SetPage1:
        return set_page;
    case FieldPage::SetPage2:
        return set_page_2;
    case FieldPage::Fault:
        return Fault_tabWidget;
    }
    return nullptr;
}

} // namespace Ui
