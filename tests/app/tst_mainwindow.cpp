// The main window as a whole: its frame, its state right after start-up, the status label,
// and the order of teardown while the link runs. The link runs over a real pseudo-terminal
// to the simulated controller.

#include "battertstackthread.h"
#include "buswindow.h"
#include "faultrecordswindow.h"
#include "linkmonitor.h"
#include "linkmonitorwindow.h"
#include "pagerecorder.h"
#include "pagerefresh.h"
#include "trendmodel.h"
#include "trendwindow.h"

#include "ptysimulator.h"
#include "registermirror.h"
#include "serialconfig.h"
#include "serialline.h"
#include "serialsettings.h"
#include "ui_widget.h"
#include "widget.h"
#include <QtCharts/QChart>
#include <QtCharts/QDateTimeAxis>

#include <QListWidget>
#include <QMessageBox>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSerialPort>
#include <QStringList>
#include <QTabBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextFrame>
#include <QHeaderView>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTableView>
#include <QtTest>

#include <memory>

namespace {

// Counts the style and polish events a widget receives.
class StyleEventCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::StyleChange || e->type() == QEvent::Polish ||
            e->type() == QEvent::PolishRequest)
            ++count;
        return false;
    }
};

// Ordered record of teardown events, written from the GUI thread and the worker thread.
class EventLog {
public:
    void add(const QString &e) {
        QMutexLocker lock(&m_mutex);
        m_events.append(e);
    }
    QStringList events() const {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_events;
};

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void frameIsFixed();
    void smallScreenScrollsThePages_data();
    void smallScreenScrollsThePages();
    void startUpState();
    void homeFirstBuildsTheSameWindow_data();
    void homeFirstBuildsTheSameWindow();
    void everyFormButtonIsWired();
    void statusLabelRepaintsOnlyOnChange();
    void nothingIsSentBeforeConnect();
    void closingWhileConnectedStopsTheWorkerFirst();
    void closingTheWindowEndsTheProgram();
    void linkHealthOnStatusAndFields();
    void openFailureTellsWhy_data();
    void openFailureTellsWhy();
    void linkMonitorShowsTheTraffic();
    void recordingWritesFreshPasses();
    void recordingStopsOnAFullDisk();
    void trendsFollowTheHomePage();
    void busAddresses_data();
    void busAddresses();
    void busWindowShowsEachControllerOwnValues();

private:
    std::unique_ptr<PtySimulator> m_sim;
};

void TestMainWindow::initTestCase() {
    m_sim = std::make_unique<PtySimulator>();
    QVERIFY(m_sim->start());
}

void TestMainWindow::cleanupTestCase() {
    m_sim->stop();
    m_sim.reset();
}

void TestMainWindow::init() {
    m_sim->clearRequests();
    setComConfigured(false);
}

void TestMainWindow::frameIsFixed() {
    Widget w;
    // A screen that holds the window with its frame.
    fixMainWindowFrame(w, QRect(0, 0, 1920, 1040));
    QVERIFY(!w.form()->scrolls());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.size(), QSize(1400, 900));
    QCOMPARE(w.windowTitle(), QStringLiteral("Kelvane_VaduzV1.2"));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(w.minimumSize(), QSize(1400, 900));
    QCOMPARE(w.maximumSize(), QSize(1400, 900));
    w.resize(1600, 1000);
    QCOMPARE(w.size(), QSize(1400, 900));
    w.showMaximized();
    QTRY_VERIFY(w.isVisible());
    QCOMPARE(w.size(), QSize(1400, 900));
}

// A screen whose available area cannot hold 1400 x 900 and a frame gets a window that fits it,
// the pages scrolling inside and every footer control in view; the offscreen platform's own
// screen (800 x 600) is such a screen.
void TestMainWindow::smallScreenScrollsThePages_data() {
    QTest::addColumn<QRect>("available"); // empty: the screen's own available area
    QTest::addColumn<bool>("scrolls");
    QTest::newRow("full HD: nothing changes") << QRect(0, 0, 1920, 1040) << false;
    QTest::newRow("exactly enough") << QRect(0, 0, 1416, 940) << false;
    QTest::newRow("1366 x 768 laptop, task bar") << QRect(0, 0, 1366, 728) << true;
    QTest::newRow("too short only") << QRect(0, 0, 1600, 860) << true;
    QTest::newRow("offscreen platform's screen") << QRect() << true;
}

