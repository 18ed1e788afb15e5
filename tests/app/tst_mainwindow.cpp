// The main window as a whole: its frame, its state right after start-up, the status label,
// and the order of teardown while the link runs. The link runs over a real pseudo-terminal
// to the simulated controller.

#include "battertstackthread.h"
#include "ptysimulator.h"
#include "registermirror.h"
#include "serialconfig.h"
#include "serialline.h"
#include "serialsettings.h"
#include "ui_widget.h"
#include "widget.h"

#include <QMessageBox>
#include <QMutex>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStringList>
#include <QTabBar>
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
    void everyFormButtonIsWired();
    void statusLabelRepaintsOnlyOnChange();
    void nothingIsSentBeforeConnect();
    void closingWhileConnectedStopsTheWorkerFirst();

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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
