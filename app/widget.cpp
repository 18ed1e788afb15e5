#include "widget.h"
#include "ui_widget.h"

#include "battertstackthread.h"
#include "commanddispatcher.h"
#include "pagerefresh.h"
#include "pollplan.h"
#include "registermirror.h"
#include "serialconfig.h"
#include "serialsettings.h"
#include "systick.h"

#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kStatusPeriodMs = 50;

const char kTableStyle[] = "background-color:transparent;border:none;color: white;";
const char kHeaderStyle[] = "QHeaderView::section{background-color:transparent;color: white;}";
const char kFaultButtonStyle[] = "QPushButton{background-color: rgb(247, 51, 61);border-radius:15;"
                                 "padding:2px 4px;}QPushButton:pressed{background-color:rgb(104, "
                                 "16, 21);}";

// The tick runs from the first window's construction to the end of the process. One thread
// serves the whole process: a second window (tests build many) must not make the tick run
// twice as fast. The thread stops and joins itself when the application is about to quit;
// the object is never deleted, so nothing frees the thread's data while its last writes are
// still in flight.
SysTimerThread *g_tickThread = nullptr;

SysTimerThread *tickThread() {
    if (!g_tickThread)
        g_tickThread = new SysTimerThread(nullptr);
    return g_tickThread;
}

void styleTable(QTableWidget *table) {
    table->setStyleSheet(QLatin1String(kTableStyle));
    table->horizontalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
    table->verticalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
}

} // namespace

Widget::Widget(QWidget *parent) : QWidget(parent) {
    ui = new Ui::Widget;
    ui->setupUi(this);

    for (QPushButton *button : findChildren<QPushButton *>()) {
        connect(button, &QPushButton::clicked, this, &Widget::slotmainBtnClicked);
        button->setCursor(Qt::PointingHandCursor);
    }

    m_serialConfig = new serialConfig(nullptr);
    m_worker = new Battert_Stack_Thread(this);
    connect(this, SIGNAL(NeedToConfigCom()), m_serialConfig, SLOT(showAlreadyComConfig()));
    m_dispatcher = new CommandDispatcher(this, ui, m_serialConfig, m_worker);
    connect(m_dispatcher, &CommandDispatcher::needToConfigCom, this, &Widget::NeedToConfigCom);

    // The refresh timer fires when the next page pass is due, and a tab change is followed at
    // once. The status timer looks for a new status text 20 times a second: soon enough for
    // the eye, and no cross-thread event per status change.
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setTimerType(Qt::PreciseTimer);
    connect(m_refreshTimer, &QTimer::timeout, this, &Widget::slotRefeshParaTimer);
    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &Widget::slotKelvaneComTimer);

    SysTimerThread *ticker = tickThread();

    const char *icons[] = {":/images/HOME_Deep.png", ":/images/Data_Deep.png",
                           ":/images/Settings_Deep.png", ":/images/Fault_Deep.png",
                           ":/images/PACK_Deep.png"};
    for (int i = 0; i < 5; ++i)
        ui->tabWidget->setTabIcon(i, QIcon(QLatin1String(icons[i])));
    ui->tabWidget->setIconSize(QSize(80, 200));

    styleTable(ui->Rack_tableWidget);
    ui->RackTableBackLabel->setStyleSheet(
        QStringLiteral("background-image: url(:/images/cornerBackGround.png);"));
    styleTable(ui->PACK_tableWidget);
    ui->PackTableBackLabel->setStyleSheet(
        QStringLiteral("background-image: url(:/images/corner_PackBackGround.png);"));
    styleTable(ui->Fault_tableWidget);
    ui->FaultTableBackLabel->setStyleSheet(
        QStringLiteral("background-image: url(:/images/corner_FaultBackGround.png);"));
    ui->ReadingFault_btn->setStyleSheet(QLatin1String(kFaultButtonStyle));
    ui->ExportFault_btn->setStyleSheet(QLatin1String(kFaultButtonStyle));

    linkOp = 0;
    resetLinkState();
    resetPollPlan();

    m_dispatcher->connectEditTracking();

    m_pageRefresh = std::make_unique<PageRefresh>(this);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &Widget::slotRefeshParaTimer);

    ui->tabWidget->setCurrentIndex(0);
    ui->stackedWidget->setCurrentIndex(0);

    if (!ticker->isRunning())
        ticker->start();
    m_refreshTimer->start(10);
    m_statusTimer->start(kStatusPeriodMs);
}

Widget::~Widget() {
    // The worker uses the shared state and the port until it has ended: stop and join it
    // before anything else goes away.
    if (m_worker && m_worker->isRunning())
        m_worker->stopLink();
    delete m_worker;
    m_worker = nullptr;
    delete m_serialConfig;
    m_serialConfig = nullptr;
    m_pageRefresh.reset();
    // The dispatcher holds the form and the confirmation box: it goes before them.
    delete m_dispatcher;
    m_dispatcher = nullptr;
    delete ui;
    ui = nullptr;
}

QMessageBox *Widget::confirmationBox() const {
    return m_dispatcher->confirmationBox();
}

int Widget::settingsPageIndex() const {
    return m_dispatcher->settingsPageIndex();
}

void Widget::slotmainBtnClicked() {
    m_dispatcher->dispatch(sender());
}

void Widget::slotRefeshParaTimer() {
    m_pageRefresh->slotRefeshParaTimer();
    m_refreshTimer->start(std::max(1, m_pageRefresh->msUntilNextPass()));
}

void Widget::slotKelvaneComTimer() {
    // Re-setting an unchanged text or style sheet would re-polish the label, so only a new
    // status text reaches the label.
    const uint32_t generation = statusTextGeneration();
    if (m_statusShown && generation == m_statusGeneration)
        return;
    m_statusGeneration = generation;
    char text[kStatusTextSize];
    readStatusText(text);
    const QString shown = QString::fromUtf8(text);
    if (ui->statusText_label->text() != shown)
        ui->statusText_label->setText(shown);
    // A failed write reads red; everything else green.
    const bool failure = shown.startsWith(QLatin1String("Setting failed"));
    if (!m_statusShown || failure != m_statusFailure) {
        ui->statusText_label->setStyleSheet(failure ? QStringLiteral("color:red;font-weight: bold;")
                                                    : tr("color:green;font-weight: bold;"));
        m_statusShown = true;
        m_statusFailure = failure;
    }
}

void fixMainWindowFrame(QWidget &window, const QRect &available) {
    window.setWindowFlags(window.windowFlags() & ~Qt::WindowMaximizeButtonHint);
    // The window's title bar and borders come out of the screen area too; before the window
    // is shown they are not known, so a usual frame is allowed for.
    const QSize frame(16, 40);
    if (auto *main = qobject_cast<Widget *>(&window))
        main->form()->fitInto(&window, available.size() - frame);
    window.setFixedSize(window.width(), window.height());
}

void fixMainWindowFrame(QWidget &window) {
    const QScreen *screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    fixMainWindowFrame(
        window, screen ? screen->availableGeometry()
                       : QRect(0, 0, Ui::Widget::kFullWidth + 16, Ui::Widget::kFullHeight + 40));
}