void TestMainWindow::smallScreenScrollsThePages() {
    QFETCH(QRect, available);
    QFETCH(bool, scrolls);
    Widget w;
    // The one-click list walks the parameter fields in the order a search of the window meets
    // them; moving the pages into scroll areas keeps that order.
    const auto fieldOrder = [&w] {
        QStringList names;
        for (QPlainTextEdit *t : w.findChildren<QPlainTextEdit *>())
            names.append(t->objectName());
        return names;
    };
    const QStringList orderBefore = fieldOrder();
    if (available.isNull()) {
        fixMainWindowFrame(w);
        available = w.screen()->availableGeometry();
        QVERIFY(available.width() < 1416 || available.height() < 940);
    } else {
        fixMainWindowFrame(w, available);
    }
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    Ui::Widget *ui = w.form();
    QCOMPARE(ui->scrolls(), scrolls);
    const QSize client = scrolls ? available.size() - QSize(16, 40) : QSize(1400, 900);
    QCOMPARE(w.size(), client.boundedTo(QSize(1400, 900)));
    QCOMPARE(w.minimumSize(), w.size());
    QCOMPARE(w.maximumSize(), w.size());
    // Every page keeps its bindings and its full size, inside a scroll area when scrolling.
    for (QWidget *page : {ui->Host_tabWidget, ui->Setting_tabWidget, ui->Pack_tabWidget}) {
        auto *area = qobject_cast<QScrollArea *>(page->parentWidget()->parentWidget());
        QCOMPARE(area != nullptr, scrolls);
        if (area)
            QCOMPARE(page->size(), QSize(1398, 803));
    }
    QCOMPARE(ui->readField(2, 57)->parentWidget(), ui->Host_tabWidget);
    QCOMPARE(fieldOrder(), orderBefore);
    // The footer's controls and the tab bar stand inside the window (the footer scrolls on
    // its own only below its narrowest width).
    // (The form's own footer reaches two pixels past the window's bottom and right edges.)
    const QRect window = QRect(QPoint(0, 0), w.size()).adjusted(0, 0, 2, 2);
    auto *footerBar = w.findChild<QScrollArea *>(QStringLiteral("footer_scroll"));
    for (QWidget *c : std::initializer_list<QWidget *>{
             ui->one_key_set_btn, ui->one_key_set_muti_batt_btn, ui->statusText_label,
             ui->devaddrSetText, ui->devaddrSet_btn, ui->com_set_btn, ui->com_open_close_btn}) {
        QVERIFY2(c->isVisible(), qPrintable(c->objectName()));
        const QRect at(c->mapTo(&w, QPoint(0, 0)), c->size());
        if (footerBar)
            QVERIFY2(at.top() >= footerBar->y() && at.bottom() <= window.bottom(),
                     qPrintable(c->objectName()));
        else
            QVERIFY2(window.contains(at), qPrintable(c->objectName()));
        QVERIFY2(!ui->tabWidget->geometry().intersects(at) ||
                     at.top() >= ui->tabWidget->y() + ui->tabWidget->height() - 4,
                 qPrintable(c->objectName()));
    }
    QTabBar *bar = ui->tabWidget->tabBar();
    for (int i = 0; i < 5; ++i) {
        const QRect tab(bar->mapTo(&w, bar->tabRect(i).topLeft()), bar->tabRect(i).size());
        QVERIFY2(window.contains(tab.center()), qPrintable(QString::number(i)));
    }
}

void TestMainWindow::startUpState() {
    setStatusText("Setting Successful"); // left over from an earlier window
    Widget w;
    w.show();
    Ui::Widget *ui = w.form();
    QTRY_COMPARE(ui->statusText_label->text(), QStringLiteral("Idle"));
    QCOMPARE(ui->statusText_label->styleSheet(), QStringLiteral("color:green;font-weight: bold;"));
    QCOMPARE(ui->tabWidget->currentIndex(), 0);
    QCOMPARE(ui->stackedWidget->currentIndex(), 0);
    QCOMPARE(w.settingsPageIndex(), 0);
    QCOMPARE(ui->com_open_close_btn->text(), QStringLiteral("Connect"));
    QVERIFY(!w.worker()->isRunning());
    QVERIFY(w.settingsDialog() && !w.settingsDialog()->isVisible());
    QCOMPARE(ui->tabWidget->iconSize(), QSize(80, 200));
    for (int i = 0; i < 5; ++i)
        QVERIFY(!ui->tabWidget->tabIcon(i).isNull());
    QCOMPARE(pollPeriod.load(), 1000);
    QCOMPARE(respTimeout.load(), 100);
    QCOMPARE(int(linkOp.load()), 0);
    QCOMPARE(int(faultCount.load()), 0);
    QCOMPARE(ui->Rack_tableWidget->styleSheet(),
             QStringLiteral("background-color:transparent;border:none;color: white;"));
    QVERIFY(ui->ReadingFault_btn->styleSheet().startsWith(
        QStringLiteral("QPushButton{background-color: rgb(247, 51, 61)")));
    // The first page pass fills the clock.
    QTRY_VERIFY_WITH_TIMEOUT(!ui->timeTips_label->text().isEmpty(), 5000);
}

// The program's start builds Home first and the other pages after the first paint, or at once
// when something needs them; either way the window ends up as one built whole: the same
// widgets and objects in the same order and visibility, and the same Tab order.
void TestMainWindow::homeFirstBuildsTheSameWindow_data() {
    QTest::addColumn<int>("how"); // 0: shown and left to the event loop, 1: form() asked for
                                  // before showing, 2: Pack turned to right after showing
    QTest::newRow("after the first paint") << 0;
    QTest::newRow("form asked for first") << 1;
    QTest::newRow("page turned to first") << 2;
}

