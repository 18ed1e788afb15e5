// The device scan over a real pseudo-terminal against the simulated controller, which
// understands one baud rate only: who is found where, on an instant and on a paced RS-485 line;
// that the scan only ever sends one-register reads of block 2; that Stop ends it within one
// address; that it never runs while the link is connected.

#include "devicescan.h"
#include "linktestsupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace linktest;

namespace {

// What a scan reported, gathered on the test's thread.
struct ScanRun {
    QStringList hits;     // "17@19200", "5@9600 exception 2", "2@9600 late"
    QList<int> addresses; // from the progress signal
    int outcome = -1;
    QString detail;

    void follow(DeviceScan &scan) {
        QObject::connect(&scan, &DeviceScan::deviceFound, &scan, [this](const ScanHit &h) {
            QString text = QStringLiteral("%1@%2").arg(h.address).arg(h.baud);
            if (h.exceptionCode)
                text += QStringLiteral(" exception %1").arg(h.exceptionCode);
            if (h.late)
                text += QStringLiteral(" late");
            hits << text;
        });
        QObject::connect(&scan, &DeviceScan::progress, &scan,
                         [this](int address, int, int, int, int) { addresses << address; });
        QObject::connect(&scan, &DeviceScan::scanFinished, &scan,
                         [this](DeviceScan::Outcome o, const QString &d) {
                             outcome = o;
                             detail = d;
                         });
    }
};

QList<int> rates(const QString &text) {
    QList<int> out;
    for (const QString &r : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out << r.toInt();
    return out;
}

ScanPlan planFor(const PtySimulator &sim, const QString &bauds, int first, int last) {
    ScanPlan plan;
    plan.portName = sim.slavePath();
    plan.baudRates = rates(bauds);
    plan.firstAddress = first;
    plan.lastAddress = last;
    return plan;
}

} // namespace

class TestDeviceScan : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { LinkRig::startTick(); }
    void cleanupTestCase() { LinkRig::stopTick(); }
    void finds_data();
    void finds();
    void stopEndsWithinOneAddress();
    void neverWhileConnected();
    void portThatCannotOpen();
};

void TestDeviceScan::finds_data() {
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("baud");    // the controller's rate; 0: it understands any
    QTest::addColumn<int>("devices"); // > 0: answers every address 1..devices
    QTest::addColumn<int>("pace");
    QTest::addColumn<bool>("rs485"); // half duplex, the adapter's echo and turnaround glitches
    QTest::addColumn<bool>("exception");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<QString>("bauds");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<QString>("expected");
    QTest::newRow("one at 17 and 19200: there and nowhere else")
        << 17 << 19200 << 0 << 0 << false << false << 0 << "9600 19200 38400" << 15 << 19
        << "17@19200";
    QTest::newRow("one at 17 and 19200, paced RS-485 line with echo and glitches")
        << 17 << 19200 << 0 << 19200 << true << false << 0 << "9600 19200" << 16 << 18
        << "17@19200";
    QTest::newRow("three on one bus") << 1 << 9600 << 3 << 0 << false << false << 0 << "9600 19200"
                                      << 1 << 5 << "1@9600 2@9600 3@9600";
    QTest::newRow("three on one bus, paced at 9600 with echo")
        << 1 << 9600 << 3 << 9600 << true << false << 0 << "9600" << 1 << 4
        << "1@9600 2@9600 3@9600";
    QTest::newRow("an exception is an answer")
        << 5 << 9600 << 0 << 0 << false << true << 0 << "9600" << 4 << 6 << "5@9600 exception 2";
    QTest::newRow("a late answer counts for the address it names")
        << 2 << 9600 << 0 << 0 << false << false << 130 << "9600" << 1 << 4 << "2@9600 late";
    QTest::newRow("a late answer to the last address asked")
        << 4 << 9600 << 0 << 0 << false << false << 130 << "9600" << 1 << 4 << "4@9600 late";
    QTest::newRow("none at the rates asked")
        << 17 << 19200 << 0 << 0 << false << false << 0 << "9600 57600" << 16 << 18 << "";
}

