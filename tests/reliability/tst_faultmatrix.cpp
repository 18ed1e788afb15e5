// The link under each fault of a live installation, end to end: the real worker on a real
// pseudo-terminal against the simulated controller, one row per fault. For every row the
// worker keeps running, a failed read leaves the mirror as it was, the status text says what
// is true, a write is reported successful only when the controller echoed it, and the link
// resumes polling by itself a few poll periods after the fault ends.
//
// The port is opened through a symbolic link that the test points at the current
// pseudo-terminal, so that a line that disappears and comes back under another name is the
// same port to the program, as a re-plugged adapter is.

#include "linktestsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <set>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace linktest;

Q_DECLARE_METATYPE(SimFaults)

namespace {

constexpr int kBlock = 2;      // the Home page reads block 2, 100 registers, every 500 ms
constexpr int kOtherBlock = 3; // never read on the Home page: must never change
constexpr int kPollPeriod = 500;
constexpr int16_t kSentinel = -1;  // no pattern value below is negative
constexpr uint16_t kWriteReg = 24; // read back in block 3, which the Home page does not read
constexpr uint16_t kWriteValue = 3650;

// The controller's values before, during and after the fault: distinct in every cell.
int16_t patternA(int i) {
    return static_cast<int16_t>(0x1000 + i);
}
int16_t patternB(int i) {
    return static_cast<int16_t>(0x2000 + i);
}
int16_t patternC(int i) {
    return static_cast<int16_t>(0x3000 + i);
}

// What happens to the line itself.
enum LineEvent {
    kLineStays = 0,
    kHangUpUnderRequest = 1, // the line dies while a transaction is in progress
    kLineRemoved = 2,        // the line disappears between transactions and comes back
    kReboot = 3,             // the controller goes quiet, then answers with every block zeroed
};

// What the reads do while the fault lasts.
constexpr int kReadsFail = 0;
constexpr int kReadsMixed = -1;
// Otherwise: the number of leading registers that take the controller's new values.

// What becomes of the write staged while the fault lasts.
constexpr int kWriteFails = 0;
constexpr int kWriteEchoed = 1;
constexpr int kWriteEither = -1;

SimFaults faultsWith(const std::function<void(SimFaults &)> &set) {
    SimFaults f;
    set(f);
    return f;
}

quint64 transactions(const LinkStats &s) {
    return s.readsOk + s.readsFailed;
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

    LinkRig rig;
    std::unique_ptr<QTemporaryDir> dir;
    QString linePath; // the stable name of the port: a link to the current pty

    // Watch over the mirror and the status text, every few milliseconds for the whole row.
    QTimer watch;
    std::vector<std::set<int16_t>> allowed; // per register of kBlock: values the controller held
    QStringList violations;
    bool successShown = false;
    bool successWithoutWrite = false;

    bool pointLineAt(const QString &target) {
        // Replaced in one step, so an open attempt never sees a half-made link.
        const QString tmp = linePath + QStringLiteral(".new");
        QFile::remove(tmp);
        if (!QFile::link(target, tmp))
            return false;
        return ::rename(QFile::encodeName(tmp).constData(),
                        QFile::encodeName(linePath).constData()) == 0;
    }

    void setController(int16_t (*pattern)(int)) {
        for (int i = 0; i < kBlockSize; ++i) {
            const int16_t v = pattern ? pattern(i) : 0;
            allowed[static_cast<size_t>(i)].insert(v);
            rig.sim->setReg(kBlock, i, v);
        }
    }

    // Registers of kBlock that hold pattern's values (the rest must hold other's).
    bool blockHolds(int16_t (*pattern)(int), int leading = kBlockSize,
                    int16_t (*other)(int) = nullptr) const {
        for (int i = 0; i < kBlockSize; ++i) {
            const int16_t want = i < leading ? (pattern ? pattern(i) : 0) : other(i);
            if (mirrorCell(kBlock, i) != want)
                return false;
        }
        return true;
    }

    void inspect() {
        for (int i = 0; i < kBlockSize; ++i) {
            const int16_t v = mirrorCell(kBlock, i);
            if (!allowed[static_cast<size_t>(i)].count(v) && violations.size() < 10)
                violations
                    << QStringLiteral("cell %1:%2 holds %3, never sent").arg(kBlock).arg(i).arg(v);
            const int16_t other = mirrorCell(kOtherBlock, i);
            if (other != kSentinel && violations.size() < 10)
                violations << QStringLiteral("cell %1:%2 changed to %3")
                                  .arg(kOtherBlock)
                                  .arg(i)
                                  .arg(other);
        }
        if (!successShown && statusText() == QLatin1String("Setting Successful")) {
            successShown = true;
            // The controller carries the value out before it echoes the request.
            if (rig.sim->writtenRegister(kWriteReg) != kWriteValue)
                successWithoutWrite = true;
        }
    }

    bool waitTransactions(quint64 atLeast, int timeoutMs) {
        return QTest::qWaitFor([&] { return transactions(rig.worker->stats()) >= atLeast; },
                               timeoutMs);
    }

    void stageTheWrite() {
        const uint8_t data[2] = {static_cast<uint8_t>(kWriteValue >> 8),
                                 static_cast<uint8_t>(kWriteValue & 0xFF)};
        stageWriteRequest(kFunctionWrite, kWriteReg, 1, data, 2);
    }

private slots:
    void initTestCase() {
        dir = std::make_unique<QTemporaryDir>();
        QVERIFY(dir->isValid());
        // The port's lock file is named after the last part of the path: unique per process.
        linePath =
            dir->filePath(QStringLiteral("vaduz-line-%1").arg(QCoreApplication::applicationPid()));
        watch.setInterval(2);
        connect(&watch, &QTimer::timeout, this, &TestFaultMatrix::inspect);
    }
    void init() {
        QVERIFY(rig.setUp());
        QVERIFY(pointLineAt(rig.sim->slavePath()));
        LinkRig::usePort(linePath);
        allowed.assign(kBlockSize, {kSentinel});
        violations.clear();
        successShown = false;
        successWithoutWrite = false;
        for (int i = 0; i < kBlockSize; ++i) {
            setMirrorCell(kBlock * kBlockSize + i, kSentinel);
            setMirrorCell(kOtherBlock * kBlockSize + i, kSentinel);
        }
    }
    void cleanup() {
        watch.stop();
        rig.tearDown();
    }
    void cleanupTestCase() {
        LinkRig::stopTick();
        dir.reset();
    }

    void simulatorNoiseReachesTheLine();
    void simulatorHangUpTakesTheLineAway();
    void faultMatrix_data();
    void faultMatrix();
    void lateEchoesConfirmOnlyTheirOwnWrite();
    void halfDuplexLineWithEchoAndGlitches();
};

// The simulator's two line faults, seen from a plain descriptor on the slave: the matrix rows
// that use them would pass vacuously if they did nothing.
void TestFaultMatrix::simulatorNoiseReachesTheLine() {
    const QByteArray path = QFile::encodeName(rig.sim->slavePath());
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    rig.sim->setFaults(faultsWith([](SimFaults &f) { f.noiseEveryMs = 20; }));
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < 16 && t.elapsed() < 3000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[64];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<int>(n));
        }
    }
    ::close(fd);
    QVERIFY2(got.size() >= 16, qPrintable(QString::number(got.size())));
    QCOMPARE(rig.sim->requestCount(), 0); // nobody asked
}

