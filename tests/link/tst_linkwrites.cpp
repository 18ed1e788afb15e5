// The link worker's writes and its port handling over a real pseudo-terminal against the
// simulated controller: a staged write and its success text, a silent controller, the write
// list to the current address and to every address, Disconnect in the middle of a long run,
// a port that cannot be opened and a port that vanishes.

#include "linktestsupport.h"

#include <QElapsedTimer>

#include <algorithm>

using namespace linktest;

Q_DECLARE_METATYPE(SimFaults)

namespace {

// A worker whose window stages a write in the instant between the poll decision and the
// dispatch of a loop step, once the poll has chosen a read.
class RacingWorker : public Battert_Stack_Thread {
public:
    std::atomic<int> stagings{0};

protected:
    void afterPollDecision() override {
        if (stagings.load() == 0 && readPending.load() == 1) {
            const uint8_t value[2] = {0x00, 0x2A};
            stageWriteRequest(16, 9, 1, value, 2);
            stagings.fetch_add(1);
        }
    }
};

QString addresses(const QList<SimRequest> &reqs) {
    QStringList out;
    for (const SimRequest &r : reqs)
        out << QString::number(static_cast<uint8_t>(r.frame.at(0)));
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestLinkWrites : public QObject {
    Q_OBJECT
    LinkRig rig;

    // Waits until the link polls the Data page (whose blocks never hold the device count).
    bool connectAndSettle() {
        rig.connectOn(kModeData);
        return QTest::qWaitFor([this] { return rig.worker->stats().readsOk >= 1; }, 3000);
    }

private slots:
    void init() { QVERIFY(rig.setUp()); }
    void cleanup() { rig.tearDown(); }
    void cleanupTestCase() { LinkRig::stopTick(); }

    void singleWriteAndSuccessHold();
    void writeStagedDuringPollStepLeavesNoMalformedRead();
    void idleWorkerSleepsAndAStagedWriteWakesIt();
    void writeOutcome_data();
    void writeOutcome();
    void writeList_data();
    void writeList();
    void eachRunRestoresItsOwnAddress();
    void runOverAll255Addresses();
    void disconnectDuringLongRunIsPrompt();
    void portThatCannotOpenIsRetriedSlowly();
    void vanishedPortIsClosedAndLinkResumes();
};

void TestLinkWrites::singleWriteAndSuccessHold() {
    QVERIFY(connectAndSettle());
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Refreshing Data"), 2000);

    const uint8_t value[2] = {0x00, 0x64};
    stageWriteRequest(16, 5, 1, value, 2);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Setting Successful"), 2000);
    QElapsedTimer held;
    held.start();

    const QList<SimRequest> writes = requestsOf(*rig.sim, 16);
    QCOMPARE(writes.size(), 1);
    QCOMPARE(writes.first().frame.toHex(' '), QByteArray("01 10 00 05 00 01 02 00 64 a7 ee"));
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp.load()), 0, 1000);
    QCOMPARE(int(writePending.load()), 0);

    // The success text stays for 1.5 s; the next read then says "Refreshing Data" again.
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Refreshing Data"), 4000);
    QVERIFY2(held.elapsed() >= 1300, qPrintable(QString::number(held.elapsed())));
    // Polling went on after the write, one full period after it.
    const quint64 reads = rig.worker->stats().readsOk;
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk > reads, 2000);
    const QList<SimRequest> all = rig.sim->requests();
    int w = 0;
    while (w < all.size() && static_cast<uint8_t>(all.at(w).frame.at(1)) != 16)
        ++w;
    QVERIFY(w + 1 < all.size());
    const qint64 nextRead = all.at(w + 1).msSinceStart - all.at(w).msSinceStart;
    QVERIFY2(nextRead >= 400,
             qPrintable(QStringLiteral("next read %1 ms after the write").arg(nextRead)));
}

