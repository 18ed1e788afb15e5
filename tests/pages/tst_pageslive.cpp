// Every page against the simulated controller: the link worker polls it over a pseudo-terminal,
// the refresh timer runs as in the window, and each page must come to show live, plausible
// values in every field after it is shown.

#include "pagerefresh.h"
#include "ui_widget.h"

#include "battertstackthread.h"
#include "ptysimulator.h"
#include "registermirror.h"
#include "serialline.h"
#include "serialsettings.h"
#include "systick.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include <cstdio>

namespace {

constexpr int kHome = 0, kData = 1, kSettings = 2, kFault = 3, kPack = 4;
const QString kStale = QStringLiteral("stale");

// The link worker logs from its own thread; QtTest's handler would read the current test's
// name while the main thread moves to the next row. Plain lines on stderr instead.
void printMessage(QtMsgType, const QMessageLogContext &context, const QString &message) {
    static QMutex lock;
    const QByteArray line = (context.category && qstrcmp(context.category, "default") != 0
                                 ? QByteArray(context.category) + ": "
                                 : QByteArray()) +
                            message.toLocal8Bit() + '\n';
    QMutexLocker locker(&lock);
    fputs(line.constData(), stderr);
}

bool inRange(const QString &text, double low, double high) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && v >= low && v <= high;
}

} // namespace

class tst_PagesLive : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void pageShowsLiveValues_data();
    void pageShowsLiveValues();

private:
    QList<QPlainTextEdit *> readFields(int tab) const;
    void markStale(int tab);
    // Empty when the page looks right, else what is still wrong.
    QString whatIsWrong(int tab) const;

    PtySimulator m_sim;
    SysTimerThread m_ticker;
    std::unique_ptr<Battert_Stack_Thread> m_worker;
    QWidget m_window;
    Ui::Widget m_ui;
    std::unique_ptr<PageRefresh> m_pages;
    QTimer m_refreshTimer;
};

void tst_PagesLive::initTestCase() {
    qInstallMessageHandler(printMessage);
    QVERIFY(m_sim.start());
    m_sim.setAddress(1);
    m_sim.setDeviceCount(3);

    useSerialLine(m_sim.slavePath(), 115200);
    clearMirror();
    resetLinkState();
    deviceAddr.store(1);

    m_ui.setupUi(&m_window);
    m_pages = std::make_unique<PageRefresh>(&m_window);
    QCOMPARE(m_pages->missingWidgets(), QStringList());
    QObject::connect(&m_refreshTimer, &QTimer::timeout, &m_window,
                     [this] { m_pages->slotRefeshParaTimer(); });

    m_ticker.start();
    m_worker = std::make_unique<Battert_Stack_Thread>();
    m_worker->startLink(linkSetupFromSettings);
    // Opening the port converts a local time in the worker (the C library reads the time zone),
    // and so does the clock label on this thread. The library serialises the two with a lock
    // that ThreadSanitizer cannot see, so the page passes start once the port is open.
    QTRY_VERIFY_WITH_TIMEOUT(m_worker->stats().portOpens >= 1, 5000);
    m_refreshTimer.start(10);
}

void tst_PagesLive::cleanupTestCase() {
    m_refreshTimer.stop();
    if (m_worker)
        m_worker->stopLink();
    m_worker.reset();
    m_ticker.stop();
    m_sim.stop();
    qInstallMessageHandler(nullptr);
}

QList<QPlainTextEdit *> tst_PagesLive::readFields(int tab) const {
    static const QRegularExpression name(QStringLiteral("^R_Addr\\d+Num\\d+(_backup)?_text$"));
    return m_ui.tabWidget->widget(tab)->findChildren<QPlainTextEdit *>(name);
}

void tst_PagesLive::markStale(int tab) {
    for (QPlainTextEdit *w : readFields(tab))
        w->setPlainText(kStale);
    QTableWidget *table = tab == kData   ? m_ui.Rack_tableWidget
                          : tab == kPack ? m_ui.PACK_tableWidget
                                         : nullptr;
    if (table)
        table->clearContents();
    if (tab == kFault) {
        for (int r = 0; r < 8; ++r)
            for (int c = 0; c < 8; ++c)
                m_ui.Fault_tableWidget->item(r, c)->setData(Qt::BackgroundRole, QVariant());
    }
}

