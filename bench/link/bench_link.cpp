// Figures of the link worker against the in-process simulated controller:
//  1. one block-2 read (100 registers), request sent to registers landed: back to back (the
//     link's transaction engine reading again at once) and paced (the link worker at a read
//     every 5 ms, and the engine alone), each beside an independent libmodbus master doing the
//     same from the same simulator, the masters taking turns in rounds; back to back also the
//     reading thread's own CPU time per read, which the wake-up of the other threads leaves out;
//  2. the CPU time of an idle connected link polling the Home page, per minute, split by
//     thread (link worker, tick thread).
// Prints figures only; never fails on time.
//
//   bench_link [reads=200] [idle-seconds=20]

#include "battertstackthread.h"
#include "benchwait.h"
#include "pollplan.h"
#include "ptysimulator.h"
#include "registermirror.h"
#include "serialline.h"
#include "serialport.h"
#include "serialsettings.h"
#include "systick.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <modbus.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace {

// CPU seconds (user + system) of this process's threads whose name starts with prefix.
double threadCpuSeconds(const QByteArray &prefix) {
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    double total = 0;
    const QStringList tasks =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &tid : tasks) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(tid));
        QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(tid));
        if (!comm.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
            continue;
        if (!comm.readAll().trimmed().startsWith(prefix))
            continue;
        const QByteArray line = stat.readAll();
        // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 12)
            total += (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticksPerSecond;
    }
    return total;
}