void TestLinkWrites::writeStagedDuringPollStepLeavesNoMalformedRead() {
    auto *racing = new RacingWorker;
    rig.worker.reset(racing);
    rig.connectOn(kModeHome);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim->writtenRegister(9), uint16_t(42), 3000);
    const quint64 reads = rig.worker->stats().readsOk;
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= reads + 2, 3000);
    rig.worker->stopLink();

    QCOMPARE(racing->stagings.load(), 1);
    const QByteArray read = readRequest(1, 2, 100), write = writeRequest(1, 9, {42});
    int writes = 0;
    for (const SimRequest &r : rig.sim->requests()) {
        QVERIFY2(r.frame == read || r.frame == write, r.frame.toHex(' ').constData());
        writes += r.frame == write;
    }
    QCOMPARE(writes, 1);
}

// Between its polls the worker sleeps instead of passing its loop every millisecond, and a
// staged write does not wait for the sleep to end.
void TestLinkWrites::idleWorkerSleepsAndAStagedWriteWakesIt() {
    rig.connectOn(kModeHome);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 1, 3000);
    const quint64 steps = rig.worker->stats().loopSteps;
    QTest::qWait(1000);
    const quint64 idleSteps = rig.worker->stats().loopSteps - steps;
    QVERIFY2(idleSteps <= 40, qPrintable(QStringLiteral("%1 loop steps in 1 s").arg(idleSteps)));

    // Stage-to-wire times of writes staged at random points of the sleep.
    QList<qint64> latencies;
    QElapsedTimer clock;
    for (int i = 0; i < 10; ++i) {
        QTest::qWait(37 + 13 * i);
        rig.sim->clearRequests();
        const uint8_t value[2] = {0x00, uint8_t(i)};
        clock.start();
        stageWriteRequest(16, 5, 1, value, 2);
        while (requestsOf(*rig.sim, 16).isEmpty() && clock.elapsed() < 2000)
            QThread::usleep(200);
        latencies << clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(int(linkOp.load()), 0, 2000);
    }
    std::sort(latencies.begin(), latencies.end());
    // A write that waited for the sleep's end would take half the longest sleep on average.
    QVERIFY2(latencies.at(latencies.size() / 2) < 10,
             qPrintable(QStringLiteral("median %1 ms").arg(latencies.at(latencies.size() / 2))));
}

void TestLinkWrites::writeOutcome_data() {
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("status");
    SimFaults f;
    f.silent = true;
    QTest::newRow("silent controller: three requests") << f << 3 << "Setting failed: no answer";
    f = SimFaults{};
    f.exception = true;
    QTest::newRow("exception") << f << 1 << "Setting failed: exception 2 (illegal data address)";
    f = SimFaults{};
    f.wrongAddr = 7;
    QTest::newRow("neighbour answers") << f << 1 << "Setting failed: wrong answer";
}

void TestLinkWrites::writeOutcome() {
    QFETCH(SimFaults, faults);
    QFETCH(int, requests);
    QFETCH(QString, status);
    QVERIFY(connectAndSettle());
    // A success still held from an earlier write must give way to the failure.
    const uint8_t first[2] = {0x00, 0x63};
    stageWriteRequest(16, 5, 1, first, 2);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Setting Successful"), 2000);
    rig.sim->clearRequests();
    rig.sim->setFaults(faults);

    const uint8_t value[2] = {0x00, 0x64};
    stageWriteRequest(16, 5, 1, value, 2);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().writesFailed == 1, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp.load()), 0, 1000);
    QCOMPARE(statusText(), status);

    const QList<SimRequest> writes = requestsOf(*rig.sim, 16);
    QCOMPARE(writes.size(), requests);
    for (int i = 1; i < writes.size(); ++i)
        QCOMPARE(writes.at(i).frame, writes.first().frame);
    if (requests > 1) {
        const qint64 gap = meanGap(intervals(writes));
        QVERIFY2(gap >= 80 && gap < 400, qPrintable(QString::number(gap)));
    }
    // Held like a success, then the reads take the footer back: a silent controller does not
    // answer them either, nor does the neighbour's answer count as one.
    QTRY_COMPARE_WITH_TIMEOUT(statusText(),
                              faults.silent || faults.wrongAddr ? QStringLiteral("No answer")
                                                                : QStringLiteral("Refreshing Data"),
                              3000);
}

