#include "widget.h"

#include "paramsettools.h"
#include "ui_widget.h"

#include "battertstackthread.h"
#include "busround.h"
#include "buswindow.h"
#include "commanddispatcher.h"
#include "linksession.h"
#include "faultrecordswindow.h"
#include "linkhealth.h"
#include "linkmonitorwindow.h"
#include "pagerecorder.h"
#include "pagerefresh.h"
#include "pollplan.h"
#include "portfollow.h"
#include "recorddialog.h"
#include "registermirror.h"
#include "serialconfig.h"
#include "serialsettings.h"
#include "storedsettings.h"
#include "systick.h"
#include "trendmodel.h"
#include "trendwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {

constexpr int kStatusPeriodMs = 50;

const char kTableStyle[] = "background-color:transparent;border:none;color: white;";
const char kHeaderStyle[] = "QHeaderView::section{background-color:transparent;color: white;}";
const char kFaultButtonStyle[] = "QPushButton{background-color: rgb(247, 51, 61);border-radius:15;"
                                 "padding:2px 4px;}QPushButton:pressed{background-color:rgb(104, "
                                 "16, 21);}";

// A control beside the form's own (not a push button: those all go to the dispatcher).
QToolButton *makeToolButton(QWidget *parent, const char *name, const QString &text,
                            const QString &tip, const QRect &geometry) {
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(text);
    b->setToolTip(tip);
    b->setGeometry(geometry);
    b->setCursor(Qt::PointingHandCursor);
    b->setFocusPolicy(Qt::NoFocus);
    b->raise();
    return b;
}

void styleRedToolButton(QToolButton *b) {
    b->setStyleSheet(QStringLiteral("QToolButton{background-color: rgb(247, 51, 61);"
                                    "border-radius:15;padding:2px 4px;color:white;}"
                                    "QToolButton:pressed{background-color:rgb(104, 16, 21);}"));
}

void styleTable(QTableWidget *table) {
    table->setStyleSheet(QLatin1String(kTableStyle));
    table->horizontalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
    table->verticalHeader()->setStyleSheet(QLatin1String(kHeaderStyle));
}

} // namespace

Widget::Widget(QWidget *parent, FormBuild build) : QWidget(parent) {
    ui = new Ui::Widget;
    ui->decodeHomeAhead = build == FormBuild::HomeFirst;
    ui->setupHome(this);

    m_serialConfig = new serialConfig(nullptr);
    m_link = new LinkSession(nullptr);
    m_worker = m_link->worker();
    // The page's plan, with the bus round fitted in while the Bus window is open.
    auto round = std::make_unique<BusRound>(std::make_unique<PageFollower>());
    m_busRound = round.get();
    m_worker->setPollSource(std::move(round));
    connect(this, SIGNAL(NeedToConfigCom()), m_serialConfig, SLOT(showAlreadyComConfig()));

    // The refresh timer fires when the next page pass is due, and a tab change is followed at
    // once. The status timer looks for a new status text 20 times a second: soon enough for
    // the eye, and no cross-thread event per status change.
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    m_refreshTimer->setTimerType(Qt::PreciseTimer);
    connect(m_refreshTimer, &QTimer::timeout, this, &Widget::slotRefeshParaTimer);
    m_statusTimer = new QTimer(this);
    connect(m_statusTimer, &QTimer::timeout, this, &Widget::slotKelvaneComTimer);

    const char *icons[] = {":/images/HOME_Deep.png", ":/images/Data_Deep.png",
                           ":/images/Settings_Deep.png", ":/images/Fault_Deep.png",
                           ":/images/PACK_Deep.png"};
    for (int i = 0; i < 5; ++i)
        ui->tabWidget->setTabIcon(i, QIcon(QLatin1String(icons[i])));
    ui->tabWidget->setIconSize(QSize(80, 200));

    linkOp = 0;
    resetLinkState();
    resetPollPlan();

    // The link monitor (Ctrl+L) and the recording in the heading strip, left of the tab bar:
    // the footer's fields fill it, and on a small screen they close up further.
    auto *monitorKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(monitorKey, &QShortcut::activated, this, &Widget::showLinkMonitor);
    QToolButton *monitorButton = makeToolButton(
        this, "linkMonitor_btn", tr("Link"),
        tr("Link monitor: frames, outcomes and counters (Ctrl+L)"), QRect(770, 22, 60, 26));
    connect(monitorButton, &QToolButton::clicked, this, &Widget::showLinkMonitor);
    QToolButton *busButton =
        makeToolButton(this, "bus_btn", tr("Bus"),
                       tr("Every controller on the line at once"), QRect(836, 22, 56, 26));
    connect(busButton, &QToolButton::clicked, this, [this] { showBus(); });
    // "Rec" starts recording into a folder the operator picks; while it runs the button shows
    // how long, and a click stops it.
    m_recorder = std::make_unique<PageRecorder>();
    m_recordButton =
        makeToolButton(this, "record_btn", tr("Rec"), tr("Record the pages shown into CSV files"),
                       QRect(690, 22, 74, 26));
    connect(m_recordButton, &QToolButton::clicked, this, &Widget::recordButtonClicked);

    m_trends = std::make_unique<TrendModel>();
    auto *trendKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(trendKey, &QShortcut::activated, this, &Widget::showTrends);
    QToolButton *trendButton =
        makeToolButton(ui->Host_tabWidget, "trends_btn", tr("Trends"),
                       tr("The Home page's values over time (Ctrl+T)"), QRect(1150, 172, 91, 30));
    connect(trendButton, &QToolButton::clicked, this, &Widget::showTrends);
    styleRedToolButton(trendButton);

    // Turning to another page before the rest is built builds it first.
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, [this] { completeForm(); });
    if (build == FormBuild::Whole)
        completeForm();
    else
        // A window that is not painted soon (started minimised) still refreshes and records.
        QTimer::singleShot(1000, this, &Widget::completeForm);
}