void TestMainWindow::homeFirstBuildsTheSameWindow() {
    QFETCH(int, how);
    const auto tree = [](Widget &w) {
        QStringList out;
        for (QObject *o : w.findChildren<QObject *>()) {
            // A document makes its frames when it first holds text.
            if (qobject_cast<QTextFrame *>(o))
                continue;
            const auto *widget = qobject_cast<QWidget *>(o);
            out << QStringLiteral("%1 %2 in %3%4")
                       .arg(QLatin1String(o->metaObject()->className()), o->objectName(),
                            o->parent()->objectName(),
                            widget && widget->isVisible() ? QStringLiteral(" shown") : QString());
        }
        return out;
    };
    const auto tabOrder = [](Widget &w) {
        QStringList out;
        for (QWidget *f = w.nextInFocusChain(); f != &w; f = f->nextInFocusChain())
            if (f->focusPolicy() & Qt::TabFocus)
                out << f->objectName();
        return out;
    };
    const auto turnToPack = [](Widget &w) {
        w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(4);
    };
    Widget whole;
    fixMainWindowFrame(whole, QRect(0, 0, 1920, 1040));
    whole.show();
    if (how == 2)
        turnToPack(whole);
    QVERIFY(QTest::qWaitForWindowExposed(&whole));

    Widget w(nullptr, Widget::FormBuild::HomeFirst);
    fixMainWindowFrame(w, QRect(0, 0, 1920, 1040));
    QVERIFY(!w.formComplete());
    QVERIFY(w.findChild<QPlainTextEdit *>(QStringLiteral("R_Addr2Num0_text")));
    QVERIFY(!w.findChild<QPlainTextEdit *>(QStringLiteral("W_Addr106_text")));
    if (how == 1)
        QVERIFY(w.form()->editField(106));
    w.show();
    if (how == 2)
        turnToPack(w);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.formComplete());
    QCOMPARE(tree(w), tree(whole));
    QCOMPARE(tabOrder(w), tabOrder(whole));
    // The footer, made with Home, comes after the pages made later, as in creation order.
    const QStringList order = tabOrder(whole);
    QVERIFY(order.indexOf(QStringLiteral("needReadFaultCnt_text")) >= 0);
    QVERIFY(order.indexOf(QStringLiteral("one_key_set_btn")) >
            order.indexOf(QStringLiteral("needReadFaultCnt_text")));
    QVERIFY(!w.form()->fieldWidgets().contains(nullptr));
    QCOMPARE(int(w.form()->fieldWidgets().size()), int(fieldMapSize()));
    QCOMPARE(w.form()->PACK_tableWidget->isVisible(), how == 2);
}

void TestMainWindow::everyFormButtonIsWired() {
    Widget w;
    const auto buttons = w.findChildren<QPushButton *>();
    QCOMPARE(buttons.size(), 102 + 9);
    for (QPushButton *b : buttons)
        QVERIFY2(b->cursor().shape() == Qt::PointingHandCursor, qPrintable(b->objectName()));
    // Every write button reaches the dispatcher: a press stages its parameter. (74 asks for
    // a valid date first, 81-83 for a confirmation.) Writes are taken only while the link runs;
    // here no worker takes them, so they stay staged to be looked at.
    linkRunning = 1;
    portEnabled = 1;
    int pressed = 0;
    for (int n = 1; n <= 108; ++n) {
        QPushButton *b = w.form()->writeButton(n);
        if (!b || n == 74 || (n >= 81 && n <= 83))
            continue;
        writePending = 0;
        w.form()->editField(n)->setPlainText(QStringLiteral("1"));
        b->click();
        QVERIFY2(writePending.load() == 1 && takeStagedWrite().start == n,
                 qPrintable(b->objectName()));
        ++pressed;
    }
    QCOMPARE(pressed, 26 + 58 + 15 - 1);
    portEnabled = 0;
    linkRunning = 0;
    linkOp = 0;
    writePending = 0;
    w.form()->next_page1->click();
    QCOMPARE(w.form()->stackedWidget->currentIndex(), 1);
    w.form()->next_page2->click();
    QCOMPARE(w.form()->stackedWidget->currentIndex(), 0);
}

void TestMainWindow::statusLabelRepaintsOnlyOnChange() {
    Widget w;
    w.show();
    QLabel *label = w.form()->statusText_label;
    QTRY_COMPARE(label->text(), QStringLiteral("Idle"));
    StyleEventCounter counter;
    label->installEventFilter(&counter);
    // Let the status timer run several times over an unchanged text.
    const int before = counter.count;
    QTest::qWait(200);
    QCOMPARE(counter.count, before);
    setStatusText("Setting Successful");
    QTRY_COMPARE(label->text(), QStringLiteral("Setting Successful"));
    setStatusText("Idle");
    QTRY_COMPARE(label->text(), QStringLiteral("Idle"));
    QCOMPARE(label->styleSheet(), QStringLiteral("color:green;font-weight: bold;"));
    label->removeEventFilter(&counter);
}

