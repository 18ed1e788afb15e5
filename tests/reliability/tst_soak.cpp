// A shift beside a live stack, shortened: the real link worker against the simulated
// controller over a pseudo-terminal for VADUZ_SOAK_SECONDS (60 by default; 600 for the full
// run), with random faults on a few per cent of the transactions, the line pulled and put
// back now and then, page switches, fault-record walks and parameter writes. It prints the
// transaction counts and the resident memory, and holds the program to three things: the
// link keeps running and resumes by itself, memory does not grow after warm-up, and every
// mirror cell only ever holds a value the controller really sent (or its untouched sentinel).

#include "linktestsupport.h"
#include "paramtable.h"
#include "stagewrite.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include <unistd.h>

using namespace linktest;

namespace {

// A sanitizer's shadow memory and allocation history grow with the run: resident memory then
// says nothing about the program's own.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr int16_t kSentinel = -2;
constexpr int kFirstIntParam = 58; // 58..72: plain integers, read back in block 5
constexpr int kLastIntParam = 72;
constexpr qint64 kMaxGrowthBytes = 1024 * 1024;

// The controller's value for every cell: unique across the whole mirror, never negative.
int16_t pattern(int cell) {
    return static_cast<int16_t>(0x4000 + cell);
}

qint64 residentBytes() {
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * ::sysconf(_SC_PAGESIZE) : -1;
}

int soakSeconds() {
    bool ok = false;
    const int s = qEnvironmentVariableIntValue("VADUZ_SOAK_SECONDS", &ok);
    return ok && s >= 10 ? s : 60;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

    LinkRig rig;
    QTemporaryDir dir;
    QString linePath;
    std::mt19937 rng{20261207u};

    // Values the controller took on after a write, beyond its pattern, per cell.
    std::map<int, std::set<int16_t>> written;
    QStringList violations;
    quint64 cellChecks = 0;

    struct PendingWrite {
        bool active = false;
        int param = 0;
        int value = 0;
        quint64 doneBefore = 0;
        quint64 okBefore = 0;
    } pendingWrite;
    int writesStaged = 0;
    int faultWindows = 0;
    int pageSwitches = 0;
    int walks = 0;
    int hangUps = 0;
    qint64 lineDownAt = -1; // ms into the soak when the line died, -1 while it is up
    qint64 nextHangUpAt = 15000;
    QElapsedTimer clock;

    void violation(const QString &what) {
        if (violations.size() < 20)
            violations << what;
    }

    bool pointLineAt(const QString &target) {
        const QString tmp = linePath + QStringLiteral(".new");
        QFile::remove(tmp);
        return QFile::link(target, tmp) && ::rename(QFile::encodeName(tmp).constData(),
                                                    QFile::encodeName(linePath).constData()) == 0;
    }

    // Every cell holds its sentinel, the controller's pattern, or a value the controller took
    // on after a write. A value outside these is checked against the controller once more:
    // it may be a write's result that landed before this check heard of it.
    void checkMirror() {
        for (int cell = 0; cell < kMirrorCells; ++cell) {
            const int16_t v = mirrorCell(cell);
            if (v == kSentinel || v == pattern(cell))
                continue;
            auto it = written.find(cell);
            if (it != written.end() && it->second.count(v))
                continue;
            if (rig.sim->reg(cell / kBlockSize, cell % kBlockSize) == v) {
                written[cell].insert(v);
                continue;
            }
            violation(QStringLiteral("%1 ms: cell %2:%3 holds %4, which the controller never sent")
                          .arg(clock.elapsed())
                          .arg(cell / kBlockSize)
                          .arg(cell % kBlockSize)
                          .arg(v));
        }
        cellChecks += kMirrorCells;
    }

    void checkWrite() {
        if (!pendingWrite.active)
            return;
        const LinkStats s = rig.worker->stats();
        if (s.writesOk + s.writesFailed <= pendingWrite.doneBefore)
            return;
        pendingWrite.active = false;
        if (s.writesOk > pendingWrite.okBefore &&
            rig.sim->writtenRegister(pendingWrite.param) != pendingWrite.value)
            violation(QStringLiteral("write of %1 to parameter %2 reported successful; the "
                                     "controller holds %3")
                          .arg(pendingWrite.value)
                          .arg(pendingWrite.param)
                          .arg(rig.sim->writtenRegister(pendingWrite.param)));
    }

    void maybeWrite() {
        if (pendingWrite.active || linkOp.load() != 0)
            return;
        std::uniform_int_distribution<int> param(kFirstIntParam, kLastIntParam);
        const LinkStats s = rig.worker->stats();
        pendingWrite.param = param(rng);
        // A value the parameter's field accepts (percentages stop at 100).
        std::uniform_int_distribution<int> value(
            0, std::min(999, static_cast<int>(paramInfo(pendingWrite.param)->maxValue)));
        pendingWrite.value = value(rng);
        pendingWrite.doneBefore = s.writesOk + s.writesFailed;
        pendingWrite.okBefore = s.writesOk;
        pendingWrite.active =
            stageParamWrite(pendingWrite.param, QString::number(pendingWrite.value));
        if (!pendingWrite.active)
            violation(QStringLiteral("parameter %1 could not be staged").arg(pendingWrite.param));
        ++writesStaged;
    }

    void switchPage() {
        std::uniform_int_distribution<int> page(kModeHome, kModePack), records(1, 8), coin(0, 1);
        const int mode = page(rng);
        pollMode.store(mode);
        ++pageSwitches;
        if (mode == kModeFault && faultWalk.load() == 0 && coin(rng)) {
            faultCount.store(static_cast<uint8_t>(records(rng)));
            faultIndex.store(0);
            faultWalk.store(1);
            pollPeriod.store(kWalkPeriod);
            ++walks;
        }
    }

    // About one 200 ms window in twelve carries one fault; every 20 to 35 s the line is pulled.
    void nextFaultWindow() {
        if (lineDownAt >= 0) {
            if (!rig.sim->isRunning() && clock.elapsed() - lineDownAt >= 1500) {
                if (!rig.sim->start() || !pointLineAt(rig.sim->slavePath()))
                    violation(QStringLiteral("the line could not be brought back"));
                lineDownAt = -1;
            }
            return;
        }
        std::uniform_int_distribution<int> percent(0, 999), kind(0, 13), pause(20000, 35000);
        SimFaults f;
        const int roll = percent(rng);
        if (clock.elapsed() >= nextHangUpAt) {
            nextHangUpAt = clock.elapsed() + pause(rng);
            // The name goes with the device: the freed pty number may soon be another's.
            QFile::remove(linePath);
            f.hangUp = true;
            lineDownAt = clock.elapsed();
            ++hangUps;
        } else if (roll < 80) {
            ++faultWindows;
            switch (kind(rng)) {
            case 0:
                f.delayMs = 60;
                break;
            case 1:
                f.delayMs = 150;
                break;
            case 2:
                f.silent = true;
                break;
            case 3:
                f.corruptCrc = true;
                break;
            case 4:
                f.strayByte = true;
                break;
            case 5:
                f.splitPieces = 3;
                f.splitGapMs = 10;
                break;
            case 6:
                f.wrongAddr = 7;
                break;
            case 7:
                f.exception = true;
                break;
            case 8:
                f.shortBy = 5;
                break;
            case 9:
                f.oversizeTo = 110;
                break;
            case 10:
                f.oversizeTo = 127;
                break;
            case 11:
                f.noiseEveryMs = 40;
                break;
            case 12: // RS-485 at 9600: echoing adapter, a glitch at every turnaround
                f.paceBaud = 9600;
                f.halfDuplex = f.echo = f.glitch = true;
                break;
            default: // a fast line through a USB adapter that hands bytes over in bursts
                f.paceBaud = 115200;
                f.burstMs = 16;
                f.echo = true;
                break;
            }
        }
        rig.sim->setFaults(f);
    }

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        linePath =
            dir.filePath(QStringLiteral("vaduz-soak-%1").arg(QCoreApplication::applicationPid()));
    }
    void cleanupTestCase() {
        rig.tearDown();
        LinkRig::stopTick();
    }
    void soak();
};

