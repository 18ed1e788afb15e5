#include "serialconfig.h"

#include "registermirror.h"
#include "scandialog.h"
#include "serialsettings.h"
#include "storedsettings.h"

#include <QSettings>
#include <QTemporaryDir>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QWheelEvent>
#include <QtTest>

namespace {

// Presses the button of the next modal message box and records its title and text.
struct BoxAnswer {
    QString title, text;
};
void answerNextBox(BoxAnswer *seen)
{
    QTimer::singleShot(0, [seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            answerNextBox(seen);
            return;
        }
        seen->title = box->windowTitle();
        seen->text = box->text();
        box->button(QMessageBox::Ok)->click();
    });
}

} // namespace

class tst_SerialConfig : public QObject
{
    Q_OBJECT

    serialConfig *dlg = nullptr;
    int systemPorts = 0;

    template <typename T> T *w(const char *name) { return dlg->findChild<T *>(name); }

    void pressSetting(BoxAnswer *seen)
    {
        answerNextBox(seen);
        w<QPushButton>("com_set_btn")->click();
    }

private slots:
    void init()
    {
        clearExtraPorts();
        knownPortCount = 0;
        setSerialSettings(SerialSettings{});
        deviceAddr = 0;
        systemPorts = QSerialPortInfo::availablePorts().size();
        dlg = new serialConfig;
    }
    void cleanup()
    {
        delete dlg;
        dlg = nullptr;
    }

    void formLayout()
    {
        QCOMPARE(dlg->windowTitle(), QStringLiteral("Serial Config"));
        QCOMPARE(dlg->size(), QSize(663, 496));
        QCOMPARE(w<QComboBox>("buad_cbox")->geometry(), QRect(205, 75, 256, 51));
        QCOMPARE(w<QPushButton>("com_exit_btn")->geometry(), QRect(395, 425, 156, 56));
        QCOMPARE(w<QTextEdit>("device_addr_text")->toPlainText(), QStringLiteral("1"));
        QCOMPARE(w<QComboBox>("data_bit_cbox")->currentText(), QStringLiteral("8"));
        QCOMPARE(w<QComboBox>("check_bit_cbox")->count(), 3);
        QStringList rates;
        for (int i = 0; i < w<QComboBox>("buad_cbox")->count(); ++i)
            rates << w<QComboBox>("buad_cbox")->itemText(i);
        QCOMPARE(rates, (QStringList{"9600", "115200", "19200", "38400", "57600"}));
        QStringList names;
        for (QObject *child : dlg->children())
            if (child->isWidgetType())
                names << child->objectName();
        QCOMPARE(names, (QStringList{"com_set_btn",     "com_exit_btn",      "device_addr_text",
                                     "buad_cbox",       "stop_bit_label",    "check_bit_label",
                                     "com_name_cbox",   "data_bit_label",    "device_addr_label",
                                     "com_name_label",  "data_bit_cbox",     "stop_bit_cbox",
                                     "check_bit_cbox",  "baud_label",        "find_devices_btn",
                                     "com_refresh_btn", "link_serial_radio", "link_network_radio",
                                     "tcp_host_label",  "tcp_host_text",     "tcp_port_label",
                                     "tcp_port_spin",   "framing_label",     "framing_cbox"}));
        // Serial is chosen: the network fields are hidden.
        QVERIFY(!w<QLineEdit>("tcp_host_text")->isVisibleTo(dlg));
        QVERIFY(w<QComboBox>("com_name_cbox")->isVisibleTo(dlg));
        QCOMPARE(w<QSpinBox>("tcp_port_spin")->value(), 502);
    }