void TestFaultMatrix::simulatorHangUpTakesTheLineAway() {
    const QString first = rig.sim->slavePath();
    const QByteArray path = QFile::encodeName(first);
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(fd >= 0);
    rig.sim->setFaults(faultsWith([](SimFaults &f) { f.hangUp = true; }));
    const QByteArray request = readRequest(1, 2, 100);
    QCOMPARE(::write(fd, request.constData(), static_cast<size_t>(request.size())),
             ssize_t(request.size()));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.sim->isRunning(), 3000);
    QCOMPARE(rig.sim->requestCount(), 1);
    // No answer; the line reports the hang-up.
    pollfd p{fd, POLLIN, 0};
    QVERIFY(::poll(&p, 1, 1000) > 0);
    char buf[16];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    QVERIFY2(n <= 0, qPrintable(QString::number(n)));
    ::close(fd);
    QVERIFY(!rig.sim->faults().hangUp); // fired once

    QVERIFY(rig.sim->start());
    QVERIFY(rig.sim->isRunning());
    QVERIFY(QFile::exists(rig.sim->slavePath()));
}

void TestFaultMatrix::faultMatrix_data() {
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<int>("event");
    QTest::addColumn<int>("reads");
    QTest::addColumn<int>("write");
    QTest::addColumn<QString>("faultStatus");

    const QString refreshing = QStringLiteral("Refreshing Data");
    const QString openFailed = QStringLiteral("Serial open failed");
    const QString noAnswer = QStringLiteral("No answer");

    QTest::newRow("silent controller: nothing lands, no write reported")
        << faultsWith([](SimFaults &f) { f.silent = true; }) << int(kLineStays) << kReadsFail
        << kWriteFails << noAnswer;
    QTest::newRow("answer 60 ms late, inside the time-out: reads and writes go through")
        << faultsWith([](SimFaults &f) { f.delayMs = 60; }) << int(kLineStays) << kBlockSize
        << kWriteEchoed << refreshing;
    QTest::newRow("answer 150 ms late, past one time-out: taken by the second attempt")
        << faultsWith([](SimFaults &f) { f.delayMs = 150; }) << int(kLineStays) << kBlockSize
        << kWriteEchoed << refreshing;
    QTest::newRow("corrupt CRC: nothing lands, no write reported")
        << faultsWith([](SimFaults &f) { f.corruptCrc = true; }) << int(kLineStays) << kReadsFail
        << kWriteFails << noAnswer;
    QTest::newRow("stray byte before every answer: skipped, reads and writes go through")
        << faultsWith([](SimFaults &f) { f.strayByte = true; }) << int(kLineStays) << kBlockSize
        << kWriteEchoed << refreshing;
    QTest::newRow("answer split in five pieces: taken whole") << faultsWith([](SimFaults &f) {
        f.splitPieces = 5;
        f.splitGapMs = 12;
    }) << int(kLineStays) << kBlockSize << kWriteEchoed << refreshing;
    QTest::newRow("neighbour answers from address 7: nothing lands, no write reported")
        << faultsWith([](SimFaults &f) { f.wrongAddr = 7; }) << int(kLineStays) << kReadsFail
        << kWriteFails << noAnswer;
    QTest::newRow("exception answers: nothing lands, no write reported")
        << faultsWith([](SimFaults &f) { f.exception = true; }) << int(kLineStays) << kReadsFail
        << kWriteFails << refreshing;
    QTest::newRow("answers 10 registers short: only the registers carried land")
        << faultsWith([](SimFaults &f) { f.shortBy = 10; }) << int(kLineStays) << 90 << kWriteEchoed
        << refreshing;
    QTest::newRow("answer with more registers than asked: nothing lands, no spill")
        << faultsWith([](SimFaults &f) { f.oversizeTo = 120; }) << int(kLineStays) << kReadsFail
        << kWriteEchoed << refreshing;
    QTest::newRow("oversized answer past the receive buffer: nothing lands")
        << faultsWith([](SimFaults &f) { f.oversizeTo = 127; }) << int(kLineStays) << kReadsFail
        << kWriteEchoed << refreshing;
    QTest::newRow("noise between frames: what lands is what was sent")
        << faultsWith([](SimFaults &f) { f.noiseEveryMs = 25; }) << int(kLineStays) << kReadsMixed
        << kWriteEither << refreshing;
    QTest::newRow("paced 9600 line: reads and writes go through")
        << faultsWith([](SimFaults &f) { f.paceBaud = 9600; }) << int(kLineStays) << kBlockSize
        << kWriteEchoed << refreshing;
    QTest::newRow("half-duplex 9600 with echo and turnaround glitches: reads and writes go through")
        << faultsWith([](SimFaults &f) {
               f.paceBaud = 9600;
               f.halfDuplex = f.echo = f.glitch = true;
           })
        << int(kLineStays) << kBlockSize << kWriteEchoed << refreshing;
    QTest::newRow("USB adapter handing bytes over every 16 ms: taken whole")
        << faultsWith([](SimFaults &f) {
               f.paceBaud = 115200;
               f.burstMs = 16;
           })
        << int(kLineStays) << kBlockSize << kWriteEchoed << refreshing;
    QTest::newRow("glitch byte at every turnaround: skipped")
        << faultsWith([](SimFaults &f) { f.glitch = true; }) << int(kLineStays) << kBlockSize
        << kWriteEchoed << refreshing;
    QTest::newRow("adapter echo, silent controller: the echo is never an answer")
        << faultsWith([](SimFaults &f) {
               f.echo = true;
               f.silent = true;
           })
        << int(kLineStays) << kReadsFail << kWriteFails << noAnswer;
    QTest::newRow("port closed under a write: no write reported, port reopened")
        << SimFaults{} << int(kHangUpUnderRequest) << kReadsFail << kWriteFails << openFailed;
    QTest::newRow("port gone, then back under another name")
        << SimFaults{} << int(kLineRemoved) << kReadsFail << kWriteEither << openFailed;
    QTest::newRow("controller reboot: quiet, then every block zero")
        << faultsWith([](SimFaults &f) { f.silent = true; }) << int(kReboot) << kBlockSize
        << kWriteEchoed << refreshing;
}

