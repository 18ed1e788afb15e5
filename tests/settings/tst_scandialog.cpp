// "Find devices" in the serial settings window, offscreen, against the simulated controller on
// a pseudo-terminal: the window says how long a scan takes, shows where it stands, lists what it
// found and takes a found device into the settings with one click; while the link is connected
// it refuses to scan and says why.

#include "scandialog.h"
#include "serialconfig.h"

#include "ptysimulator.h"
#include "registermirror.h"
#include "serialsettings.h"
#include "storedsettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

class tst_ScanDialog : public QObject {
    Q_OBJECT

    std::unique_ptr<PtySimulator> sim;
    std::unique_ptr<serialConfig> settings;

    // Opens "Find devices" from the settings window.
    ScanDialog *openScan() {
        settings->findChild<QPushButton *>("find_devices_btn")->click();
        auto *scan = settings->findChild<ScanDialog *>();
        if (scan && !QTest::qWaitForWindowExposed(scan))
            return nullptr;
        return scan;
    }
    template <typename T> static T *w(QWidget *in, const char *name) {
        return in->findChild<T *>(name);
    }

private slots:
    void init() {
        clearExtraPorts();
        knownPortCount = 0;
        setSerialSettings(SerialSettings{});
        linkRunning.store(0);
        sim = std::make_unique<PtySimulator>();
        QVERIFY(sim->start());
        sim->setAddress(17);
        sim->setBaudRate(19200);
        addExtraPort(sim->slavePath(), QStringLiteral("Simulated controller"), true);
        settings = std::make_unique<serialConfig>();
        settings->refreshPortList();
        settings->show();
    }
    void cleanup() {
        settings.reset();
        sim.reset();
        linkRunning.store(0);
    }

    void findsAndTakesIntoSettings() {
        ScanDialog *scan = openScan();
        QVERIFY(scan);
        QVERIFY(scan->isModal());
        QCOMPARE(scan->plan().portName, sim->slavePath());
        // Every rate the settings window offers, every address: how long that takes.
        QCOMPARE(scan->plan().baudRates, offeredBaudRates());
        QCOMPARE(w<QLabel>(scan, "scan_estimate_label")->text(),
                 QStringLiteral("A pass over addresses 1 to 247 at 9600 baud takes about 27 s.\n"
                                "All 5 rates: about 2 min 8 s."));

        for (int rate : {115200, 38400, 57600})
            w<QCheckBox>(scan, qPrintable(QStringLiteral("scan_baud_%1").arg(rate)))
                ->setChecked(false);
        w<QSpinBox>(scan, "scan_first_spin")->setValue(16);
        w<QSpinBox>(scan, "scan_last_spin")->setValue(18);
        QCOMPARE(w<QLabel>(scan, "scan_estimate_label")->text(),
                 QStringLiteral("A pass over addresses 16 to 18 at 9600 baud takes under 1 s.\n"
                                "All 2 rates: about 1 s."));

        auto *status = w<QLabel>(scan, "scan_status_label");
        w<QPushButton>(scan, "scan_start_btn")->click();
        QVERIFY(!w<QPushButton>(scan, "scan_start_btn")->isEnabled());
        QVERIFY(w<QPushButton>(scan, "scan_stop_btn")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith("Asking address"), 5000);
        QCOMPARE(w<QProgressBar>(scan, "scan_progress")->maximum(), 6);
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("Done: 1 found."), 10000);
        auto *results = w<QTableWidget>(scan, "scan_results");
        QCOMPARE(results->rowCount(), 1);
        QCOMPARE(results->item(0, 0)->text(), QStringLiteral("17"));
        QCOMPARE(results->item(0, 1)->text(), QStringLiteral("19200"));
        QCOMPARE(results->item(0, 2)->text(), QStringLiteral("register read"));