void TestDeviceScan::finds() {
    QFETCH(int, address);
    QFETCH(int, baud);
    QFETCH(int, devices);
    QFETCH(int, pace);
    QFETCH(bool, rs485);
    QFETCH(bool, exception);
    QFETCH(int, delayMs);
    QFETCH(QString, bauds);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(QString, expected);

    PtySimulator sim;
    QVERIFY(sim.start());
    sim.setFrozen(true);
    sim.setAddress(static_cast<uint8_t>(address));
    sim.setBaudRate(baud);
    if (devices > 0) {
        sim.setDeviceCount(static_cast<uint8_t>(devices));
        sim.setAnswerAll(true);
    }
    SimFaults f;
    f.paceBaud = pace;
    f.halfDuplex = f.echo = f.glitch = rs485;
    f.exception = exception;
    f.delayMs = delayMs;
    sim.setFaults(f);

    DeviceScan scan;
    ScanRun run;
    run.follow(scan);
    const ScanPlan plan = planFor(sim, bauds, first, last);
    QVERIFY(scan.startScan(plan));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome >= 0, 30000);
    QCOMPARE(run.outcome, int(DeviceScan::Completed));
    QCOMPARE(run.hits.join(QLatin1Char(' ')), expected);
    QCOMPARE(run.addresses.size(), plan.addressCount() * plan.baudRates.size());

    // Nothing but one-register reads of block 2, one per address and rate; at a rate the
    // controller is not set to, it saw only garbage.
    QSet<int> asked;
    int clean = 0;
    for (const SimRequest &r : sim.requests()) {
        if (r.garbled)
            continue;
        const int a = static_cast<uint8_t>(r.frame.at(0));
        QVERIFY2(a >= first && a <= last, qPrintable(r.frame.toHex(' ')));
        QCOMPARE(r.frame.toHex(' '), readRequest(a, 2, 1).toHex(' '));
        asked << a;
        ++clean;
    }
    const int understood = baud == 0 ? plan.baudRates.size() : plan.baudRates.count(baud);
    QCOMPARE(clean, understood * plan.addressCount());
    QCOMPARE(asked.size(), understood > 0 ? plan.addressCount() : 0);
}

void TestDeviceScan::stopEndsWithinOneAddress() {
    // A line paced at 9600, silent until the last address.
    PtySimulator sim;
    QVERIFY(sim.start());
    sim.setAddress(247);
    SimFaults f;
    f.paceBaud = 9600;
    sim.setFaults(f);

    DeviceScan scan;
    ScanRun run;
    run.follow(scan);
    QVERIFY(scan.startScan(planFor(sim, QStringLiteral("9600"), 1, 247)));
    QTRY_VERIFY_WITH_TIMEOUT(sim.requestCount() >= 5, 10000);
    const int requestsAtStop = sim.requestCount();
    scan.stopScan();
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome >= 0, 5000);
    QCOMPARE(run.outcome, int(DeviceScan::Stopped));
    QVERIFY(!scan.isRunning());
    // At most the request of the address in progress when the stop came, and nothing after it.
    QTest::qWait(300); // the line has time to carry anything still sent
    QVERIFY2(sim.requestCount() <= requestsAtStop + 1,
             qPrintable(QStringLiteral("%1 then %2").arg(requestsAtStop).arg(sim.requestCount())));
    QVERIFY(run.addresses.size() <= sim.requestCount());
}

void TestDeviceScan::neverWhileConnected() {
    LinkRig rig;
    QVERIFY(rig.setUp());
    const ScanPlan plan = planFor(*rig.sim, QStringLiteral("9600"), 1, 247);

    // Connected: refused before anything is opened or sent.
    rig.connectOn(0);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().portOpens > 0, 5000);
    DeviceScan scan;
    ScanRun run;
    run.follow(scan);
    QVERIFY(DeviceScan::linkConnected());
    QVERIFY(!scan.startScan(plan));
    QVERIFY(!scan.isRunning());
    rig.worker->stopLink();
    QVERIFY(!DeviceScan::linkConnected());

    // Connect pressed while a scan runs: the scan ends within the address in progress and
    // leaves the port to the link.
    rig.sim->clearRequests();
    QVERIFY(scan.startScan(plan));
    QTRY_VERIFY_WITH_TIMEOUT(run.addresses.size() >= 2, 5000);
    rig.worker->startLink(linkSetupFromSettings);
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome >= 0, 5000);
    QCOMPARE(run.outcome, int(DeviceScan::LinkConnected));
    QVERIFY(run.addresses.size() < 10);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk > 0, 10000);
    rig.tearDown();
}

void TestDeviceScan::portThatCannotOpen() {
    DeviceScan scan;
    ScanRun run;
    run.follow(scan);
    ScanPlan plan;
    plan.portName = QStringLiteral("/dev/vaduz-no-such-port");
    plan.baudRates = {9600};
    QVERIFY(scan.startScan(plan));
    QTRY_VERIFY_WITH_TIMEOUT(run.outcome >= 0, 5000);
    QCOMPARE(run.outcome, int(DeviceScan::PortFailed));
    QVERIFY(!run.detail.isEmpty());
    QVERIFY(run.addresses.isEmpty());

    // A plan without a rate, or outside 1-247, does not start.
    plan.baudRates.clear();
    QVERIFY(!scan.startScan(plan));
    plan.baudRates = {9600};
    plan.lastAddress = 248;
    QVERIFY(!scan.startScan(plan));
}

QTEST_GUILESS_MAIN(TestDeviceScan)
#include "tst_devicescan.moc"