void Widget::paintEvent(QPaintEvent *event) {
    // The window is on screen: the other pages are built on the event loop's next turn, once
    // this first picture has gone out.
    if (!m_formComplete && !m_completionQueued) {
        m_completionQueued = true;
        QMetaObject::invokeMethod(this, &Widget::completeForm, Qt::QueuedConnection);
    }
    QWidget::paintEvent(event);
}

void Widget::completeForm() {
    if (m_formComplete)
        return;
    m_formComplete = true;
    // A page turned to before this is on screen, with its new widgets to show.
    QWidget *shownPage = isVisible() ? ui->tabWidget->currentWidget() : nullptr;
    ui->setupRest(this);

    for (QPushButton *button : findChildren<QPushButton *>()) {
        connect(button, &QPushButton::clicked, this, &Widget::slotmainBtnClicked);
        button->setCursor(Qt::PointingHandCursor);
    }

    m_dispatcher = new CommandDispatcher(this, ui, m_serialConfig, m_link);
    connect(m_dispatcher, &CommandDispatcher::needToConfigCom, this, &Widget::NeedToConfigCom);

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

    m_dispatcher->connectEditTracking();

    m_pageRefresh = std::make_unique<PageRefresh>(this);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &Widget::slotRefeshParaTimer);

    ui->stackedWidget->setCurrentIndex(0);

    QToolButton *recordsButton =
        makeToolButton(ui->Fault_tabWidget, "faultRecords_btn", tr("Records"),
                       tr("The fault records read, on screen"), QRect(1258, 706, 91, 37));
    connect(recordsButton, &QToolButton::clicked, this, &Widget::showFaultRecords);
    styleRedToolButton(recordsButton);

    m_paramSetTools = new ParamSetTools(this, ui);

    // Widgets made under a page already on screen stay hidden until shown (parents first).
    if (shownPage)
        for (QWidget *w : shownPage->findChildren<QWidget *>())
            if (w->isHidden() && !w->testAttribute(Qt::WA_WState_ExplicitShowHide) &&
                w->parentWidget()->isVisible())
                w->show();

    // The tick runs from the first window's construction to the end of the process.
    startProcessTick();
    m_refreshTimer->start(10);
    m_statusTimer->start(kStatusPeriodMs);
    emit formCompleted();
}

Ui::Widget *Widget::form() const {
    const_cast<Widget *>(this)->completeForm();
    return ui;
}

void Widget::fitFormInto(const QSize &available) {
    ui->fitInto(this, available);
}

QMessageBox *Widget::confirmationBox() const {
    return form() ? m_dispatcher->confirmationBox() : nullptr;
}