        // One click takes it into the form; "Setting" then stores it.
        QPointer<ScanDialog> alive(scan);
        w<QPushButton>(results, "scan_use_btn")->click();
        QTRY_VERIFY(!alive);
        QCOMPARE(w<QComboBox>(settings.get(), "buad_cbox")->currentText(), QStringLiteral("19200"));
        QCOMPARE(w<QTextEdit>(settings.get(), "device_addr_text")->toPlainText(),
                 QStringLiteral("17"));
        QTimer::singleShot(0, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Ok)->click();
        });
        w<QPushButton>(settings.get(), "com_set_btn")->click();
        QCOMPARE(serialSettings().baudRate, 19200);
        QCOMPARE(int(deviceAddr.load()), 17);
    }

    void refusedWhileConnected() {
        linkRunning.store(1);
        ScanDialog *scan = openScan();
        QVERIFY(scan);
        auto *note = w<QLabel>(scan, "scan_note_label");
        QVERIFY(note->isVisible());
        QCOMPARE(note->text(), QStringLiteral("Disconnect first: a scan cannot run while the "
                                              "link is connected."));
        auto *start = w<QPushButton>(scan, "scan_start_btn");
        QVERIFY(!start->isEnabled());
        scan->startScan();
        QTest::qWait(300);
        QCOMPARE(sim->requestCount(), 0);
        QCOMPARE(w<QLabel>(scan, "scan_status_label")->text(), QStringLiteral("Not started."));

        // Disconnected: the scan may run, and Stop ends it.
        linkRunning.store(0);
        scan->hide();
        scan->show();
        QVERIFY(start->isEnabled());
        QVERIFY(!note->isVisible());
        start->click();
        QTRY_VERIFY_WITH_TIMEOUT(sim->requestCount() >= 2, 5000);
        w<QPushButton>(scan, "scan_stop_btn")->click();
        QTRY_COMPARE_WITH_TIMEOUT(w<QLabel>(scan, "scan_status_label")->text(),
                                  QStringLiteral("Stopped: 0 found."), 5000);
        QVERIFY(start->isEnabled());
        w<QPushButton>(scan, "scan_close_btn")->click();
    }

    // The rate the link last used is asked first; "stop at the first" ends the scan at the
    // controller found; the next dialog comes back with the same ticks.
    void remembersTicksAndStopsAtFirst() {
        QTemporaryDir home;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        enableStoredSettings(true);
        storeSerialSettings(SerialSettings{sim->slavePath(), 19200, 8, 1.0f, 0, true}, 17);
        ScanDialog *scan = openScan();
        QVERIFY(scan);
        w<QCheckBox>(scan, "scan_baud_57600")->setChecked(false);
        QCOMPARE(scan->plan().baudRates, (QList<int>{19200, 9600, 115200, 38400}));
        w<QCheckBox>(scan, "scan_stop_at_first")->setChecked(true);
        w<QSpinBox>(scan, "scan_first_spin")->setValue(17);
        w<QSpinBox>(scan, "scan_last_spin")->setValue(17);
        w<QPushButton>(scan, "scan_start_btn")->click();
        QTRY_COMPARE_WITH_TIMEOUT(w<QLabel>(scan, "scan_status_label")->text(),
                                  QStringLiteral("Stopped: 1 found."), 5000);
        // Found at the first rate asked: nothing was sent at the others.
        QCOMPARE(sim->requestCount(), 1);
        w<QPushButton>(scan, "scan_close_btn")->click();

        ScanDialog again(sim->slavePath(), 8, 0, 1.0f, offeredBaudRates());
        QVERIFY(!w<QCheckBox>(&again, "scan_baud_57600")->isChecked());
        QVERIFY(w<QCheckBox>(&again, "scan_baud_9600")->isChecked());
        QVERIFY(w<QCheckBox>(&again, "scan_stop_at_first")->isChecked());
        enableStoredSettings(false);
    }
};

QTEST_MAIN(tst_ScanDialog)
#include "tst_scandialog.moc"
