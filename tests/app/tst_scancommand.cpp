// vaduz --scan as a process, without a display, against the simulated controller on a
// pseudo-terminal: one line per controller found on standard output, and the exit status
// (0 found, 1 none found, 2 usage error or port unusable). Each run has a settings store of its
// own, with the rate the program last used where a row gives one.

#include "ptysimulator.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class TestScanCommand : public QObject {
    Q_OBJECT

private slots:
    void scan_data();
    void scan();
};

void TestScanCommand::scan_data() {
    QTest::addColumn<int>("devices");      // answering addresses 1..devices, else address 17 only
    QTest::addColumn<QStringList>("args"); // SIM stands for the simulator's port
    QTest::addColumn<QString>("out");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("err"); // a part of what it says on standard error
    QTest::addColumn<int>("remembered"); // the rate the program last used; 0 for none
    QTest::newRow("one at 17 and 19200, every offered rate")
        << 0 << QStringList{"--scan", "--port", "SIM", "--addresses", "15-19"}
        << "address 17 at 19200 baud\n"
        << 0 << "Controllers found: 1." << 0;
    QTest::newRow("three on one bus, one rate")
        << 3 << QStringList{"--scan", "--port=SIM", "--baud", "19200", "--addresses", "1-4"}
        << "address 1 at 19200 baud\naddress 2 at 19200 baud\naddress 3 at 19200 baud\n"
        << 0 << "Controllers found: 3." << 0;
    QTest::newRow("none at the rate asked")
        << 0 << QStringList{"--scan", "--port", "SIM", "--baud", "9600", "--addresses", "16-18"}
        << "" << 1 << "No controller answered." << 0;
    QTest::newRow("no port") << 0 << QStringList{"--scan"} << "" << 2
                             << "--scan needs one --port PATH" << 0;
    QTest::newRow("port that cannot be opened")
        << 0 << QStringList{"--scan", "--port", "/dev/vaduz-no-such-port", "--baud", "9600"} << ""
        << 2 << "could not be used" << 0;
    QTest::newRow("not a rate") << 0 << QStringList{"--scan", "--port", "SIM", "--baud", "fast"}
                                << "" << 2 << "--baud needs a baud rate" << 0;
    QTest::newRow("address 248") << 0
                                 << QStringList{"--scan", "--port", "SIM", "--addresses", "1-248"}
                                 << "" << 2 << "--addresses needs FIRST-LAST within 1-247" << 0;
    QTest::newRow("unknown option") << 0 << QStringList{"--scan", "--port", "SIM", "--fast"} << ""
                                    << 2 << "Unknown option 'fast'" << 0;
    QTest::newRow("--first: the first of three only")
        << 3 << QStringList{"--scan", "--port",      "SIM", "--baud",
                            "19200",  "--addresses", "1-4", "--first"}
        << "address 1 at 19200 baud\n"
        << 0 << "Controllers found: 1." << 0;
    QTest::newRow("the remembered rate first, with progress")
        << 0 << QStringList{"--scan", "--port", "SIM", "--addresses", "17", "--first"}
        << "address 17 at 19200 baud\n"
        << 0 << "Scanning: 19200 baud, address 17 (0 of 5 asked), found so far: 0\n"
        << 19200;
    QTest::newRow("progress once a second")
        << 0 << QStringList{"--scan", "--port", "SIM", "--baud", "9600", "--addresses", "1-20"}
        << "" << 1 << "Scanning: 9600 baud, address 1 (0 of 20 asked), found so far: 0\n"
        << 0;
}

void TestScanCommand::scan() {
    QFETCH(int, devices);
    QFETCH(QStringList, args);
    QFETCH(QString, out);
    QFETCH(int, status);
    QFETCH(QString, err);
    QFETCH(int, remembered);

    QTemporaryDir config;
    QVERIFY(config.isValid());
    if (remembered) {
        QSettings store(config.filePath(QStringLiteral("Kelvane/Vaduz.conf")),
                        QSettings::IniFormat);
        store.setValue(QStringLiteral("serial/port"), QStringLiteral("/dev/ttyUSB0"));
        store.setValue(QStringLiteral("serial/baud"), remembered);
    }

    PtySimulator sim;
    QVERIFY(sim.start());
    sim.setBaudRate(19200);
    if (devices > 0) {
        sim.setDeviceCount(static_cast<uint8_t>(devices));
        sim.setAnswerAll(true);
    } else {
        sim.setAddress(17);
    }
    args.replaceInStrings(QStringLiteral("SIM"), sim.slavePath());

    // No display at all: a program that needed one would fail to start.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer elapsed;
    elapsed.start();
    p.start(QStringLiteral(VADUZ_EXE), args);
    QVERIFY(p.waitForFinished(30000));
    const QString stderrText = QString::fromLocal8Bit(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(QString::fromLocal8Bit(p.readAllStandardOutput()), out);
    QVERIFY2(p.exitCode() == status, qPrintable(stderrText));
    QVERIFY2(stderrText.contains(err), qPrintable(stderrText));
    // Progress lines come at most once a second.
    const int lines = stderrText.count(QStringLiteral("Scanning: "));
    QVERIFY2(lines <= 1 + elapsed.elapsed() / 1000, qPrintable(stderrText));
}

QTEST_GUILESS_MAIN(TestScanCommand)
#include "tst_scancommand.moc"