void TestLinkWrites::writeList_data() {
    QTest::addColumn<int>("op");
    QTest::addColumn<int>("deviceCountCell"); // mirror cell 2:17
    QTest::addColumn<int>("startAddress");
    QTest::addColumn<QString>("expectedAddresses");

    QTest::newRow("list of three to the current address") << 2 << 0 << 1 << "1 1 1";
    QTest::newRow("list of three to addresses 1..3, address restored")
        << 3 << 3 << 2 << "1 1 1 2 2 2 3 3 3";
    QTest::newRow("only the low byte of the device count counts")
        << 3 << 0x0502 << 3 << "1 1 1 2 2 2";
    QTest::newRow("no devices: nothing is sent") << 3 << 0x0700 << 1 << "";
}

void TestLinkWrites::writeList() {
    QFETCH(int, op);
    QFETCH(int, deviceCountCell);
    QFETCH(int, startAddress);
    QFETCH(QString, expectedAddresses);

    rig.sim->setAnswerAll(true);
    rig.sim->setDeviceCount(3);
    deviceAddr.store(static_cast<uint8_t>(startAddress));
    setMirrorCell(217, static_cast<int16_t>(deviceCountCell));
    QVERIFY(connectAndSettle());

    const WriteListEntry list[3] = {entry(5, {100}), entry(24, {0x1234, 0xFFFE}),
                                    entry(74, {26, 12, 7, 23, 59, 1})};
    queueWriteList(list, 3, static_cast<uint8_t>(op));
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp.load()), 0, 5000);
    QCOMPARE(int(writeListCount.load()), 0);
    QCOMPARE(int(deviceAddr.load()), startAddress);

    const QList<SimRequest> writes = requestsOf(*rig.sim, 16);
    QCOMPARE(addresses(writes), expectedAddresses);
    for (int i = 0; i < writes.size(); ++i) {
        const int addr = static_cast<uint8_t>(writes.at(i).frame.at(0));
        const QByteArray expected = i % 3 == 0   ? writeRequest(addr, 5, {100})
                                    : i % 3 == 1 ? writeRequest(addr, 24, {0x1234, 0xFFFE})
                                                 : writeRequest(addr, 74, {26, 12, 7, 23, 59, 1});
        QCOMPARE(writes.at(i).frame.toHex(' '), expected.toHex(' '));
    }
    QCOMPARE(rig.worker->stats().writesOk, quint64(writes.size()));
    if (!writes.isEmpty())
        QCOMPARE(statusText(), QStringLiteral("Setting Successful"));
}

void TestLinkWrites::eachRunRestoresItsOwnAddress() {
    rig.sim->setAnswerAll(true);
    rig.sim->setDeviceCount(3);
    // Each controller's own mirror holds the device count it reported.
    mirrorOf(2).setCell(217, 2);
    mirrorOf(3).setCell(217, 2);
    deviceAddr.store(2);
    QVERIFY(connectAndSettle());
    const WriteListEntry list[1] = {entry(5, {1})};

    queueWriteList(list, 1, 3);
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp.load()), 0, 3000);
    QCOMPARE(int(deviceAddr.load()), 2);

    deviceAddr.store(3); // the operator changes the address between two runs
    queueWriteList(list, 1, 3);
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp.load()), 0, 3000);
    QCOMPARE(int(deviceAddr.load()), 3);
    QCOMPARE(addresses(requestsOf(*rig.sim, 16)), QStringLiteral("1 2 1 2"));
}