void TestFaultMatrix::faultMatrix() {
    QFETCH(SimFaults, faults);
    QFETCH(int, event);
    QFETCH(int, reads);
    QFETCH(int, write);
    QFETCH(QString, faultStatus);

    LogCapture log;
    watch.start();

    // Before: a healthy line, the controller's first values in the mirror.
    setController(patternA);
    rig.connectOn(kModeHome);
    QTRY_VERIFY_WITH_TIMEOUT(blockHolds(patternA), 4000);
    QCOMPARE(statusText(), QStringLiteral("Refreshing Data"));

    // The fault begins.
    const LinkStats atFault = rig.worker->stats();
    if (event == kHangUpUnderRequest) {
        // Right after a read, so that the next request is the write.
        QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk > atFault.readsOk, 3000);
        // The name goes with the device (a pulled adapter's node disappears); the freed pty
        // number may soon belong to someone else's terminal.
        QVERIFY(QFile::remove(linePath));
        SimFaults hangUp;
        hangUp.hangUp = true;
        rig.sim->setFaults(hangUp);
        stageTheWrite();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.sim->isRunning(), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().portLosses >= 1, 3000);
        QCOMPARE(rig.sim->requests().last().frame, writeRequest(1, kWriteReg, {kWriteValue}));
    } else if (event == kLineRemoved) {
        QVERIFY(QFile::remove(linePath));
        rig.sim->stop();
        QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().portLosses >= 1, 4000);
    } else {
        rig.sim->setFaults(faults);
        // Once a whole transaction has ended under the fault, every later one starts under it.
        QVERIFY(waitTransactions(transactions(atFault) + 2, 5000));
    }

    // The controller's values change: whatever lands from now on must be the new ones, and
    // a read that fails must leave the old ones.
    const LinkStats during = rig.worker->stats();
    if (event == kReboot) {
        rig.sim->resetRegisters();
        allowed.assign(kBlockSize, {kSentinel, 0});
        for (int i = 0; i < kBlockSize; ++i)
            allowed[static_cast<size_t>(i)].insert(patternA(i));
        rig.sim->setFaults(SimFaults{});
    } else {
        setController(patternB);
    }
    if (event != kHangUpUnderRequest) {
        stageTheWrite();
        if (event != kLineRemoved)
            QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().writesOk +
                                             rig.worker->stats().writesFailed >
                                         during.writesOk + during.writesFailed,
                                     3000);
    }

    // Let the fault hold for a few poll periods.
    if (event == kHangUpUnderRequest || event == kLineRemoved) {
        const int tries = log.count(QStringLiteral("Serial open failed:"));
        QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("Serial open failed:")) >= tries + 2,
                                 5000);
    } else {
        QVERIFY(waitTransactions(transactions(during) + 2, 6000));
    }
    QVERIFY(rig.worker->isRunning());
    const LinkStats afterFault = rig.worker->stats();

    if (reads == kReadsFail) {
        QCOMPARE(afterFault.readsOk, during.readsOk);
        QVERIFY(blockHolds(patternA));
    } else if (reads > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(blockHolds(event == kReboot ? nullptr : patternB, reads, patternA),
                                 3000);
    }

    if (write == kWriteEchoed) {
        QTRY_VERIFY_WITH_TIMEOUT(successShown, 2000);
        QCOMPARE(rig.worker->stats().writesOk, during.writesOk + 1);
        QCOMPARE(rig.sim->writtenRegister(kWriteReg), kWriteValue);
    } else if (write == kWriteFails) {
        QCOMPARE(rig.worker->stats().writesFailed, atFault.writesFailed + 1);
        QCOMPARE(rig.worker->stats().writesOk, atFault.writesOk);
        QVERIFY2(!successShown, "\"Setting Successful\" shown for a write nobody echoed");
    } else {
        // Either way, the text follows what happened.
        QCOMPARE(successShown, rig.worker->stats().writesOk > atFault.writesOk);
    }
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), faultStatus, 3000);

    // The fault ends; the controller has its third set of values.
    if (event == kHangUpUnderRequest || event == kLineRemoved) {
        QVERIFY(rig.sim->start());
        rig.sim->setFrozen(true);
        QVERIFY(pointLineAt(rig.sim->slavePath()));
    }
    rig.sim->setFaults(SimFaults{});
    setController(patternC);
    QElapsedTimer recovery;
    recovery.start();
    const quint64 okBefore = rig.worker->stats().readsOk;
    // A few poll periods, plus the open retry when the port has to come back.
    const int bound = 6 * kPollPeriod + (event == kHangUpUnderRequest || event == kLineRemoved
                                             ? int(Battert_Stack_Thread::kOpenRetryTicks)
                                             : 0);
    QTRY_VERIFY_WITH_TIMEOUT(blockHolds(patternC), bound);
    const qint64 resumedMs = recovery.elapsed();
    QVERIFY(rig.worker->stats().readsOk > okBefore);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Refreshing Data"), 3000);
    QVERIFY(rig.worker->isRunning());

    // Nothing unsent was ever shown, and no success without the controller's echo.
    inspect();
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join(QLatin1String("; "))));
    QVERIFY(!successWithoutWrite);

    const LinkStats end = rig.worker->stats();
    std::printf("  %-72s during fault: %3llu ok %3llu failed reads; resumed in %4lld ms\n",
                QTest::currentDataTag(), afterFault.readsOk - during.readsOk,
                afterFault.readsFailed - during.readsFailed, resumedMs);
    std::printf("  %-72s totals: %llu requests, %llu reads ok, %llu failed, %llu writes ok, "
                "%llu failed, %llu port losses\n",
                "", end.requestsSent, end.readsOk, end.readsFailed, end.writesOk, end.writesFailed,
                end.portLosses);
    std::fflush(stdout);
}

