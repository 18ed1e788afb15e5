// Each page's read cycle on a paced half-duplex line with the adapter's echo, at 9600 and
// 115200 baud, beside its floor: per read, the request's and the answer's wire times or the
// plan's period, whichever is longer (the Pack page adds its silent pass). Also the requests
// sent per read: 1.00 means no read needed a retry.
// Prints figures only; never fails on time.
//
//   bench_line [cycles=3]

#include "battertstackthread.h"
#include "benchwait.h"
#include "pollplan.h"
#include "ptysimulator.h"
#include "receivescan.h"
#include "linetiming.h"
#include "registermirror.h"
#include "serialline.h"
#include "systick.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace {

struct Page {
    const char *name;
    int mode;
    std::vector<int> counts; // registers of each read of one cycle
    int period;
    int silentPasses; // passes of the cycle without a read
};

double floorMs(const Page &p, int baud) {
    const int64_t ch = charMicros(baud, 8, false, 1.0f);
    double total = 0;
    for (int count : p.counts) {
        const double wire = double(wireMicros(ch, 8) + wireMicros(ch, 5 + 2 * count)) / 1000.0;
        total += std::max<double>(p.period, wire);
    }
    return total + p.silentPasses * p.period;
}

struct Figures {
    double cycleMs = 0;
    double requestsPerRead = 0;
    quint64 failed = 0;
};

Figures measure(PtySimulator &sim, int baud, const Page &page, int cycles) {
    useSerialLine(sim.slavePath(), baud);
    resetLinkState();
    resetPollPlan();
    deviceAddr.store(1);
    auto worker = std::make_unique<Battert_Stack_Thread>();
    pollMode.store(page.mode);
    worker->startLink(linkSetupFromSettings);
    Figures f;
    if (!waitFor([&] { return worker->stats().readsOk >= 1; }, 10000, 500))
        return f;
    // From one read to the read a whole number of cycles later.
    const LinkStats a = worker->stats();
    QElapsedTimer t;
    t.start();
    const quint64 reads = quint64(cycles) * page.counts.size();
    waitFor([&] { return worker->stats().readsOk >= a.readsOk + reads; }, 120000, 500);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const LinkStats b = worker->stats();
    worker->stopLink();
    const quint64 done = (b.readsOk + b.readsFailed) - (a.readsOk + a.readsFailed);
    f.cycleMs = ms / cycles;
    f.requestsPerRead = done ? double(b.requestsSent - a.requestsSent) / double(done) : 0;
    f.failed = b.readsFailed - a.readsFailed;
    return f;
}

Figures measureWalk(PtySimulator &sim, int baud) {
    useSerialLine(sim.slavePath(), baud);
    resetLinkState();
    resetPollPlan();
    deviceAddr.store(1);
    auto worker = std::make_unique<Battert_Stack_Thread>();
    pollMode.store(kModeFault);
    worker->startLink(linkSetupFromSettings);
    Figures f;
    if (!waitFor([&] { return worker->stats().readsOk >= 1; }, 10000, 500))
        return f;
    const LinkStats a = worker->stats();
    faultCount.store(63);
    faultIndex.store(0);
    faultWalk.store(1);
    pollPeriod.store(kWalkPeriod);
    QElapsedTimer t;
    t.start();
    waitFor([&] { return faultWalk.load() == 0; }, 120000, 500);
    f.cycleMs = double(t.nsecsElapsed()) / 1e6;
    const LinkStats b = worker->stats();
    worker->stopLink();
    const quint64 done = (b.readsOk + b.readsFailed) - (a.readsOk + a.readsFailed);
    f.requestsPerRead = done ? double(b.requestsSent - a.requestsSent) / double(done) : 0;
    f.failed = b.readsFailed - a.readsFailed;
    return f;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    QLoggingCategory::setFilterRules(
        QStringLiteral("vaduz.link*.debug=false\nvaduz.sim*.debug=false"));

    SysTimerThread tickThread;
    tickThread.start();

    std::vector<int> settings;
    for (const PlanRead &r : kSettingsCycle)
        settings.push_back(r.count);
    const std::vector<Page> pages = {
        {"Home (1 read)", kModeHome, {100}, 500, 0},
        {"Settings (8 reads)", kModeSettings, settings, 500, 0},
        {"Pack (15 reads)", kModePack, std::vector<int>(15, 92), 200, 1},
    };
    const Page walk{"fault walk (64 records)", kModeFault, std::vector<int>(64, kFaultRecordRegs),
                    kWalkPeriod, 0};

    std::printf("read cycles on a paced half-duplex line with adapter echo, %d cycles each\n",
                cycles);
    std::printf("  %-7s %-24s %10s %10s %7s %10s %7s\n", "baud", "page", "cycle ms", "floor ms",
                "ratio", "req/read", "failed");
    for (const int baud : {9600, 115200}) {
        PtySimulator sim;
        if (!sim.start()) {
            std::fprintf(stderr, "cannot start the simulated controller\n");
            return 1;
        }
        sim.setFrozen(true);
        SimFaults line;
        line.paceBaud = baud;
        line.halfDuplex = true;
        line.echo = true;
        sim.setFaults(line);
        auto print = [&](const Page &p, const Figures &f) {
            const double floor = floorMs(p, baud);
            std::printf("  %-7d %-24s %10.0f %10.0f %7.2f %10.2f %7llu\n", baud, p.name, f.cycleMs,
                        floor, floor > 0 ? f.cycleMs / floor : 0.0, f.requestsPerRead,
                        static_cast<unsigned long long>(f.failed));
            std::fflush(stdout);
        };
        for (const Page &p : pages)
            print(p, measure(sim, baud, p, cycles));
        print(walk, measureWalk(sim, baud));
    }
    tickThread.stop();
    return 0;
}