void TestSoak::soak() {
    const int seconds = soakSeconds();
    const qint64 durationMs = seconds * 1000LL;
    const qint64 warmUpMs = std::max<qint64>(10000, durationMs / 6);

    QVERIFY(rig.setUp());
    for (int cell = 0; cell < kMirrorCells; ++cell) {
        rig.sim->setReg(cell / kBlockSize, cell % kBlockSize, pattern(cell));
        setMirrorCell(cell, kSentinel);
    }
    QVERIFY(pointLineAt(rig.sim->slavePath()));
    LinkRig::usePort(linePath);

    clock.start();
    rig.connectOn(kModeHome);
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= 1, 3000);

    QTimer check, faults, pages, writes, housekeeping;
    connect(&check, &QTimer::timeout, this, [this] {
        checkMirror();
        checkWrite();
    });
    connect(&faults, &QTimer::timeout, this, &TestSoak::nextFaultWindow);
    connect(&pages, &QTimer::timeout, this, &TestSoak::switchPage);
    connect(&writes, &QTimer::timeout, this, &TestSoak::maybeWrite);
    // The simulator's own request log is a test aid: kept short so it does not count as
    // growth of the program.
    connect(&housekeeping, &QTimer::timeout, this, [this] { rig.sim->clearRequests(); });
    check.start(25);
    faults.start(200);
    pages.start(3700);
    writes.start(4100);
    housekeeping.start(5000);

    qint64 rssWarm = -1;
    qint64 rssPeak = 0;
    QElapsedTimer sample;
    sample.start();
    QVERIFY(QTest::qWaitFor(
        [&] {
            if (rssWarm < 0 && clock.elapsed() >= warmUpMs)
                rssWarm = residentBytes();
            if (sample.elapsed() >= 1000) {
                rssPeak = std::max(rssPeak, residentBytes());
                sample.restart();
            }
            return clock.elapsed() >= durationMs || !rig.worker->isRunning();
        },
        int(durationMs + 10000)));
    QVERIFY(rig.worker->isRunning());
    faults.stop();
    pages.stop();
    writes.stop();
    housekeeping.stop();
    const qint64 rssEnd = residentBytes();

    // The faults end; the line is back if it was down; the link polls again by itself.
    rig.sim->setFaults(SimFaults{});
    if (!rig.sim->isRunning())
        QVERIFY(rig.sim->start());
    QVERIFY(pointLineAt(rig.sim->slavePath()));
    const quint64 okAtEnd = rig.worker->stats().readsOk;
    QTRY_VERIFY_WITH_TIMEOUT(rig.worker->stats().readsOk >= okAtEnd + 2, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!pendingWrite.active, 5000);
    check.stop();
    checkMirror();

    const LinkStats s = rig.worker->stats();
    int blocksLanded = 0;
    for (int b = 0; b < kMirrorBlocks; ++b)
        blocksLanded +=
            mirrorCell(b, 0) == pattern(b * kBlockSize) || written.count(b * kBlockSize);
    std::printf("soak: %d s (warm-up %lld s)\n", seconds, warmUpMs / 1000);
    std::printf("  requests sent %llu; controller received %d, answered %d\n", s.requestsSent,
                rig.sim->requestCount(), rig.sim->answerCount());
    std::printf("  reads %llu ok, %llu failed; writes %d staged, %llu ok, %llu failed\n", s.readsOk,
                s.readsFailed, writesStaged, s.writesOk, s.writesFailed);
    std::printf("  fault windows %d, lines pulled %d (port losses %llu, opens %llu), page "
                "switches %d, fault walks %d, blocks landed %d\n",
                faultWindows, hangUps, s.portLosses, s.portOpens, pageSwitches, walks,
                blocksLanded);
    std::printf("  mirror checks %llu cells; mean read %.1f ms\n", cellChecks,
                s.readsOk ? s.readMicrosTotal / 1000.0 / s.readsOk : 0.0);
    std::printf("  resident memory: %.1f KiB after warm-up, %.1f KiB peak, %.1f KiB at the end "
                "(growth %+.1f KiB)\n",
                rssWarm / 1024.0, rssPeak / 1024.0, rssEnd / 1024.0, (rssEnd - rssWarm) / 1024.0);
    std::fflush(stdout);

    QVERIFY2(violations.isEmpty(), qPrintable(violations.join(QLatin1String("\n"))));
    QVERIFY(rssWarm > 0 && rssEnd > 0);
    if (kSanitized)
        std::printf("  (sanitized build: the memory bound is not held)\n");
    else
        QVERIFY2(
            rssEnd - rssWarm < kMaxGrowthBytes,
            qPrintable(QStringLiteral("resident memory grew by %1 bytes").arg(rssEnd - rssWarm)));
    // The link did its work: reads at least once a second on average, and faults were met.
    QVERIFY(s.readsOk >= quint64(seconds));
    QVERIFY(s.readsFailed > 0);
    QVERIFY(s.writesOk > 0);
    QVERIFY(blocksLanded >= 10);
}

int main(int argc, char **argv) {
    // QtTest's watchdog ends a test function after five minutes unless told otherwise.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number((soakSeconds() + 120) * 1000LL));
    QCoreApplication app(argc, argv);
    TestSoak test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_soak.moc"
