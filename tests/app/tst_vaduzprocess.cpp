// The vaduz program run as a process (offscreen, with the built-in simulated controller):
// a termination signal ends it like closing the window, every thread stopped; a bad option is
// refused with a message. The Bus window's recording against pymodbus serving six addresses on
// one serial line.

#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <QDir>
#include <QScopeGuard>

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
    void busOverOneSerialLine();

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

namespace {

// The rows of the recording's CSV file of kind ("bus", "events") in folder, heading left out,
// each split at its commas (the columns read here come before any quoted text).
QList<QStringList> csvRows(const QString &folder, const QString &kind) {
    QList<QStringList> rows;
    const QStringList files =
        QDir(folder).entryList({kind + QStringLiteral("-*.csv")}, QDir::Files, QDir::Name);
    if (files.isEmpty())
        return rows;
    QFile file(QDir(folder).filePath(files.last()));
    if (!file.open(QIODevice::ReadOnly))
        return rows;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    for (int i = 1; i < lines.size(); ++i)
        if (!lines.at(i).isEmpty())
            rows << lines.at(i).split(QLatin1Char(','));
    return rows;
}

// The requests the peer has seen for address, from its counts file.
int requestsTo(const QString &control, int address) {
    QFile file(control + QStringLiteral(".counts"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith(QByteArray::number(address) + ' '))
            return line.mid(line.indexOf(' ') + 1).toInt();
    return 0;
}

void writeControl(const QString &control, const QByteArray &text) {
    QFile file(control);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

} // namespace

// vaduz --port LINE --connect --bus 1-8 --record DIR against pymodbus serving addresses 1..6 on
// one pseudo-terminal line (address u's registers offset by 1000 * (u - 1)): the recording has
// each controller's own values and 7 and 8 as not answering; an alarm bit set on address 2 is
// one "raised" event and its clearing one "cleared"; address 3 falling silent is told and
// backed off (the peer counts what it is asked).
void TestVaduzProcess::busOverOneSerialLine() {
    QTemporaryDir dir;
    const QString control = dir.filePath(QStringLiteral("control"));
    const QString folder = dir.filePath(QStringLiteral("rec"));
    QVERIFY(QDir().mkpath(folder));
    writeControl(control, "");
    QProcess peer;
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(VADUZ_PYMODBUS_SERVER), QStringLiteral("pty"), QStringLiteral("rtu"),
                QStringLiteral("1,2,3,4,5,6"), control});
    QByteArray line;
    QTRY_VERIFY_WITH_TIMEOUT((line += peer.readAllStandardOutput()).contains('\n'), 10000);
    QVERIFY2(line.startsWith("LINE "), line.constData());
    QProcess p;
    startVaduz(p, {QStringLiteral("--port"), QString::fromLatin1(line.mid(5).trimmed()),
                   QStringLiteral("--baud"), QStringLiteral("115200"), QStringLiteral("--connect"),
                   QStringLiteral("--bus"), QStringLiteral("1-8"), QStringLiteral("--record"),
                   folder});
    QVERIFY(p.waitForStarted(10000));
    const auto cleanup = qScopeGuard([&] {
        ::kill(pid_t(p.processId()), SIGTERM);
        p.waitForFinished(20000);
        peer.kill();
        peer.waitForFinished(5000);
    });

    // The last row of each address.
    const auto lastRows = [&folder] {
        QMap<int, QStringList> last;
        for (const QStringList &row : csvRows(folder, QStringLiteral("bus")))
            if (row.size() > 5)
                last[row.at(1).toInt()] = row;
        return last;
    };
    // Columns: time, address, state, SOC, SOH, total voltage.
    QTRY_VERIFY_WITH_TIMEOUT(lastRows().size() == 8, 40000);
    QMap<int, QStringList> rows = lastRows();
    for (int u = 1; u <= 6; ++u) {
        QCOMPARE(rows[u].at(2), QStringLiteral("live"));
        QCOMPARE(rows[u].at(3).toInt(), rows[1].at(3).toInt() + 1000 * (u - 1));
        QCOMPARE(qRound(rows[u].at(5).toDouble() * 10), qRound(rows[1].at(5).toDouble() * 10) +
                                                             1000 * (u - 1));
    }
    for (int u : {7, 8}) {
        QVERIFY2(rows[u].at(2) == QLatin1String("no answer") ||
                     rows[u].at(2) == QLatin1String("backed off"),
                 qPrintable(rows[u].join(QLatin1Char(','))));
        QCOMPARE(rows[u].at(3), QString());
    }

