// The vaduz program run as a process (offscreen, with the built-in simulated controller):
// a termination signal ends it like closing the window, every thread stopped; a bad option is
// refused with a message.

#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestVaduzProcess : public QObject {
    Q_OBJECT

private slots:
    void terminationSignalClosesCleanly_data();
    void terminationSignalClosesCleanly();
    void commandLine_data();
    void commandLine();
    void connectsAtStartWithTheSimulator();
    void portDisplayAndProcessEndTogether_data();
    void portDisplayAndProcessEndTogether();

private:
    QTemporaryDir m_config; // the runs' remembered settings, away from the user's own

    void startVaduz(QProcess &p, const QStringList &args, bool display = true) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
        if (display) {
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        } else {
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            env.remove(QStringLiteral("DISPLAY"));
            env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        }
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vaduz.app.info=true"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(QStringLiteral(VADUZ_EXE), args);
    }
};

void TestVaduzProcess::terminationSignalClosesCleanly_data() {
    QTest::addColumn<int>("sig");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestVaduzProcess::terminationSignalClosesCleanly() {
    QFETCH(int, sig);
    QProcess p;
    startVaduz(p, {QStringLiteral("--simulator")});
    QVERIFY(p.waitForStarted(10000));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Main window shown"),
                             20000);
    QCOMPARE(::kill(pid_t(p.processId()), sig), 0);
    QVERIFY(p.waitForFinished(20000));
    err += p.readAllStandardError();
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, err.constData());
    QVERIFY2(err.contains("Main window closed"), err.constData());
    QVERIFY2(!err.contains("Destroyed while thread is still running"), err.constData());
    QVERIFY2(!err.contains("QSocketNotifier"), err.constData());
}

void TestVaduzProcess::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("onStdout");
    QTest::addColumn<QString>("expected");
    const QString version = QStringLiteral("vaduz " VADUZ_VERSION);
    // Without a display: these never open a window.
    QTest::newRow("--help") << QStringList{"--help"} << 0 << true << "Usage: vaduz [options]";
    QTest::newRow("-h") << QStringList{"-h"} << 0 << true << "--connect";
    QTest::newRow("--version") << QStringList{"--version"} << 0 << true << version;
    QTest::newRow("Qt's own option passes") << QStringList{"-platform", "offscreen", "--version"}
                                             << 0 << true << version;
    QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << false
                                    << "Unknown option 'bogus'";
    QTest::newRow("usage after an error") << QStringList{"--bogus"} << 2 << false
                                          << "Usage: vaduz [options]";
    QTest::newRow("stray argument") << QStringList{"COM3"} << 2 << false
                                    << "unexpected argument 'COM3'";
    QTest::newRow("--port without a path") << QStringList{"--port"} << 2 << false
                                           << "--port needs a device path";
    QTest::newRow("baud not offered") << QStringList{"--baud", "1234"} << 2 << false
                                      << "--baud takes 9600, 19200, 38400, 57600 or 115200";
    QTest::newRow("address 0") << QStringList{"--address", "0"} << 2 << false
                               << "--address takes a whole number from 1 to 247";
    QTest::newRow("address 248") << QStringList{"--address=248"} << 2 << false
                                 << "--address takes a whole number from 1 to 247";
}

void TestVaduzProcess::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(bool, onStdout);
    QFETCH(QString, expected);
    QProcess p;
    startVaduz(p, args, false);
    QVERIFY(p.waitForFinished(20000));
    const QByteArray out = p.readAllStandardOutput();
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), exitCode);
    QVERIFY2((onStdout ? out : err).contains(expected.toUtf8()), (out + err).constData());
}

// --simulator --connect: the link runs at start on the simulated controller's address and rate
// whatever was remembered from another controller, and --verbose puts its frames on the
// terminal.
void TestVaduzProcess::connectsAtStartWithTheSimulator() {
    QDir().mkpath(m_config.filePath(QStringLiteral("Kelvane")));
    QFile remembered(m_config.filePath(QStringLiteral("Kelvane/Vaduz.conf")));
    QVERIFY(remembered.open(QIODevice::WriteOnly));
    remembered.write("[serial]\nport=/dev/ttyUSB7:USB serial\naddress=9\nbaud=19200\nparity=2\n");
    remembered.close();
    QProcess p;
    startVaduz(p, {QStringLiteral("--simulator"), QStringLiteral("--connect"),
                   QStringLiteral("--verbose")});
    QVERIFY(p.waitForStarted(10000));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("RECV: 205 01 04 c8"),
                             20000);
    QVERIFY2(err.contains("SEND: 8 01 04 00 02 00 64 50 21"), err.constData());
    QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    QFile::remove(remembered.fileName());
}

void TestVaduzProcess::portDisplayAndProcessEndTogether_data() {
    QTest::addColumn<int>("run");
    for (int run = 1; run <= 20; ++run)
        QTest::addRow("run %d", run) << run;
}

// Connected on a window of a real X server to the simulated controller on its own pseudo-
// terminal: the controller, the display and the program are ended in the same moment. The
// program neither crashes nor leaves its link running: either the termination signal closes
// the window (exit 0), or Qt, having lost the display, ends the process (exit 1) after the link
// was stopped.
void TestVaduzProcess::portDisplayAndProcessEndTogether() {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        QSKIP("no Xvfb");
    QProcess display;
    display.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                           QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QByteArray number;
    QTRY_VERIFY_WITH_TIMEOUT((number += display.readAllStandardOutput()).contains('\n'), 10000);
    QProcess controller;
    controller.start(QStringLiteral(VADUZ_SIM), {QStringLiteral("--pty")});
    QByteArray pts;
    QTRY_VERIFY_WITH_TIMEOUT((pts += controller.readAllStandardOutput()).contains('\n'), 10000);

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.insert(QStringLiteral("DISPLAY"), QLatin1Char(':') + QString::fromLatin1(number.trimmed()));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_config.path());
    env.insert(QStringLiteral("QT_LOGGING_RULES"),
               QStringLiteral("vaduz.app.info=true\nvaduz.link.debug=true"));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(VADUZ_EXE),
            {QStringLiteral("--port"), QString::fromLatin1(pts.trimmed()),
             QStringLiteral("--connect")});
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("Serial opened"), 20000);
    ::kill(pid_t(controller.processId()), SIGKILL);
    ::kill(pid_t(display.processId()), SIGTERM);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(20000));
    err += p.readAllStandardError();
    controller.waitForFinished(5000);
    display.waitForFinished(5000);
    QVERIFY2(p.exitStatus() == QProcess::NormalExit,
             qPrintable(QStringLiteral("ended by signal %1: %2")
                            .arg(p.exitCode())
                            .arg(QString::fromLocal8Bit(err))));
    if (p.exitCode() == 0)
        QVERIFY2(err.contains("Main window closed"), err.constData());
    else
        QVERIFY2(p.exitCode() == 1 && err.contains("Link stopped"), err.constData());
}

QTEST_GUILESS_MAIN(TestVaduzProcess)
#include "tst_vaduzprocess.moc"