    void portListFollowsTheCountOnly()
    {
        addExtraPort("/dev/pts/90", "First");
        addExtraPort("/dev/pts/91", "Second");
        dlg->refreshPortList();
        auto *combo = w<QComboBox>("com_name_cbox");
        QCOMPARE(combo->count(), systemPorts + 2);
        QCOMPARE(combo->itemText(systemPorts), QStringLiteral("/dev/pts/90:First"));
        QCOMPARE(combo->itemText(systemPorts + 1), QStringLiteral("/dev/pts/91:Second"));

        // Same count again: the list and its selection stay as they were.
        combo->setCurrentIndex(systemPorts + 1);
        dlg->refreshPortList();
        QCOMPARE(combo->currentIndex(), systemPorts + 1);

        // One adapter replaced by another (same count): the old list is kept.
        clearExtraPorts();
        addExtraPort("/dev/pts/90", "First");
        addExtraPort("/dev/pts/92", "Third");
        dlg->refreshPortList();
        QCOMPARE(combo->itemText(systemPorts + 1), QStringLiteral("/dev/pts/91:Second"));

        // One unplugged: the list is rebuilt.
        clearExtraPorts();
        addExtraPort("/dev/pts/90", "First");
        dlg->refreshPortList();
        QCOMPARE(combo->count(), systemPorts + 1);
        QCOMPARE(combo->currentIndex(), 0);
    }

    void simulatorIsListedFirst()
    {
        addExtraPort("/dev/pts/93", "Serial port");
        addExtraPort("/dev/pts/94", "Simulated controller", true);
        dlg->refreshPortList();
        auto *combo = w<QComboBox>("com_name_cbox");
        QCOMPARE(combo->itemText(0), QStringLiteral("/dev/pts/94:Simulated controller"));
        QCOMPARE(combo->itemText(combo->count() - 1), QStringLiteral("/dev/pts/93:Serial port"));
    }

    void settingWithDefaults()
    {
        addExtraPort("/dev/pts/95", "Only", true);
        dlg->refreshPortList();
        dlg->show();
        BoxAnswer seen;
        pressSetting(&seen);
        QCOMPARE(seen.title, QStringLiteral("tips"));
        QCOMPARE(seen.text, QStringLiteral("Suessful"));
        const SerialSettings s = serialSettings();
        QCOMPARE(s.comName, QStringLiteral("/dev/pts/95:Only"));
        QCOMPARE(s.baudRate, 9600);
        QCOMPARE(int(s.dataBits), 8);
        QCOMPARE(s.stopBits, 1.0f);
        QCOMPARE(int(s.checkBit), 0);
        QVERIFY(s.comConfigured);
        QCOMPARE(int(deviceAddr), 1);
        QVERIFY(!dlg->isVisible());
    }

    void reselectsStoredSettings()
    {
        // Before any "Setting", re-selection does nothing.
        w<QComboBox>("buad_cbox")->setCurrentText("115200");
        dlg->showAlreadyComConfig();
        QCOMPARE(w<QComboBox>("buad_cbox")->currentText(), QStringLiteral("115200"));
        w<QComboBox>("buad_cbox")->setCurrentText("9600");

        w<QComboBox>("buad_cbox")->setCurrentText("115200");
        w<QComboBox>("data_bit_cbox")->setCurrentText("7");
        w<QComboBox>("stop_bit_cbox")->setCurrentText("1.5");
        w<QComboBox>("check_bit_cbox")->setCurrentText("Even");
        w<QTextEdit>("device_addr_text")->setPlainText("12");
        BoxAnswer seen;
        pressSetting(&seen);
        QCOMPARE(serialSettings().stopBits, 1.5f);
        QCOMPARE(int(serialSettings().checkBit), 2);

        // Change everything, leave with Exit: nothing stored, re-selection restores.
        w<QComboBox>("buad_cbox")->setCurrentText("9600");
        w<QComboBox>("data_bit_cbox")->setCurrentText("5");
        w<QComboBox>("stop_bit_cbox")->setCurrentText("2");
        w<QComboBox>("check_bit_cbox")->setCurrentText("Odd");
        w<QTextEdit>("device_addr_text")->setPlainText("99");
        w<QPushButton>("com_exit_btn")->click();
        QCOMPARE(serialSettings().baudRate, 115200);
        QCOMPARE(int(deviceAddr), 12);

        dlg->showAlreadyComConfig();
        QCOMPARE(w<QComboBox>("buad_cbox")->currentText(), QStringLiteral("115200"));
        QCOMPARE(w<QComboBox>("data_bit_cbox")->currentText(), QStringLiteral("7"));
        QCOMPARE(w<QComboBox>("stop_bit_cbox")->currentText(), QStringLiteral("1.5"));
        QCOMPARE(w<QComboBox>("check_bit_cbox")->currentText(), QStringLiteral("Even"));
        // The address field keeps what was last typed.
        QCOMPARE(w<QTextEdit>("device_addr_text")->toPlainText(), QStringLiteral("99"));
    }