void TestMainWindow::nothingIsSentBeforeConnect() {
    addExtraPort(m_sim->slavePath(), QStringLiteral("Simulated controller"), true);
    Widget w;
    w.show();
    // A page pass and a full poll period go by.
    QTRY_VERIFY_WITH_TIMEOUT(!w.form()->timeTips_label->text().isEmpty(), 5000);
    const QString shown = w.form()->timeTips_label->text();
    QTRY_VERIFY_WITH_TIMEOUT(w.form()->timeTips_label->text() != shown, 5000);
    QCOMPARE(m_sim->requestCount(), 0);
    QVERIFY(!w.worker()->isRunning());
    // Connect without applied settings only asks for them.
    QTimer closer;
    connect(&closer, &QTimer::timeout, &w, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
            box->done(0);
    });
    closer.start(20);
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    closer.stop();
    QCOMPARE(w.form()->com_open_close_btn->text(), QStringLiteral("Connect"));
    QVERIFY(!w.worker()->isRunning());
    QCOMPARE(m_sim->requestCount(), 0);
}

void TestMainWindow::closingWhileConnectedStopsTheWorkerFirst() {

    EventLog log;
    auto w = std::make_unique<Widget>();
    w->show();
    // The settings window starts unconfigured; apply what "Setting" would store.
    useSerialLine(m_sim->slavePath());
    setComConfigured(true);
    deviceAddr = 1;
    connect(
        w->worker(), &QThread::finished, w->worker(),
        [&log] { log.add(QStringLiteral("worker finished")); }, Qt::DirectConnection);
    connect(w->settingsDialog(), &QObject::destroyed,
            [&log] { log.add(QStringLiteral("dialog deleted")); });
    connect(w->form()->tabWidget, &QObject::destroyed,
            [&log] { log.add(QStringLiteral("form widgets deleted")); });

    QTest::mouseClick(w->form()->com_open_close_btn, Qt::LeftButton);
    QCOMPARE(w->form()->com_open_close_btn->text(), QStringLiteral("Disconnect"));
    QTRY_VERIFY_WITH_TIMEOUT(m_sim->answerCount() > 0, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(mirrorCell(2, 17) != 0 || mirrorCell(2, 16) != 0, 10000);

    w.reset();
    const QStringList events = log.events();
    QCOMPARE(events.value(0), QStringLiteral("worker finished"));
    QVERIFY(events.indexOf(QStringLiteral("dialog deleted")) > 0);
    QVERIFY(events.indexOf(QStringLiteral("form widgets deleted")) >
            events.indexOf(QStringLiteral("dialog deleted")));
    QCOMPARE(int(linkRunning.load()), 0);
    QCOMPARE(int(portEnabled.load()), 0);
    // The port is closed: nothing more reaches the controller.
    const int sent = m_sim->requestCount();
    QTest::qWait(300);
    QCOMPARE(m_sim->requestCount(), sent);
}

// One way out: closing the main window with tool windows open (one minimised) closes them,
// stops the link, lets go of the port and its lock file, and ends the event loop.
void TestMainWindow::closingTheWindowEndsTheProgram() {
    auto w = std::make_unique<Widget>();
    w->show();
    useSerialLine(m_sim->slavePath());
    setComConfigured(true);
    deviceAddr = 1;
    QTest::mouseClick(w->form()->com_open_close_btn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(m_sim->answerCount() > 0, 10000);
    QList<QWidget *> tools;
    tools << w->showLinkMonitor() << w->showTrends() << w->showFaultRecords() << w->showBus();
    tools.last()->showMinimized();
    bool loopEnded = false;
    QTimer::singleShot(0, w.get(), &QWidget::close);
    // The guard ends a loop that would not end by itself, and the test then fails. It lives
    // no longer than this test: its timer must not fire into a later one.
    QObject guard;
    QTimer::singleShot(20000, &guard, [&loopEnded] {
        if (!loopEnded)
            QCoreApplication::exit(1);
    });
    const int result = QApplication::exec();
    loopEnded = true;
    QCOMPARE(result, 0);
    for (QWidget *tool : tools)
        QVERIFY2(!tool->isVisible(), tool->metaObject()->className());
    QVERIFY(!w->worker()->isRunning());
    QCOMPARE(int(portEnabled.load()), 0);
    // The lock is gone: another program opens the port.
    QSerialPort other(m_sim->slavePath());
    QVERIFY2(other.open(QIODevice::ReadWrite), qPrintable(other.errorString()));
}

// The status text and colour, and the dimming of the Home page's values, through a controller
// that answers, falls silent, answers again, and a Disconnect.
void TestMainWindow::linkHealthOnStatusAndFields() {
    Widget w;
    w.show();
    useSerialLine(m_sim->slavePath());
    deviceAddr = 1;
    QLabel *status = w.form()->statusText_label;
    QWidget *soc = w.findChild<QWidget *>(QStringLiteral("R_Addr2Num17_text"));
    QVERIFY(soc);
    const QString green = QStringLiteral("color:green;font-weight: bold;");
    const QString red = QStringLiteral("color:red;font-weight: bold;");

    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Refreshing Data"), 5000);
    QCOMPARE(status->styleSheet(), green);
    QTRY_VERIFY_WITH_TIMEOUT(!w.pageRefresh()->isDimmed(soc), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(
        status->toolTip().startsWith(QStringLiteral("Values on this page read")), 3000);

    // Silent: three transactions without an answer, then "No answer" in red; the values fade
    // after three poll cycles without a read.
    SimFaults silent;
    silent.silent = true;
    m_sim->setFaults(silent);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("No answer"), 6000);
    QCOMPARE(status->styleSheet(), red);
    QVERIFY(noAnswerStreak.load() >= Battert_Stack_Thread::kNoAnswerTransactions);
    QTRY_VERIFY_WITH_TIMEOUT(w.pageRefresh()->isDimmed(soc), 5000);
    QVERIFY(!blockIsLive(2, mirrorClockMs()));

    // It answers again: healthy at the next read, live at the next page pass.
    m_sim->setFaults(SimFaults{});
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Refreshing Data"), 5000);
    QCOMPARE(status->styleSheet(), green);
    QTRY_VERIFY_WITH_TIMEOUT(!w.pageRefresh()->isDimmed(soc), 3000);

    // Disconnected: said in amber, and nothing on screen is live any more.
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Disconnected"), 3000);
    QVERIFY(status->styleSheet().contains(QStringLiteral("#d98200")));
    QTRY_VERIFY_WITH_TIMEOUT(w.pageRefresh()->isDimmed(soc), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(status->toolTip().startsWith(QStringLiteral("Not live")), 3000);
}

void TestMainWindow::openFailureTellsWhy_data() {
    QTest::addColumn<bool>("held");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no such device") << false << QStringLiteral("No such port");
    QTest::newRow("held by another program")
        << true << QStringLiteral("port in use by another program");
}

void TestMainWindow::openFailureTellsWhy() {
    QFETCH(bool, held);
    QFETCH(QString, reason);
    // Another holder of the port: a port object of its own, with the lock file every
    // well-behaved serial program takes.
    QSerialPort holder(m_sim->slavePath());
    if (held)
        QVERIFY(holder.open(QIODevice::ReadWrite));
    Widget w;
    w.show();
    useSerialLine(held ? m_sim->slavePath() : QStringLiteral("/dev/vaduz-no-such-port"));
    deviceAddr = 1;
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    QLabel *status = w.form()->statusText_label;
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Serial open failed"), 5000);
    QCOMPARE(status->styleSheet(), QStringLiteral("color:red;font-weight: bold;"));
    QTRY_VERIFY2_WITH_TIMEOUT(status->toolTip().contains(reason), qPrintable(status->toolTip()),
                              3000);
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Disconnected"), 3000);
}

// The monitor shows each request and answer decoded, records only while shown, and keeps its
// ring bounded.
void TestMainWindow::linkMonitorShowsTheTraffic() {
    Widget w;
    w.show();
    useSerialLine(m_sim->slavePath());
    deviceAddr = 1;
    QVERIFY(!linkMonitor().enabled());
    LinkMonitorWindow *monitor = w.showLinkMonitor();
    QVERIFY(linkMonitor().enabled());
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    const auto shown = [monitor] { return monitor->view()->toPlainText(); };
    QTRY_VERIFY_WITH_TIMEOUT(shown().contains(QStringLiteral("addr 1 answer to block 2: 100 "
                                                             "registers")),
                             5000);
    QVERIFY(shown().contains(QStringLiteral("TX  addr 1 read block 2, 100 registers  | 01 04 00 "
                                            "02 00 64 50 21")));
    QVERIFY(shown().contains(QStringLiteral("read block 2: answered in")));
    QVERIFY(monitor->countersText().contains(QStringLiteral("No answer 0")));

    SimFaults silent;
    silent.silent = true;
    m_sim->setFaults(silent);
    QTRY_VERIFY_WITH_TIMEOUT(shown().contains(QStringLiteral("read block 2: no answer")), 5000);
    m_sim->setFaults(SimFaults{});

    const QString path = QDir::temp().filePath(QStringLiteral("vaduz-monitor-test.txt"));
    QString error;
    QVERIFY2(monitor->saveTo(path, &error), qPrintable(error));
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll().contains("addr 1 read block 2, 100 registers"));
    saved.remove();

    monitor->close();
    QVERIFY(!linkMonitor().enabled());
    const int held = linkMonitor().size();
    QTest::qWait(1200);
    QCOMPARE(linkMonitor().size(), held);
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);

    // A long run: the ring keeps its bound and the newest events.
    linkMonitor().setEnabled(true);
    for (int i = 0; i < 2 * LinkMonitorLog::kCapacity + 7; ++i) {
        MonitorEvent e;
        e.text = QString::number(i);
        linkMonitor().record(e);
    }
    QCOMPARE(linkMonitor().size(), LinkMonitorLog::kCapacity);
    quint64 seq = 0;
    const QVector<MonitorEvent> all = linkMonitor().takeSince(&seq);
    QCOMPARE(all.size(), LinkMonitorLog::kCapacity);
    QCOMPARE(all.last().text, QString::number(2 * LinkMonitorLog::kCapacity + 6));
    QVERIFY(linkMonitor().takeSince(&seq).isEmpty());
    linkMonitor().setEnabled(false);
    linkMonitor().clear();
}

namespace {
// A recorded CSV file as rows of cells (none of the recorded texts holds a comma or a quote).
QList<QStringList> readCsv(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QByteArray all = f.readAll();
    if (all.startsWith("\xEF\xBB\xBF"))
        all.remove(0, 3);
    QList<QStringList> rows;
    for (const QString &line : QString::fromUtf8(all).split(QStringLiteral("\r\n")))
        if (!line.isEmpty())
            rows << line.split(QLatin1Char(','));
    return rows;
}
} // namespace

// Against the simulated controller: a file per page shown, its header, a row per pass whose
// values were read, equal to the fields on screen; the Pack page a row per pack.
void TestMainWindow::recordingWritesFreshPasses() {
    QTemporaryDir dir;
    Widget w;
    w.show();
    useSerialLine(m_sim->slavePath());
    deviceAddr = 1;
    m_sim->setFrozen(true);
    QString error;
    w.recorder()->setFormat(RecordFormat::Comma);
    QVERIFY2(w.startRecording(dir.filePath(QStringLiteral("run")), &error), qPrintable(error));
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    PageRecorder *rec = w.recorder();
    QTRY_VERIFY_WITH_TIMEOUT(rec->rowsWritten(0) >= 3, 8000);

    const QList<QStringList> home = readCsv(rec->fileFor(0));
    QVERIFY(rec->fileFor(0).endsWith(QStringLiteral("_Home.csv")));
    QCOMPARE(home.first(), PageRecorder::header(namedValues(DisplaySnapshot(), 0)));
    QVERIFY(home.first().contains(QStringLiteral("SOC (%)")));
    QCOMPARE(home.size(), rec->rowsWritten(0) + 1);
    const int soc = home.first().indexOf(QStringLiteral("SOC (%)"));
    const QStringList last = home.last();
    QCOMPARE(last.size(), home.first().size());
    QVERIFY(QDateTime::fromString(last.first(), Qt::ISODateWithMs).isValid());
    QVERIFY(last.first().contains(QLatin1Char('.')));
    QCOMPARE(last.at(soc),
             w.findChild<QPlainTextEdit *>(QStringLiteral("R_Addr2Num1_text"))->toPlainText());

    // The trend window plots the recording: its SOC column, sample for sample.
    TrendModel fromFile;
    QVERIFY2(fromFile.loadCsv(rec->fileFor(0), &error), qPrintable(error));
    QCOMPARE(fromFile.size(), home.size() - 1);
    QCOMPARE(fromFile.value(QStringLiteral("SOC (%)"), fromFile.size() - 1),
             TrendModel::leadingNumber(last.at(soc)));

    // The Pack page: its own file, one row per pack, numbered.
    w.form()->tabWidget->setCurrentIndex(4);
    QTRY_VERIFY_WITH_TIMEOUT(rec->rowsWritten(4) >= 2 * kPackCount, 10000);
    const QList<QStringList> pack = readCsv(rec->fileFor(4));
    QCOMPARE(pack.first().mid(0, 2), (QStringList{QStringLiteral("Time"), QStringLiteral("Pack")}));
    QCOMPARE(pack.size() - 1, rec->rowsWritten(4));
    QCOMPARE(pack.at(1).at(1), QStringLiteral("1"));
    QCOMPARE(pack.at(2).at(1), QStringLiteral("2"));

    // Disconnected, nothing is read: after the pass that takes the last reads, no more rows.
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    QTest::qWait(1300);
    const int rows = rec->rowsWritten(4);
    QTest::qWait(2200);
    QCOMPARE(rec->rowsWritten(4), rows);
    w.stopRecording();
    m_sim->setFrozen(false);
}

// A disk that fills up: the recording stops with a "tips" box and the file keeps whole rows.
// Needs a small tmpfs: runs only where this process may mount one.
void TestMainWindow::recordingStopsOnAFullDisk() {
    QTemporaryDir base;
    const QString mountPoint = base.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mountPoint));
    QProcess mount;
    mount.start(QStringLiteral("mount"),
                {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                 QStringLiteral("size=4k"), QStringLiteral("tmpfs"), mountPoint});
    if (!mount.waitForFinished(10000) || mount.exitCode() != 0)
        QSKIP("no permission to mount a small tmpfs");
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
    } unmount{mountPoint};

    Widget w;
    w.show();
    useSerialLine(m_sim->slavePath());
    deviceAddr = 1;
    QString error;
    w.recorder()->setFormat(RecordFormat::Comma);
    QVERIFY(w.startRecording(mountPoint, &error));
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.recorder()->isRecording(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(w.findChild<QMessageBox *>(QStringLiteral("recordingStoppedBox")),
                             2000);
    const QString stopped =
        w.findChild<QMessageBox *>(QStringLiteral("recordingStoppedBox"))->text();
    QVERIFY(stopped.startsWith(QStringLiteral("Recording stopped")));
    // The system's reason, also when the last row was cut short.
    QVERIFY2(stopped.contains(QStringLiteral("No space left on device")), qPrintable(stopped));
    const QDir folder(mountPoint);
    const QStringList files = folder.entryList({QStringLiteral("*_Home.csv")});
    QCOMPARE(files.size(), 1);
    const QList<QStringList> rows = readCsv(folder.filePath(files.first()));
    QVERIFY(rows.size() >= 2);
    for (const QStringList &row : rows)
        QCOMPARE(row.size(), rows.first().size());
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
}