// CPU time of the calling thread, user and kernel, in microseconds: what a master spends on a
// read itself, apart from waiting for the other threads to wake.
double threadCpuMicros() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void useSimulator(const PtySimulator &sim) {
    useSerialLine(sim.slavePath());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? std::max(10, atoi(argv[1])) : 200;
    const int idleSeconds = argc > 2 ? std::max(2, atoi(argv[2])) : 20;
    QLoggingCategory::setFilterRules(
        QStringLiteral("vaduz.link*.debug=false\nvaduz.sim*.debug=false"));

    SysTimerThread tickThread;
    tickThread.start();
    resetLinkState();
    resetPollPlan();
    deviceAddr.store(1);

    PtySimulator sim;
    if (!sim.start()) {
        std::fprintf(stderr, "cannot start the simulated controller\n");
        return 1;
    }
    useSimulator(sim);

    // The three masters take turns, a round of reads each, so that a busy or quiet spell of
    // the machine falls on all of them alike.
    constexpr int kRounds = 5;
    const int perRound = std::max(2, reads / kRounds);
    std::vector<double> engineTimes, enginePaced, mbTimes, mbPaced;
    double engineCpuUs = 0, mbCpuUs = 0; // back to back, this thread's CPU time over all reads
    double linkMicros = 0;
    quint64 linkReads = 0, linkFailed = 0;
    const SerialSettings settings = serialSettings();
    const QByteArray path = sim.slavePath().toLocal8Bit();
    for (int round = 0; round < kRounds; ++round) {
        // --- 1a. The link worker at a read every 5 ms, registers landed in the mirror.
        auto worker = std::make_unique<Battert_Stack_Thread>();
        pollMode.store(kModeData); // a page change, so the worker enters Home afresh
        pollPeriod.store(1000);
        worker->startLink(linkSetupFromSettings);
        pollMode.store(kModeHome);
        if (!waitFor([&] { return worker->stats().readsOk >= 1; }, 5000, 5000)) {
            std::fprintf(stderr, "the link does not read\n");
            return 1;
        }
        pollPeriod.store(5); // after the mode entry: a read every 5 ms instead of every 500 ms
        const LinkStats base = worker->stats();
        waitFor([&] { return worker->stats().readsOk >= base.readsOk + quint64(perRound); }, 60000, 5000);
        const LinkStats done = worker->stats();
        worker->stopLink();
        worker.reset();
        linkReads += done.readsOk - base.readsOk;
        linkFailed += done.readsFailed - base.readsFailed;
        linkMicros += double(done.readMicrosTotal - base.readMicrosTotal);

        // --- 1b. The link's transaction engine on the same port, back to back and paced, each
        // answer landed.
        {
            SerialLinePort port(portNameOf(settings), serialLineOf(settings));
            QString reason;
            if (port.open(&reason)) {
                RtuFraming rtu;
                TransactionEngine engine(port, rtu, {});
                const Request read = Request::read(1, 2, 100);
                const TransactionTiming timing =
                    serialTiming(respTimeout.load(), serialLineOf(settings).charMicros(), 205);
                for (std::vector<double> *times : {&engineTimes, &enginePaced}) {
                    for (int i = 0; i < perRound; ++i) {
                        if (times == &enginePaced)
                            QThread::msleep(5);
                        engine.discardInput();
                        QElapsedTimer t;
                        const double cpu0 = threadCpuMicros();
                        t.start();
                        const Outcome o = engine.run(read, timing);
                        if (times == &engineTimes)
                            engineCpuUs += threadCpuMicros() - cpu0;
                        if (o.kind == Outcome::Answered &&
                            landReadAnswer(mirrorOf(1), 2, 100, rtu.decode(o.answer.bytes, o.answer.length)) ==
                                100)
                            times->push_back(double(t.nsecsElapsed()) / 1000.0);
                    }
                }
                port.close();
            }
        }

        // --- 1c. libmodbus as master, same simulator, same read (function 4, address 2, 100),
        // back to back and paced like the link (a read every 5 ms, both ends asleep in
        // between), which is the like-for-like figure: waking two sleeping threads costs time.
        modbus_t *ctx = modbus_new_rtu(path.constData(), 9600, 'N', 8, 1);
        if (ctx && modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0) {
            modbus_set_response_timeout(ctx, 1, 0);
            uint16_t regs[100];
            for (std::vector<double> *times : {&mbTimes, &mbPaced}) {
                for (int i = 0; i < perRound; ++i) {
                    if (times == &mbPaced)
                        QThread::msleep(5);
                    QElapsedTimer t;
                    const double cpu0 = threadCpuMicros();
                    t.start();
                    const int got = modbus_read_input_registers(ctx, 2, 100, regs);
                    if (times == &mbTimes)
                        mbCpuUs += threadCpuMicros() - cpu0;
                    if (got == 100)
                        times->push_back(double(t.nsecsElapsed()) / 1000.0);
                }
            }
            modbus_close(ctx);
        }
        if (ctx)
            modbus_free(ctx);
    }
    const auto mean = [](const std::vector<double> &v) {
        double sum = 0;
        for (double x : v)
            sum += x;
        return v.empty() ? 0.0 : sum / double(v.size());
    };
    const double linkMeanUs = linkReads ? linkMicros / double(linkReads) : 0;
    const double mbMeanUs = mean(mbTimes);
    const double mbPacedUs = mean(mbPaced);
    const double engineMeanUs = mean(engineTimes);

    std::printf("block-2 read (100 registers, 205-byte answer), pseudo-terminal, in-process "
                "simulated controller; %d rounds, the masters taking turns\n",
                kRounds);
    // Means and medians: a busy spell of the machine (a thread woken late) moves the mean of a
    // few hundred reads of 50 to 150 us by more than the difference between the masters.
    const auto median = [](std::vector<double> v) {
        if (v.empty())
            return 0.0;
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    const auto row = [&](const char *head, const char *who, const std::vector<double> &v) {
        std::printf("%s%s %8.0f us mean, %6.0f us median over %zu reads\n", head, who, mean(v),
                    median(v), v.size());
    };
    row("  back to back: ", "link engine", engineTimes);
    row("                ", "libmodbus  ", mbTimes);
    if (!engineTimes.empty() && !mbTimes.empty())
        std::printf("                CPU of the reading thread per read: link engine %.0f us, "
                    "libmodbus %.0f us\n",
                    engineCpuUs / double(kRounds * perRound), mbCpuUs / double(kRounds * perRound));
    std::printf("  paced 5 ms  : link worker %8.0f us mean over %llu reads (failed %llu)\n",
                linkMeanUs, static_cast<unsigned long long>(linkReads),
                static_cast<unsigned long long>(linkFailed));
    row("                ", "link engine", enginePaced);
    row("                ", "libmodbus  ", mbPaced);
    if (mbMeanUs > 0 && mbPacedUs > 0) {
        std::printf("  ratio link/libmodbus, means: %.2f back to back, %.2f paced (worker), %.2f "
                    "paced (engine)\n",
                    engineMeanUs / mbMeanUs, linkMeanUs / mbPacedUs, mean(enginePaced) / mbPacedUs);
        std::printf("  ratio link engine/libmodbus, medians: %.2f back to back, %.2f paced\n",
                    median(engineTimes) / median(mbTimes), median(enginePaced) / median(mbPaced));
    }

    // --- 2. Idle connected link on the Home page (a read every 500 ms).
    auto worker = std::make_unique<Battert_Stack_Thread>();
    pollMode.store(kModeData); // a page change, so the worker enters Home again below
    worker->startLink(linkSetupFromSettings);
    waitFor([&] { return worker->stats().readsOk >= 1; }, 5000, 5000);
    pollMode.store(kModeHome);
    QThread::msleep(600);

    const double proc0 = processCpuSeconds();
    const double link0 = threadCpuSeconds("Battert_Stack_T");
    const double tick0 = threadCpuSeconds("SysTimerThread");
    const quint64 idleReads0 = worker->stats().readsOk;
    QThread::sleep(static_cast<unsigned long>(idleSeconds));
    const double link1 = threadCpuSeconds("Battert_Stack_T");
    const double tick1 = threadCpuSeconds("SysTimerThread");
    const double proc1 = processCpuSeconds();
    const quint64 idleReads = worker->stats().readsOk - idleReads0;
    worker->stopLink();

    const double scale = 60.0 / idleSeconds;
    std::printf("idle connected link polling Home, measured %d s (%llu reads), per minute:\n",
                idleSeconds, static_cast<unsigned long long>(idleReads));
    std::printf("  link worker thread : %6.2f s CPU/min\n", (link1 - link0) * scale);
    std::printf("  tick thread        : %6.2f s CPU/min\n", (tick1 - tick0) * scale);
    std::printf("  whole process      : %6.2f s CPU/min (includes the simulated controller)\n",
                (proc1 - proc0) * scale);
    std::printf("  (/proc thread times have a resolution of %ld ticks per second)\n",
                sysconf(_SC_CLK_TCK));

    tickThread.stop();
    return 0;
}
