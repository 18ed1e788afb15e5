// The vaduz program run as a process (offscreen, with the built-in simulated controller):
// a termination signal ends it like closing the window, every thread stopped; a bad option is
// refused with a message.

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

#include <csignal>

class TestVaduzProcess : public QObject {
    Q_OBJECT

private slots:
    void terminationSignalClosesCleanly_data();
    void terminationSignalClosesCleanly();
    void portWithoutPathIsRefused();

private:
    static void startVaduz(QProcess &p, const QStringList &args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
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

void TestVaduzProcess::portWithoutPathIsRefused() {
    QProcess p;
    startVaduz(p, {QStringLiteral("--port")});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardError().contains("--port needs a device path"));
}

QTEST_GUILESS_MAIN(TestVaduzProcess)
#include "tst_vaduzprocess.moc"
