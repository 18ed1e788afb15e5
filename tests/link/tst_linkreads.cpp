// The link worker's reads over a real pseudo-terminal against the simulated controller: each
// page's plan in order and at its period, registers landing at block x 100, the fault-record
// walk and the frame log. What the link does with answers that are split, late, foreign,
// broken, short or too long is shown on the fake port (tst_linkengine.cpp).

#include "linktestsupport.h"
#include "serialport.h"

#include <QRegularExpression>

#include <algorithm>

using namespace linktest;

namespace {

// Drops the repeated attempts of a read (same frame, sooner than half a period after the one
// before), so that a read that needed a retry on a loaded machine still counts once.
QList<SimRequest> withoutRetries(const QList<SimRequest> &reqs, int period) {
    QList<SimRequest> out;
    for (const SimRequest &r : reqs)
        if (out.isEmpty() || r.frame != out.last().frame ||
            r.msSinceStart - out.last().msSinceStart >= period / 2)
            out << r;
    return out;
}

qint64 median(QList<qint64> v) {
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

} // namespace

class TestLinkReads : public QObject {
    Q_OBJECT
    LinkRig rig;

private slots:
    void init() { QVERIFY(rig.setUp()); }
    void cleanup() { rig.tearDown(); }
    void cleanupTestCase() { LinkRig::stopTick(); }

    void pagePlan_data();
    void pagePlan();
    void faultWalkReadsRecordsThenEnds();
    void faultWalkPausesOnOtherPage();
    void frameLogLines();
    void discardDropsAnAnswerHeldInTheDriver();
};

void TestLinkReads::pagePlan_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("blocks");
    QTest::addColumn<QList<int>>("counts"); // registers asked for, per block in "blocks"
    QTest::addColumn<int>("period");
    // 0: an instant pseudo-terminal; else a half-duplex line paced at this baud rate, with the
    // adapter's echo and a glitch byte at every turnaround.
    QTest::addColumn<int>("lineBaud");

    for (const int baud : {0, 9600, 115200}) {
        const QString line =
            baud ? QStringLiteral(", half-duplex %1 with echo").arg(baud) : QString();
        auto row = [&](const char *name) {
            return &QTest::newRow(qPrintable(QLatin1String(name) + line));
        };
        *row("home reads block 2 every 500 ms")
            << 0 << "2 2 2 2" << QList<int>{100, 100, 100, 100} << 500 << baud;
        *row("data alternates blocks 1 and 0 every 500 ms")
            << 1 << "1 0 1 0" << QList<int>{100, 100, 100, 100} << 500 << baud;
        *row("settings walks its cycle every 500 ms")
            << 2 << "3 4 5 86 88" << QList<int>{20, 20, 15, 50, 50} << 500 << baud;
        *row("fault page reads block 6 every 500 ms")
            << 3 << "6 6 6" << QList<int>{5, 5, 5} << 500 << baud;
        *row("pack reads blocks 7 to 21 every 200 ms, pauses once")
            << 4 << "7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 7"
            << QList<int>{92, 92, 92, 92, 92, 92, 92, 92, 92, 92, 92, 92, 92, 92, 92, 92} << 200
            << baud;
    }
}

void TestLinkReads::pagePlan() {
    QFETCH(int, mode);
    QFETCH(QString, blocks);
    QFETCH(QList<int>, counts);
    QFETCH(int, period);
    QFETCH(int, lineBaud);

    const QStringList expected = blocks.split(QLatin1Char(' '));
    for (const QString &b : expected)
        rig.markBlock(b.toInt());
    if (lineBaud) {
        SimFaults line;
        line.paceBaud = lineBaud;
        line.halfDuplex = line.echo = line.glitch = true;
        rig.sim->setFaults(line);
        useSerialLine(rig.sim->slavePath(), lineBaud);
    }

    rig.connectOn(mode);
    const int n = expected.size();
    QTRY_VERIFY_WITH_TIMEOUT(withoutRetries(requestsOf(*rig.sim, 4), period).size() >= n &&
                                 rig.worker->stats().readsOk >= quint64(n),
                             n * period * 3 + 3000);
    const QList<SimRequest> reads = withoutRetries(requestsOf(*rig.sim, 4), period).mid(0, n);
    QCOMPARE(readBlocks(reads), blocks);
    if (lineBaud) {
        // One request per read: no retry ever collided with an answer still on the wire.
        QCOMPARE(readBlocks(requestsOf(*rig.sim, 4).mid(0, n)), blocks);
        QCOMPARE(rig.worker->stats().readsFailed, quint64(0));
        QVERIFY(rig.worker->stats().echoBytes >= quint64(8 * n));
    }

    // Byte-exact requests to address 1.
    for (int i = 0; i < n; ++i)
        QCOMPARE(reads.at(i).frame.toHex(' '),
                 readRequest(1, expected.at(i).toInt(), counts.at(i)).toHex(' '));

    // Each block landed at block x 100 with exactly the registers asked for.
    for (int i = 0; i < n; ++i)
        QCOMPARE(rig.landedCells(expected.at(i).toInt()), counts.at(i));

    // Never faster than the period; roughly at it. The Pack page's pause is one silent
    // period between block 21 and block 7. The simulator stamps a request when it reads it, so
    // on a loaded machine one gap can shrink while its neighbour grows: the bounds hold for the
    // mean gap, not for each one.
    QList<qint64> gaps = intervals(reads);
    if (mode == kModePack) {
        QVERIFY2(gaps.last() >= 2 * period * 8 / 10, qPrintable(QString::number(gaps.last())));
        gaps.removeLast();
    }
    QVERIFY2(meanGap(gaps) >= period * 8 / 10,
             qPrintable(QStringLiteral("mean gap %1 ms").arg(meanGap(gaps))));
    QVERIFY2(median(gaps) <= 2 * period, qPrintable(QString::number(median(gaps))));
    QCOMPARE(statusText(), QStringLiteral("Refreshing Data"));
}