    // Events of address 2 (columns: time, address, event, level, level text, alarm).
    const auto eventsOf2 = [&folder](const QString &kind) {
        QStringList alarms;
        for (const QStringList &row : csvRows(folder, QStringLiteral("events")))
            if (row.size() > 5 && row.at(1) == QLatin1String("2") && row.at(2) == kind)
                alarms << row.at(5);
        return alarms;
    };
    // Address 2's rows so far: a later one comes from a later reading.
    const auto rowsOf2 = [&folder] {
        int n = 0;
        for (const QStringList &row : csvRows(folder, QStringLiteral("bus")))
            n += row.size() > 1 && row.at(1) == QLatin1String("2") ? 1 : 0;
        return n;
    };
    // Word 0 of address 2 is register 6: 1191 (0x04A7), bit 3 off. On, then off again.
    const QStringList raisedBefore = eventsOf2(QStringLiteral("raised"));
    QVERIFY(eventsOf2(QStringLiteral("cleared")).isEmpty());
    writeControl(control, "set 2 6 0x04AF\n");
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf2(QStringLiteral("raised")).size() > raisedBefore.size(),
                             30000);
    int seen = rowsOf2();
    QTRY_VERIFY_WITH_TIMEOUT(rowsOf2() >= seen + 2, 30000);
    const QStringList raised = eventsOf2(QStringLiteral("raised")).mid(raisedBefore.size());
    QCOMPARE(raised.size(), 1);
    QVERIFY(!raisedBefore.contains(raised.first()));

    // Cleared, and address 3 falls silent at the same time.
    writeControl(control, "set 2 6 0x04A7\nsilent 3\n");
    const int askedBefore = requestsTo(control, 3);
    QTRY_VERIFY_WITH_TIMEOUT(eventsOf2(QStringLiteral("cleared")).size() == 1, 30000);
    seen = rowsOf2();
    QTRY_VERIFY_WITH_TIMEOUT(rowsOf2() >= seen + 2, 30000);
    QCOMPARE(eventsOf2(QStringLiteral("cleared")), raised);
    QCOMPARE(eventsOf2(QStringLiteral("raised")).size(), raisedBefore.size() + 1);

    QTRY_VERIFY_WITH_TIMEOUT(lastRows()[3].at(2) != QLatin1String("live"), 30000);
    QVERIFY2(lastRows()[3].at(2) == QLatin1String("no answer") ||
                 lastRows()[3].at(2) == QLatin1String("backed off"),
             qPrintable(lastRows()[3].join(QLatin1Char(','))));
    // Over the next 20 s: asked again once after 5 s (three attempts), then left alone for 30 s;
    // without the back-off it would be asked twice a round. A live address meanwhile is asked
    // on.
    const int silentFrom = requestsTo(control, 3);
    const int liveFrom = requestsTo(control, 4);
    QTest::qWait(20000);
    const int silentAsked = requestsTo(control, 3) - silentFrom;
    QVERIFY2(silentFrom > askedBefore && silentAsked <= 6,
             qPrintable(QStringLiteral("%1 requests to the silent address in 20 s")
                            .arg(silentAsked)));
    QVERIFY(requestsTo(control, 4) - liveFrom >= 4);
    QCOMPARE(p.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestVaduzProcess)
#include "tst_vaduzprocess.moc"