// A controller 150 ms late answers every attempt, so the echo of one list entry's second
// attempt arrives while the next entry waits. The last entry is refused (no 13th month): the
// echo of the entry before it must not pass for its confirmation.
void TestFaultMatrix::lateEchoesConfirmOnlyTheirOwnWrite() {
    watch.start();
    setController(patternA);
    rig.connectOn(kModeHome);
    QTRY_VERIFY_WITH_TIMEOUT(blockHolds(patternA), 4000);
    rig.sim->setFaults(faultsWith([](SimFaults &f) { f.delayMs = 150; }));

    const WriteListEntry list[3] = {entry(5, {100}), entry(6, {20}),
                                    entry(74, {26, 13, 7, 23, 59, 1})};
    const LinkStats before = rig.worker->stats();
    queueWriteList(list, 3, 2);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().writesOk + rig.worker->stats().writesFailed ==
                                 before.writesOk + before.writesFailed + 3,
                             5000);
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp.load()), 0, 1000);

    const LinkStats after = rig.worker->stats();
    QCOMPARE(after.writesOk - before.writesOk, quint64(2));
    QCOMPARE(after.writesFailed - before.writesFailed, quint64(1));
    QCOMPARE(rig.sim->writtenRegister(5), uint16_t(100));
    QCOMPARE(rig.sim->writtenRegister(6), uint16_t(20));
    QCOMPARE(rig.sim->writtenRegister(75), uint16_t(0)); // the refused date left nothing
    QCOMPARE(statusText(), QStringLiteral("Setting failed: 1 of 3 writes"));
    QVERIFY(rig.worker->isRunning());
}