QString tst_PagesLive::whatIsWrong(int tab) const {
    auto text = [this](const char *name) {
        auto *w = m_window.findChild<QPlainTextEdit *>(QLatin1String(name));
        return w ? w->toPlainText() : QString();
    };
    for (QPlainTextEdit *w : readFields(tab)) {
        if (w->toPlainText() == kStale)
            return w->objectName() + " not painted";
    }
    const QStringList systemStates{"Wait",     "Fault",      "ForbidCharge", "ForbidDischarge",
                                   "Charging", "Discharging"};
    switch (tab) {
    case kHome: {
        if (text("R_Addr2Num0_text") != "1" || text("R_Addr2Num0_backup_text") != "1")
            return "host ID";
        if (text("R_Addr2Num17_text") != "3")
            return "device count " + text("R_Addr2Num17_text");
        const QString date = text("R_Addr2Num93_text");
        const QString year = QString::number(QDate::currentDate().year());
        if (!QRegularExpression("^" + year + "-\\d{1,2}-\\d{1,2} \\d{1,2}:\\d{1,2}:\\d{1,2}$")
                 .match(date)
                 .hasMatch())
            return "clock " + date;
        if (text("R_Addr2Num63_text") != "KLV-HV-ESS-0001")
            return "name " + text("R_Addr2Num63_text");
        return {};
    }
    case kData: {
        if (!systemStates.contains(text("R_Addr0Num0_text")))
            return "system state " + text("R_Addr0Num0_text");
        if (text("R_Addr0Num2_text") != "15")
            return "rack count " + text("R_Addr0Num2_text");
        if (!inRange(text("R_Addr0Num5_text"), 0, 100))
            return "SOC " + text("R_Addr0Num5_text");
        const QString maxCell = text("R_Addr0Num10_text");
        if (!QRegularExpression("^3\\.[234]\\d\\d/1-\\d+-\\d+$").match(maxCell).hasMatch())
            return "max cell " + maxCell;
        for (int r = 0; r < 15; ++r) {
            auto cell = [this, r](int c) {
                QTableWidgetItem *i = m_ui.Rack_tableWidget->item(r, c);
                return i ? i->text() : QString();
            };
            if (!inRange(cell(0), 0, 100) || !inRange(cell(3), 3.2, 3.4) ||
                !inRange(cell(4), 3.2, 3.4) || !inRange(cell(5), 15, 35) ||
                !inRange(cell(6), 15, 35) || !systemStates.contains(cell(7)) ||
                (cell(8) != "Connect" && cell(8) != "Disconnect"))
                return QString("rack row %1").arg(r);
        }
        return {};
    }
    case kSettings:
        if (text("R_Addr86Num0_text") != "Wifi Connect")
            return "network " + text("R_Addr86Num0_text");
        if (text("R_Addr86Num27_text") != "KLV-STACK-0001")
            return "stack name " + text("R_Addr86Num27_text");
        return {};
    case kFault: {
        int red = 0;
        for (int r = 0; r < 8; ++r) {
            for (int c = 0; c < 8; ++c) {
                const QVariant bg = m_ui.Fault_tableWidget->item(r, c)->data(Qt::BackgroundRole);
                if (!bg.isValid())
                    return QString("fault cell %1,%2 not painted").arg(r).arg(c);
                red += bg.value<QBrush>().color() == QColor(104, 16, 21) ? 1 : 0;
            }
        }
        // The controller raises a handful of alarms at most.
        return red <= 8 ? QString() : QString("%1 alarms").arg(red);
    }
    case kPack:
        for (int k = 0; k < 15; ++k) {
            auto cell = [this, k](int c) {
                QTableWidgetItem *i = m_ui.PACK_tableWidget->item(k, c);
                return i ? i->text() : QString();
            };
            for (int c = 9; c <= 60; ++c) {
                if (!inRange(cell(c), 3.2, 3.4))
                    return QString("pack %1 cell %2: %3").arg(k + 1).arg(c - 8).arg(cell(c));
            }
            for (int c = 61; c <= 86; ++c) {
                if (!inRange(cell(c), 15, 35))
                    return QString("pack %1 temperature column %2").arg(k + 1).arg(c);
            }
            if (!inRange(cell(0), 166.4, 176.8)) // 52 cells of 3.2 .. 3.4 V
                return QString("pack %1 total %2").arg(k + 1).arg(cell(0));
        }
        return {};
    default:
        return "no such page";
    }
}

void tst_PagesLive::pageShowsLiveValues_data() {
    QTest::addColumn<int>("tab");
    QTest::newRow("Home") << kHome;
    QTest::newRow("Data") << kData;
    QTest::newRow("Settings") << kSettings;
    QTest::newRow("Fault") << kFault;
    QTest::newRow("Pack") << kPack;
}

void tst_PagesLive::pageShowsLiveValues() {
    QFETCH(int, tab);
    markStale(tab);
    QElapsedTimer shown;
    shown.start();
    m_ui.tabWidget->setCurrentIndex(tab);
    QTRY_COMPARE_WITH_TIMEOUT(pollMode.load(), tab, 1000);
    // One full poll cycle of the page (Settings: 8 reads of 500 ms; Pack: 16 periods of 200 ms)
    // and one page pass; the limit leaves room for a loaded machine.
    QTRY_COMPARE_WITH_TIMEOUT(whatIsWrong(tab), QString(), 15000);
    qInfo("page %d plausible %lld ms after it was shown", tab, shown.elapsed());
}

QTEST_MAIN(tst_PagesLive)
#include "tst_pageslive.moc"