Widget::~Widget() {
    // The worker uses the shared state and the port until it has ended: stop and join it
    // before anything else goes away.
    if (m_worker && m_worker->isRunning())
        m_worker->stopLink();
    delete m_linkMonitor;
    m_linkMonitor = nullptr;
    delete m_busWindow;
    m_busWindow = nullptr;
    delete m_trendWindow;
    m_trendWindow = nullptr;
    delete m_faultRecords;
    m_faultRecords = nullptr;
    delete m_paramSetTools;
    m_paramSetTools = nullptr;
    delete m_link; // and with it the worker
    m_link = nullptr;
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

void Widget::closeEvent(QCloseEvent *event) {
    QWidget::closeEvent(event);
    // One way out: the tool windows (shown, minimised or behind others) go with the main
    // window, which cannot be brought back once closed; the link stops and lets go of the port
    // and its lock file before the event loop ends.
    for (QWidget *top : QApplication::topLevelWidgets())
        if (top != this && top->isVisible())
            top->close();
    if (m_worker && m_worker->isRunning())
        m_link->stop();
    if (m_paramSetTools)
        m_paramSetTools->flushAudit();
    emit closed();
}

void Widget::stopForExit() {
    if (m_worker && m_worker->isRunning())
        m_worker->stopLink();
    if (m_paramSetTools)
        m_paramSetTools->flushAudit();
    m_recorder->stop();
    stopProcessTick();
}

TrendWindow *Widget::showTrends() {
    if (!m_trendWindow)
        m_trendWindow = new TrendWindow(m_trends.get(), nullptr);
    m_trendWindow->show();
    m_trendWindow->raise();
    m_trendWindow->activateWindow();
    return m_trendWindow;
}

FaultRecordsWindow *Widget::showFaultRecords() {
    if (!m_faultRecords)
        m_faultRecords = new FaultRecordsWindow(nullptr);
    m_faultRecords->show();
    m_faultRecords->raise();
    m_faultRecords->activateWindow();
    return m_faultRecords;
}

LinkMonitorWindow *Widget::showLinkMonitor() {
    if (!m_linkMonitor)
        m_linkMonitor = new LinkMonitorWindow(m_worker, nullptr);
    m_linkMonitor->show();
    m_linkMonitor->raise();
    m_linkMonitor->activateWindow();
    return m_linkMonitor;
}

BusWindow *Widget::showBus() {
    if (!m_busWindow) {
        m_busWindow = new BusWindow(m_busRound, nullptr);
        m_busWindow->setRecorder(m_recorder.get());
        connect(m_busWindow, &BusWindow::controllerChosen, this, [this](int address) {
            form(); // the dispatcher's address box
            m_dispatcher->selectController(static_cast<uint8_t>(address));
        });
    }
    m_busWindow->show();
    m_busWindow->raise();
    m_busWindow->activateWindow();
    return m_busWindow;
}

int Widget::settingsPageIndex() const {
    return form() ? m_dispatcher->settingsPageIndex() : 0;
}

CommandDispatcher *Widget::dispatcher() const {
    return form() ? m_dispatcher : nullptr;
}

PageRefresh *Widget::pageRefresh() const {
    return form() ? m_pageRefresh.get() : nullptr;
}

void Widget::slotmainBtnClicked() {
    m_dispatcher->dispatch(sender());
}

void Widget::slotRefeshParaTimer() {
    const int before = m_pageRefresh->msUntilNextPass();
    m_pageRefresh->slotRefeshParaTimer();
    const int next = m_pageRefresh->msUntilNextPass();
    // After a page pass: the age of the values in the status tooltip moves on.
    if (next > before || before == 0)
        afterPagePass();
    m_refreshTimer->start(std::max(1, next));
}

void Widget::slotKelvaneComTimer() {
    // The link followed a re-plugged adapter to its new name: that name is the one in use,
    // shown in the settings window and remembered.
    const QString moved = takePortMoved();
    if (!moved.isEmpty()) {
        SerialSettings s = serialSettings();
        const QString description = s.comName.section(QLatin1Char(':'), 1);
        s.comName = description.isEmpty() ? moved : moved + QLatin1Char(':') + description;
        setSerialSettings(s);
        storeSerialSettings(s, deviceAddr.load());
    }
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
    const StatusLook look = statusLook(linkHealthState.load(std::memory_order_relaxed));
    if (!m_statusShown || look != m_statusLook) {
        ui->statusText_label->setStyleSheet(
            look == StatusLook::Failure    ? QStringLiteral("color:red;font-weight: bold;")
            : look == StatusLook::Degraded ? QStringLiteral("color:#d98200;font-weight: bold;")
                                           : tr("color:green;font-weight: bold;"));
        m_statusShown = true;
        m_statusLook = look;
    }
    updateStatusTip();
}

void Widget::afterPagePass() {
    updateStatusTip();
    // The trends show the selected controller; a sample for every Home pass whose values were
    // read since the last one, kept with the address they were read from.
    m_trends->selectController(deviceAddr.load(std::memory_order_acquire));
    const QVector<NamedGroup> &values = m_pageRefresh->shownValues();
    const int tab = m_pageRefresh->shownValuesTab();
    const uint32_t homeReads = blockLandings(2);
    if (tab == 0 && homeReads != m_trendLandings) {
        m_trendLandings = homeReads;
        m_trends->sample(values.first(), displaySnapshot.address,
                         QDateTime::currentMSecsSinceEpoch());
    }
    if (!m_recorder->isRecording() || tab < 0)
        return;
    QString error;
    if (!m_recorder->recordPass(values, tab, QDateTime::currentDateTime(), &error)) {
        stopRecording();
        // Not modal: the pages go on refreshing while the operator reads it.
        auto *box =
            new QMessageBox(QMessageBox::Warning, tr("tips"),
                            tr("Recording stopped: %1\nWhat was written is kept.").arg(error),
                            QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setObjectName(QStringLiteral("recordingStoppedBox"));
        box->open();
        return;
    }
    const qint64 secs = m_recorder->startedAt().secsTo(QDateTime::currentDateTime());
    m_recordButton->setText(QStringLiteral("\u25CF %1:%2:%3")
                                .arg(secs / 3600)
                                .arg(secs / 60 % 60, 2, 10, QLatin1Char('0'))
                                .arg(secs % 60, 2, 10, QLatin1Char('0')));
}

bool Widget::startRecording(const QString &folder, QString *error) {
    if (!m_recorder->start(folder, error))
        return false;
    m_recordButton->setText(QStringLiteral("\u25CF 0:00:00"));
    m_recordButton->setStyleSheet(QStringLiteral("color:red;font-weight:bold;"));
    m_recordButton->setToolTip(
        tr("Recording into %1 since %2: click to stop")
            .arg(QDir::toNativeSeparators(m_recorder->folder()),
                 m_recorder->startedAt().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))));
    return true;
}