// The Pack page reads blocks 7 to 21, 92 registers each, every 200 ms. A controller 150 ms late
// answers the second attempt of one read while the next read, of another block of the same
// size, waits: that answer must not land in the other block.
// The installation the program exists for: RS-485 at 9600 baud, an adapter that echoes the
// host's bytes and a glitch byte at every turnaround. The Home page's reads land every period
// with one request each, the fault walk reads all 63 records, a write goes out once and is
// confirmed once, and nothing but the controller's values ever lands.
void TestFaultMatrix::halfDuplexLineWithEchoAndGlitches() {
    SimFaults line;
    line.paceBaud = 9600;
    line.halfDuplex = line.echo = line.glitch = true;
    rig.sim->setFaults(line);
    watch.start();
    setController(patternA);
    rig.connectOn(kModeHome);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 4, 4000);
    QVERIFY(blockHolds(patternA));

    // The fault walk over records 0 to 63, blocks 22 to 85, each with values of its own.
    auto record = [](int block, int reg) { return static_cast<int16_t>((block << 7) | reg); };
    for (int b = kFaultRecordFirstBlock; b <= kFaultRecordLastBlock; ++b)
        for (int i = 0; i < kFaultRecordRegs; ++i)
            rig.sim->setReg(b, i, record(b, i));
    pollMode.store(kModeFault);
    QTRY_VERIFY_WITH_TIMEOUT(readBlocks(requestsOf(*rig.sim, kFunctionRead)).endsWith(QLatin1String(" 6")),
                             3000);
    faultCount.store(63);
    faultIndex.store(0);
    faultWalk.store(1);
    pollPeriod.store(kWalkPeriod);
    QTRY_VERIFY_WITH_TIMEOUT(faultWalk.load() == 0, 63 * (kWalkPeriod + 100) + 5000);
    QCOMPARE(int(faultIndex.load()), 64); // records 0 to 63
    for (int b = kFaultRecordFirstBlock; b <= kFaultRecordLastBlock; ++b)
        for (int i = 0; i < kFaultRecordRegs; ++i)
            QCOMPARE(mirrorCell(b, i), record(b, i));

    rig.sim->clearRequests();
    stageTheWrite();
    QTRY_VERIFY_WITH_TIMEOUT(successShown, 3000);
    QCOMPARE(requestsOf(*rig.sim, kFunctionWrite).size(), 1);
    QCOMPARE(rig.sim->writtenRegister(kWriteReg), kWriteValue);

    const LinkStats s = rig.worker->stats();
    QCOMPARE(s.readsFailed, quint64(0));
    QCOMPARE(s.writesOk, quint64(1));
    QCOMPARE(s.requestsSent, s.readsOk + s.writesOk); // one request per transaction
    inspect();
    QVERIFY2(violations.isEmpty(), qPrintable(violations.join(QLatin1String("; "))));
    QVERIFY(!successWithoutWrite);
    std::printf("  half-duplex 9600, echo, glitches: %llu reads, %llu requests, %llu echo bytes "
                "skipped, %llu other bytes skipped, %.1f ms per read\n",
                s.readsOk, s.requestsSent, s.echoBytes, s.skippedBytes,
                s.readMicrosTotal / 1000.0 / s.readsOk);
}

QTEST_GUILESS_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