// Trends: samples of the Home page's passes, the time axis over them in local time, a PNG, and
// a bound of 24 hours.
void TestMainWindow::trendsFollowTheHomePage() {
    Widget w;
    w.show();
    useSerialLine(m_sim->slavePath());
    deviceAddr = 1;
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);
    TrendModel *model = w.trendModel();
    QTRY_VERIFY_WITH_TIMEOUT(model->size() >= 3, 8000);
    TrendWindow *trends = w.showTrends();
    trends->replot();
    QCOMPARE(trends->timeAxis()->min(), QDateTime::fromMSecsSinceEpoch(model->firstTime()));
    QCOMPARE(trends->timeAxis()->max(), QDateTime::fromMSecsSinceEpoch(model->lastTime()));
    QCOMPARE(trends->chart()->series().size(), TrendModel::defaultFields().size());
    const QString socShown =
        w.findChild<QPlainTextEdit *>(QStringLiteral("R_Addr2Num1_text"))->toPlainText();
    QTRY_COMPARE_WITH_TIMEOUT(model->value(QStringLiteral("R_Addr2Num1_text"), model->size() - 1),
                              TrendModel::leadingNumber(socShown), 3000);
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("trends.png"));
    QVERIFY(trends->savePng(png));
    QVERIFY(QImage(png).width() > 100);
    QTest::mouseClick(w.form()->com_open_close_btn, Qt::LeftButton);

    // 25 hours of samples a second apart: the last 24 hours stay.
    TrendModel day;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    for (qint64 i = 0; i <= 25 * 3600; ++i)
        day.addSample(t0 + i * 1000, {{QStringLiteral("R_Addr2Num1_text"), double(i % 101)}});
    QCOMPARE(day.size(), 24 * 3600 + 1);
    QCOMPARE(day.lastTime() - day.firstTime(), TrendModel::kSpanMs);
    QCOMPARE(day.value(QStringLiteral("R_Addr2Num1_text"), day.size() - 1),
             double(25 * 3600 % 101));
}