void TestLinkWrites::runOverAll255Addresses() {
    rig.sim->setAnswerAll(true);
    rig.sim->setDeviceCount(255);
    setMirrorCell(217, 255);
    QVERIFY(connectAndSettle());
    const WriteListEntry list[1] = {entry(5, {7})};

    queueWriteList(list, 1, 3);
    // The run sends to 255 addresses without ever changing the selected one.
    QElapsedTimer running;
    running.start();
    while (linkOp.load() != 0 && running.elapsed() < 30000) {
        QCOMPARE(int(deviceAddr.load()), 1);
        QTest::qWait(1);
    }
    QCOMPARE(int(linkOp.load()), 0);
    const QList<SimRequest> writes = requestsOf(*rig.sim, 16);
    QCOMPARE(writes.size(), 255);
    for (int i = 0; i < 255; ++i)
        QCOMPARE(static_cast<uint8_t>(writes.at(i).frame.at(0)), static_cast<uint8_t>(i + 1));
    QCOMPARE(int(deviceAddr.load()), 1);
    QCOMPARE(rig.worker->stats().writesOk, quint64(255));
}

void TestLinkWrites::disconnectDuringLongRunIsPrompt() {
    deviceAddr.store(9);
    setMirrorCell(217, 255);
    rig.sim->setAddress(9);
    QVERIFY(connectAndSettle());
    SimFaults silent;
    silent.silent = true;
    rig.sim->setFaults(silent);

    // 255 addresses x 2 entries x 3 attempts of 100 ms: minutes of work.
    const WriteListEntry list[2] = {entry(5, {1}), entry(6, {2})};
    queueWriteList(list, 2, 3);
    QTRY_VERIFY_WITH_TIMEOUT(requestsOf(*rig.sim, 16).size() >= 4, 3000);

    QElapsedTimer stopping;
    stopping.start();
    rig.worker->stopLink();
    const qint64 took = stopping.elapsed();
    QVERIFY2(took < 1000, qPrintable(QStringLiteral("Disconnect took %1 ms").arg(took)));
    QVERIFY(rig.worker->isFinished());

    QCOMPARE(int(deviceAddr.load()), 9);
    QCOMPARE(int(linkOp.load()), 0);
    QCOMPARE(int(writeListCount.load()), 0);
    const int sent = requestsOf(*rig.sim, 16).size();
    QTest::qWait(300); // nothing may follow the Disconnect
    QCOMPARE(requestsOf(*rig.sim, 16).size(), sent);
}

void TestLinkWrites::portThatCannotOpenIsRetriedSlowly() {
    LogCapture log;
    LinkRig::usePort(QStringLiteral("/dev/vaduz-no-such-port"));
    rig.connectOn(kModeHome);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Serial open failed"), 2000);

    // Over 2.5 s the port is tried about once a second, not every millisecond.
    QTest::qWait(2500);
    const int tries = log.count(QStringLiteral("Serial open failed:"));
    QVERIFY2(tries >= 2 && tries <= 5, qPrintable(QString::number(tries)));
    QCOMPARE(rig.sim->requestCount(), 0);

    // The port appears (here: the settings now name an existing one); the link comes up.
    LinkRig::useSimulator(*rig.sim);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 1, 4000);
    QCOMPARE(statusText(), QStringLiteral("Refreshing Data"));
    QCOMPARE(log.count(QStringLiteral("Serial opened on thread:")), 1);
}

void TestLinkWrites::vanishedPortIsClosedAndLinkResumes() {
    rig.markBlock(2);
    rig.connectOn(kModeHome);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 1, 3000);
    QCOMPARE(rig.landedCells(2), 100);

    // The line goes away under the open port.
    rig.sim->stop();
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().portLosses >= 1, 4000);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Serial open failed"), 4000);
    QVERIFY(rig.worker->isRunning());
    QCOMPARE(rig.landedCells(2), 100); // the mirror keeps the last values

    // A line is back; the link reopens by itself and polls again.
    PtySimulator second;
    QVERIFY(second.start());
    second.setFrozen(true);
    LinkRig::useSimulator(second);
    const quint64 reads = rig.worker->stats().readsOk;
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk > reads, 5000);
    QVERIFY(second.requestCount() >= 1);
    rig.worker->stopLink();
}

QTEST_GUILESS_MAIN(TestLinkWrites)
#include "tst_linkwrites.moc"