void TestLinkReads::faultWalkReadsRecordsThenEnds() {
    for (int b = 22; b <= 24; ++b)
        rig.markBlock(b);
    rig.connectOn(kModeFault);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 1, 3000);

    // The Fault page's reading command for two records.
    rig.sim->clearRequests();
    faultCount.store(2);
    faultIndex.store(0);
    faultWalk.store(1);
    pollPeriod.store(kWalkPeriod);

    QTRY_VERIFY_WITH_TIMEOUT(readBlocks(requestsOf(*rig.sim, 4)).endsWith(QLatin1String("6 6")),
                             6000);
    const QList<SimRequest> reads = requestsOf(*rig.sim, 4);
    // A record whose read timed out on a loaded machine is asked for again: fold repeats.
    QString blocks = withoutRepeats(readBlocks(reads));
    // A read of block 6 may have been under way when the walk began.
    if (blocks.startsWith(QLatin1String("6 ")))
        blocks = blocks.mid(2);
    QVERIFY2(blocks.startsWith(QLatin1String("22 23 24 6")), qPrintable(blocks));
    QCOMPARE(int(faultWalk.load()), 0);
    QCOMPARE(int(faultIndex.load()), 3);
    QCOMPARE(int(pollPeriod.load()), 500);
    for (int b = 22; b <= 24; ++b)
        QCOMPARE(rig.landedCells(b), kFaultRecordRegs);
    // Records follow each other at the walk's period (on average: see pagePlan).
    const QList<qint64> gaps = intervals(reads);
    QList<qint64> walkGaps;
    for (int i = 0; i + 1 < reads.size(); ++i) {
        const int block = static_cast<uint8_t>(reads.at(i + 1).frame.at(3));
        if (block >= 23 && block <= 24)
            walkGaps << gaps.at(i);
    }
    QVERIFY2(meanGap(walkGaps) >= kWalkPeriod * 8 / 10,
             qPrintable(QString::number(meanGap(walkGaps))));
}

void TestLinkReads::faultWalkPausesOnOtherPage() {
    rig.connectOn(kModeFault);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 1, 3000);
    faultCount.store(3);
    faultIndex.store(0);
    faultWalk.store(1);
    pollPeriod.store(kWalkPeriod);
    QTRY_VERIFY_WITH_TIMEOUT(faultIndex.load() == 1, 3000);

    // The operator looks at the Home page: its reads must not count as fault records.
    pollMode.store(kModeHome);
    const quint64 before = rig.worker->stats().readsOk;
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= before + 3, 5000);
    QCOMPARE(int(faultIndex.load()), 1);
    QCOMPARE(int(faultWalk.load()), 1);

    rig.sim->clearRequests();
    pollMode.store(kModeFault);
    QTRY_VERIFY_WITH_TIMEOUT(faultWalk.load() == 0, 8000);
    QString blocks = withoutRepeats(readBlocks(requestsOf(*rig.sim, 4)));
    if (blocks.startsWith(QLatin1String("2 ")))
        blocks = blocks.mid(2);
    QVERIFY2(blocks.startsWith(QLatin1String("23 24 25")), qPrintable(blocks));
    QCOMPARE(int(faultIndex.load()), 4);
}

void TestLinkReads::frameLogLines() {
    LogCapture log;
    // Directly on the category: the test environment switches frame lines off by rule.
    auto &frames = const_cast<QLoggingCategory &>(lcLinkFrames());
    const bool wasEnabled = frames.isDebugEnabled();
    frames.setEnabled(QtDebugMsg, true);
    rig.connectOn(kModeHome);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 1, 3000);
    rig.worker->stopLink();
    frames.setEnabled(QtDebugMsg, wasEnabled);

    const QStringList lines = log.lines();
    QVERIFY(lines.filter(QRegularExpression(QStringLiteral("^Serial opened on thread:"))).size() ==
            1);
    QCOMPARE(
        lines.filter(QRegularExpression(QStringLiteral("^\\d+ SEND: 8 01 04 00 02 00 64 50 21$")))
            .size(),
        1);
    QCOMPARE(lines
                 .filter(QRegularExpression(
                     QStringLiteral("^\\d+ RECV: 205 01 04 c8( [0-9a-f]{2}){202}$")))
                 .size(),
             1);
}

void TestLinkReads::discardDropsAnAnswerHeldInTheDriver() {
    // The discard before a request, which flushes only when bytes are held, still drops an
    // answer that waits in the terminal's driver. No event loop runs here, as on the link's
    // thread: it would take the bytes into the port.
    SerialLinePort port(rig.sim->slavePath(), SerialLine{});
    QString reason;
    QVERIFY2(port.open(&reason), qPrintable(reason));
    QByteArray got;
    const uint8_t request[] = {0x01, 0x04, 0x00, 0x02, 0x00, 0x64, 0x50, 0x21};
    for (const bool discard : {false, true}) {
        const int answers = rig.sim->answerCount();
        QVERIFY(port.write(request, int(sizeof request), port.nowUs() + 1000000));
        for (int ms = 0; ms < 3000 && rig.sim->answerCount() == answers; ms += 5)
            QThread::msleep(5);
        QThread::msleep(50); // the answer through the terminal into its driver
        got.clear();
        if (discard) {
            port.discardInput();
            QVERIFY(!port.waitForBytes(port.nowUs() + 100000));
        }
        QCOMPARE(port.readAvailable(got), discard ? 0 : 205);
    }
    port.close();
}

QTEST_GUILESS_MAIN(TestLinkReads)
#include "tst_linkreads.moc"