void TestMainWindow::busAddresses_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // "-": refused
    QTest::newRow("a range") << "1-4" << "1 2 3 4";
    QTest::newRow("single ones and ranges, each once") << "5, 1-2,2" << "5 1 2";
    QTest::newRow("0 is no controller's") << "0-3" << "-";
    QTest::newRow("past 247") << "240-250" << "-";
    QTest::newRow("backwards") << "3-1" << "-";
    QTest::newRow("not a number") << "a-b" << "-";
    QTest::newRow("empty") << "" << "-";
}

void TestMainWindow::busAddresses() {
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QVector<int> addresses{99};
    const bool ok = parseBusAddresses(text, &addresses);
    QStringList got;
    for (int a : addresses)
        got << QString::number(a);
    QCOMPARE(ok ? got.join(QLatin1Char(' ')) : QStringLiteral("-"), expected);
}

void TestMainWindow::busWindowShowsEachControllerOwnValues() {
    // Controllers 2 and 3 answered (SOC 55 and 77; 3 with a Level2 alarm), 4 never did: each
    // row shows its own controller's values, the alarm becomes one event when raised and one when
    // cleared, and a double-click selects the controller as SET ADDR does.
    const auto landWord = [](int address, int block, int reg, uint16_t value) {
        uint8_t words[2 * kBlockSize] = {};
        words[2 * reg] = uint8_t(value >> 8);
        words[2 * reg + 1] = uint8_t(value & 0xFF);
        mirrorOf(uint8_t(address)).land(block, words, block == kHomeBlock ? 100 : 5);
    };
    for (int a : {2, 3, 4})
        mirrorOf(uint8_t(a)).clear();
    // The program's own font, as its entry sets it: the columns are sized in it.
    const QFont testFont = QApplication::font();
    QFont programFont(QStringLiteral("Calibri"));
    programFont.setPixelSize(12);
    QApplication::setFont(programFont);
    const auto restoreFont = qScopeGuard([&testFont] { QApplication::setFont(testFont); });
    landWord(2, kHomeBlock, 1, 55);
    landWord(3, kHomeBlock, 1, 77);
    landWord(3, kAlarmBlock, 1, 0x0001);
    Widget w;
    deviceAddr = 1;
    BusWindow *bus = w.showBus();
    bus->setAddresses({2, 3, 4});
    bus->refresh();
    const auto cell = [bus](int row, int column) {
        return bus->model()->data(bus->model()->index(row, column), Qt::DisplayRole).toString();
    };
    QCOMPARE(bus->model()->rowCount(), 3);
    QCOMPARE(bus->model()->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("SOC\n(%)"));
    QCOMPARE(cell(0, 2), QStringLiteral("55"));
    QCOMPARE(cell(1, 2), QStringLiteral("77"));
    QCOMPARE(cell(2, 2), QString()); // never answered: nothing, not an empty mirror's 0
    QCOMPARE(cell(2, 1), QStringLiteral("waiting"));
    QCOMPARE(bus->model()->rows().at(1).alarmLevel, 2);
    QCOMPARE(bus->model()->rows().at(1).alarms, QStringList{"TEMP_High"});
    QCOMPARE(bus->model()->rows().at(0).alarmLevel, 0);
    // On a 1366-pixel laptop screen every column shows without scrolling sideways; the active
    // alarms take what is left, their whole list in the tooltip.
    bus->resize(1346, 600);
    bus->refresh();
    QTRY_COMPARE_WITH_TIMEOUT(bus->view()->horizontalScrollBar()->maximum(), 0, 2000);
    const int alarmsColumn = bus->model()->columnCount() - 1;
    QVERIFY(bus->view()->horizontalHeader()->sectionSize(alarmsColumn) >= 200);
    QCOMPARE(bus->model()->data(bus->model()->index(1, alarmsColumn), Qt::ToolTipRole).toString(),
             QStringLiteral("TEMP_High"));

    // Recording: a row for each controller that answered, the events as they come.
    QTemporaryDir folder;
    QString error;
    QVERIFY2(w.recorder()->start(folder.path(), &error), qPrintable(error));
    bus->refresh(); // no new reading: no new event
    QCOMPARE(bus->events()->count(), 1);
    QVERIFY2(bus->events()->item(0)->text().contains(QStringLiteral("address 3  raised")),
             qPrintable(bus->events()->item(0)->text()));
    landWord(3, kAlarmBlock, 1, 0);
    bus->refresh();
    QCOMPARE(bus->events()->count(), 2);
    QVERIFY(bus->events()->item(0)->text().contains(QStringLiteral("cleared")));
    const auto lines = [&](const char *kind) {
        QFile file(w.recorder()->otherFile(QLatin1String(kind)));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split("\r\n")
                                              : QStringList();
    };
    const QStringList busRows = lines("bus");
    QCOMPARE(busRows.size(), 4); // heading, controllers 2 and 3, and the end of the last line
    QVERIFY(busRows.at(0).contains(QStringLiteral("Address,State,SOC (%)")));
    QCOMPARE(busRows.at(1).section(QLatin1Char(','), 1, 1), QStringLiteral("2"));
    QCOMPARE(busRows.at(1).section(QLatin1Char(','), 3, 3), QStringLiteral("55"));
    QCOMPARE(busRows.at(2).section(QLatin1Char(','), 3, 3), QStringLiteral("77"));
    const QStringList eventRows = lines("events");
    QCOMPARE(eventRows.size(), 3);
    QCOMPARE(eventRows.at(1).section(QLatin1Char(','), 1, 5),
             QStringLiteral("3,cleared,2,Level2 Fault（H）,TEMP_High"));
    w.recorder()->stop();

    // A new Level3 alarm is told in a note that takes no focus; a Level2 one is not.
    QVERIFY(!bus->notice() || !bus->notice()->isVisible());
    landWord(2, kAlarmBlock, 2, 0x0010); // word 2 bit 4: Level3 Protection1 TotVol_Low
    bus->refresh();
    QVERIFY(bus->notice() && bus->notice()->isVisible());
    QVERIFY2(bus->notice()->text().contains(QStringLiteral("address 2: Level3 Protection1")),
             qPrintable(bus->notice()->text()));

    const QModelIndex row3 = bus->view()->model()->index(1, 0);
    QCOMPARE(bus->view()->model()->data(row3).toInt(), 3);
    emit bus->view()->activated(row3);
    QCOMPARE(int(deviceAddr), 3);
    QCOMPARE(w.form()->devaddrSetText->toPlainText(), QStringLiteral("3"));
    bus->close();
    deviceAddr = 1;
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
