// The vaduz program run as a process (offscreen, with the built-in simulated controller):
// a termination signal ends it like closing the window, every thread stopped; a bad option is
// refused with a message.

#include <QProcess>
#include <QProcessEnvironment>
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

// --simulator --connect: the link runs at start, and --verbose puts its frames on the terminal.
void TestVaduzProcess::connectsAtStartWithTheSimulator() {
    QProcess p;
    startVaduz(p, {QStringLiteral("--simulator"), QStringLiteral("--connect"),
                   QStringLiteral("--verbose"), QStringLiteral("--address"), QStringLiteral("1")});
    QVERIFY(p.waitForStarted(10000));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("RECV: 205 01 04 c8"),
                             20000);
    QVERIFY2(err.contains("SEND: 8 01 04 00 02 00 64 50 21"), err.constData());
    QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestVaduzProcess)
#include "tst_vaduzprocess.moc"