    // What "Setting" stored comes back at the next start; a remembered port that is gone is
    // shown as gone.
    void settingsSurviveARestart()
    {
        QTemporaryDir home;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
        enableStoredSettings(true);
        addExtraPort("/dev/vaduz-test-line", "Serial port");
        dlg->refreshPortList();
        w<QComboBox>("com_name_cbox")->setCurrentText("/dev/vaduz-test-line:Serial port");
        w<QComboBox>("buad_cbox")->setCurrentText("19200");
        w<QComboBox>("check_bit_cbox")->setCurrentText("Even");
        w<QTextEdit>("device_addr_text")->setPlainText("17");
        BoxAnswer seen;
        pressSetting(&seen);
        storeExportFolder(home.path());

        // The next run: a new window, nothing configured until the stored settings are applied.
        setSerialSettings(SerialSettings{});
        deviceAddr = 0;
        clearExtraPorts();
        knownPortCount = 0;
        delete dlg;
        dlg = new serialConfig;
        QVERIFY(applyStoredSettings());
        const SerialSettings s = serialSettings();
        QCOMPARE(s.comName, QStringLiteral("/dev/vaduz-test-line:Serial port"));
        QCOMPARE(s.baudRate, 19200);
        QCOMPARE(int(s.dataBits), 8);
        QCOMPARE(int(s.checkBit), 2);
        QVERIFY(s.comConfigured);
        QCOMPARE(int(deviceAddr), 17);
        QCOMPARE(exportFolderToOffer(), home.path());

        dlg->refreshPortList();
        dlg->showAlreadyComConfig();
        QCOMPARE(w<QComboBox>("com_name_cbox")->currentText(),
                 QStringLiteral("/dev/vaduz-test-line:Serial port (not present)"));
        QCOMPARE(w<QComboBox>("buad_cbox")->currentText(), QStringLiteral("19200"));
        // Setting again keeps the port's own name.
        pressSetting(&seen);
        QCOMPARE(serialSettings().comName, QStringLiteral("/dev/vaduz-test-line:Serial port"));
        enableStoredSettings(false);
    }