void Widget::stopRecording() {
    m_recorder->stop();
    m_recordButton->setText(tr("Rec"));
    m_recordButton->setStyleSheet(QString());
    m_recordButton->setToolTip(tr("Record the pages shown into CSV files"));
}

void Widget::recordButtonClicked() {
    if (m_recorder->isRecording()) {
        stopRecording();
        return;
    }
    QString folder;
    RecordFormat format = m_recorder->format();
    if (!askRecording(this, exportFolderToOffer(), &folder, &format))
        return;
    m_recorder->setFormat(format);
    QString error;
    if (!startRecording(folder, &error))
        QMessageBox::warning(this, tr("tips"), tr("Recording not started: %1").arg(error));
}

void Widget::updateStatusTip() {
    // Why the link cannot reach the port or the gateway, or why it uses another port now.
    char problem[2 * kStatusTextSize];
    readLinkProblem(problem);
    QString tip = QString::fromUtf8(problem);
    if (linkHealthState.load(std::memory_order_relaxed) != LinkHealth::OpenFailed)
        tip = tip.isEmpty() ? m_pageRefresh->valuesAgeText()
                            : tip + QLatin1Char('\n') + m_pageRefresh->valuesAgeText();
    if (ui->statusText_label->toolTip() != tip)
        ui->statusText_label->setToolTip(tip);
}

Widget::StatusLook statusLook(uint8_t healthState) {
    // Green while the link is healthy, amber when the values are not being read, red for a
    // failure the operator must act on. The text beside it is the link's status text.
    using Look = Widget::StatusLook;
    static constexpr struct {
        LinkHealth::State state;
        Look look;
    } kLooks[] = {
        {LinkHealth::Idle, Look::Healthy},          {LinkHealth::Refreshing, Look::Healthy},
        {LinkHealth::NoAnswer, Look::Failure},      {LinkHealth::OpenFailed, Look::Failure},
        {LinkHealth::Disconnected, Look::Degraded}, {LinkHealth::SettingSuccessful, Look::Healthy},
        {LinkHealth::SettingFailed, Look::Failure}, {LinkHealth::ListFailed, Look::Failure},
    };
    for (const auto &entry : kLooks)
        if (entry.state == healthState)
            return entry.look;
    return Look::Healthy;
}

void fixMainWindowFrame(QWidget &window, const QRect &available) {
    window.setWindowFlags(window.windowFlags() & ~Qt::WindowMaximizeButtonHint);
    // The window's title bar and borders come out of the screen area too; before the window
    // is shown they are not known, so a usual frame is allowed for.
    const QSize frame(16, 40);
    if (auto *main = qobject_cast<Widget *>(&window))
        main->fitFormInto(available.size() - frame);
    window.setFixedSize(window.width(), window.height());
}

void fixMainWindowFrame(QWidget &window) {
    const QScreen *screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    fixMainWindowFrame(
        window, screen ? screen->availableGeometry()
                       : QRect(0, 0, Ui::Widget::kFullWidth + 16, Ui::Widget::kFullHeight + 40));
}