    // What the window shows is the port Connect uses: given on the command line (listed as an
    // extra port), remembered and gone, or typed; "Setting" after changing only the rate keeps
    // it, and Find devices scans it.
    void showsThePortInUse_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("--port") << "/dev/pts/90:Serial port" << true << "/dev/pts/90:Serial port";
        QTest::newRow("remembered, gone")
            << "/dev/vaduz-gone:USB" << false << "/dev/vaduz-gone:USB (not present)";
        QTest::newRow("typed path, there") << "/dev/null" << false << "/dev/null";
        QTest::newRow("typed COM name, gone") << "COM7" << false << "COM7 (not present)";
    }
    void showsThePortInUse() {
        QFETCH(QString, stored);
        QFETCH(bool, listed);
        QFETCH(QString, shown);
        addExtraPort("/dev/pts/89", "First");
        if (listed)
            addExtraPort(portNameOf(stored), stored.section(':', 1));
        SerialSettings s;
        s.comName = stored;
        s.baudRate = 9600;
        s.dataBits = 8;
        s.stopBits = 1.0f;
        s.comConfigured = true;
        setSerialSettings(s);
        // COM SET: re-selection, then the list is read.
        dlg->showAlreadyComConfig();
        dlg->refreshPortList();
        auto *combo = w<QComboBox>("com_name_cbox");
        QCOMPARE(combo->currentText(), shown);
        // Refresh keeps it shown.
        w<QPushButton>("com_refresh_btn")->click();
        QCOMPARE(combo->currentText(), shown);

        w<QPushButton>("find_devices_btn")->click();
        auto *scan = dlg->findChild<ScanDialog *>();
        QVERIFY(scan);
        QCOMPARE(scan->plan().portName, portNameOf(stored));
        scan->reject();
        delete scan;

        w<QComboBox>("buad_cbox")->setCurrentText("19200");
        BoxAnswer seen;
        pressSetting(&seen);
        QCOMPARE(serialSettings().comName, stored);
        QCOMPARE(serialSettings().baudRate, 19200);
    }

    void refreshReadsTheListAgain() {
        addExtraPort("/dev/pts/90", "First");
        dlg->refreshPortList();
        auto *combo = w<QComboBox>("com_name_cbox");
        // Replaced by another adapter: same count, so only Refresh sees it.
        clearExtraPorts();
        addExtraPort("/dev/pts/91", "Second");
        dlg->refreshPortList();
        QCOMPARE(combo->findText("/dev/pts/91:Second"), -1);
        w<QPushButton>("com_refresh_btn")->click();
        QCOMPARE(combo->findText("/dev/pts/90:First"), -1);
        QVERIFY(combo->findText("/dev/pts/91:Second") >= 0);
    }

    // Network: host, TCP port and framing are stored, remembered and shown again; a missing
    // host is refused.
    void networkLinkIsStoredAndRemembered() {
        QTemporaryDir home;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
        enableStoredSettings(true);
        dlg->show();
        w<QRadioButton>("link_network_radio")->setChecked(true);
        QVERIFY(w<QLineEdit>("tcp_host_text")->isVisible());
        QVERIFY(!w<QComboBox>("com_name_cbox")->isVisible());
        QVERIFY(w<QComboBox>("buad_cbox")->isVisible()); // the line behind the gateway
        BoxAnswer seen;
        pressSetting(&seen);
        QCOMPARE(seen.text, QStringLiteral("Enter the gateway's host name or IP address."));
        QVERIFY(!serialSettings().comConfigured);

        w<QLineEdit>("tcp_host_text")->setText(" 127.0.0.1 ");
        w<QSpinBox>("tcp_port_spin")->setValue(5020);
        w<QComboBox>("framing_cbox")->setCurrentText("RTU over TCP");
        pressSetting(&seen);
        QCOMPARE(seen.text, QStringLiteral("Suessful"));
        SerialSettings s = serialSettings();
        QVERIFY(s.comConfigured && s.link == LinkKind::Network);
        QCOMPARE(s.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(int(s.tcpPort), 5020);
        QVERIFY(s.framing == NetFraming::RtuOverTcp);
        QCOMPARE(linkTargetText(s), QStringLiteral("127.0.0.1:5020 (RTU over TCP)"));
        // Find devices asks the gateway shown.
        dlg->show();
        w<QPushButton>("find_devices_btn")->click();
        auto *scan = dlg->findChild<ScanDialog *>();
        QVERIFY(scan && scan->plan().network() && scan->plan().isValid());
        QCOMPARE(scan->plan().host, QStringLiteral("127.0.0.1"));
        QCOMPARE(int(scan->plan().tcpPort), 5020);
        QVERIFY(scan->plan().framing == NetFramingKind::RtuOverTcp);
        scan->reject();
        delete scan;

        // The next run.
        setSerialSettings(SerialSettings{});
        delete dlg;
        dlg = new serialConfig;
        QVERIFY(applyStoredSettings());
        s = serialSettings();
        QVERIFY(s.comConfigured && s.link == LinkKind::Network);
        QCOMPARE(s.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(int(s.tcpPort), 5020);
        QVERIFY(s.framing == NetFraming::RtuOverTcp);
        dlg->showAlreadyComConfig();
        QVERIFY(w<QRadioButton>("link_network_radio")->isChecked());
        QCOMPARE(w<QLineEdit>("tcp_host_text")->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(w<QSpinBox>("tcp_port_spin")->value(), 5020);
        QCOMPARE(w<QComboBox>("framing_cbox")->currentText(), QStringLiteral("RTU over TCP"));
        enableStoredSettings(false);
    }

    void hostAndPort_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("host"); // empty: refused
        QTest::addColumn<int>("port");
        QTest::newRow("host alone") << "127.0.0.1"
                                    << "127.0.0.1" << 502;
        QTest::newRow("with port") << "127.0.0.1:5020"
                                   << "127.0.0.1" << 5020;
        QTest::newRow("name") << "localhost:1"
                              << "localhost" << 1;
        QTest::newRow("IPv6 in brackets") << "[::1]:65535"
                                          << "::1" << 65535;
        QTest::newRow("port 0") << "127.0.0.1:0"
                                << "" << 0;
        QTest::newRow("port too high") << "127.0.0.1:65536"
                                       << "" << 0;
        QTest::newRow("empty port") << "127.0.0.1:"
                                    << "" << 0;
        QTest::newRow("no host") << ":502"
                                 << "" << 0;
        QTest::newRow("blank") << " "
                               << "" << 0;
    }
    void hostAndPort() {
        QFETCH(QString, text);
        QFETCH(QString, host);
        QFETCH(int, port);
        QString h = "unchanged";
        uint16_t p = 7;
        QCOMPARE(parseHostPort(text, &h, &p), !host.isEmpty());
        QCOMPARE(h, host.isEmpty() ? QStringLiteral("unchanged") : host);
        QCOMPARE(int(p), host.isEmpty() ? 7 : port);
    }

    void deviceAddress_data() {
        // stored -1: refused; the address in use (200) stays and nothing else is stored.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("decimal") << "7" << 7;
        QTest::newRow("lowest") << "1" << 1;
        QTest::newRow("highest") << "247" << 247;
        QTest::newRow("typed line break ignored") << " 12\n" << 12;
        QTest::newRow("three hundred refused") << "300" << -1;
        QTest::newRow("248 reserved") << "248" << -1;
        QTest::newRow("0 is broadcast") << "0" << -1;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("not a number") << "abc" << -1;
        QTest::newRow("decimal point") << "7.0" << -1;
        QTest::newRow("empty") << "" << -1;
    }
    void deviceAddress()
    {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        deviceAddr = 200;
        dlg->show();
        w<QComboBox>("buad_cbox")->setCurrentText("115200");
        w<QTextEdit>("device_addr_text")->setPlainText(typed);
        BoxAnswer seen;
        pressSetting(&seen);
        QCOMPARE(seen.title, QStringLiteral("tips"));
        if (stored >= 0) {
            QCOMPARE(seen.text, QStringLiteral("Suessful"));
            QCOMPARE(int(deviceAddr), stored);
            QVERIFY(serialSettings().comConfigured);
            QVERIFY(!dlg->isVisible());
        } else {
            QCOMPARE(seen.text, QStringLiteral("The device address must be a whole number from 1 "
                                               "to 247, for example 1."));
            QCOMPARE(int(deviceAddr), 200);
            QVERIFY(!serialSettings().comConfigured);
            QCOMPARE(serialSettings().baudRate, 0);
            QVERIFY(dlg->isVisible()); // open for the correction
            QCOMPARE(w<QTextEdit>("device_addr_text")->toPlainText(), typed);
        }
    }

    void everyOfferedRateIsStored()
    {
        auto *combo = w<QComboBox>("buad_cbox");
        for (int i = combo->count() - 1; i >= 0; --i) {
            combo->setCurrentIndex(i);
            BoxAnswer seen;
            pressSetting(&seen);
            QCOMPARE(serialSettings().baudRate, combo->itemText(i).toInt());
        }
    }

    void wheelNeverChangesASelection()
    {
        dlg->show();
        const auto combos = dlg->findChildren<QComboBox *>();
        QCOMPARE(combos.size(), 6);
        auto *baud = w<QComboBox>("buad_cbox");
        for (int delta : {-120, 120, -120}) {
            QWheelEvent wheel(QPointF(10, 10), baud->mapToGlobal(QPoint(10, 10)), QPoint(),
                              QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(baud, &wheel);
            QCOMPARE(baud->currentIndex(), 0);
        }
    }
};

QTEST_MAIN(tst_SerialConfig)
#include "tst_serialconfig.moc"
