// The bus round on a paced half-duplex line with the adapter's echo, at 9600 and 115200 baud: 16
// controllers, the Home page shown, one bus read after each page read. Prints the round's time
// beside its floor (per pass, the page's period or the wire time of the pass's two reads,
// whichever is longer), the page's read period beside its nominal one, the requests per read
// (1.00: nothing needed a retry) and the process's CPU per minute.
// Prints figures only; never fails on time.
//
//   bench_bus [rounds=1]

#include "battertstackthread.h"
#include "benchwait.h"
#include "busround.h"
#include "linetiming.h"
#include "pollplan.h"
#include "ptysimulator.h"
#include "registermirror.h"
#include "serialline.h"
#include "systick.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <ctime>
#include <cstdio>
#include <memory>

namespace {

constexpr int kControllers = 16;
constexpr int kPagePeriodMs = 500;

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

uint64_t busReads(const BusRound &round) {
    uint64_t n = 0;
    for (const BusController &c : round.controllers())
        n += c.answered + c.noAnswer;
    return n;
}

// Per pass: the page's period, or the wire time of its Home read and the bus read, if longer.
double floorMs(int baud) {
    const int64_t ch = charMicros(baud, 8, false, 1.0f);
    const auto readMs = [ch](int count) {
        return double(wireMicros(ch, 8) + wireMicros(ch, 5 + 2 * count)) / 1000.0;
    };
    double total = 0;
    for (const PlanRead &bus : kBusReads)
        total += kControllers * std::max(double(kPagePeriodMs), readMs(100) + readMs(bus.count));
    return total;
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 1;
    QLoggingCategory::setFilterRules(
        QStringLiteral("vaduz.link*.debug=false\nvaduz.sim*.debug=false"));
    SysTimerThread tickThread;
    tickThread.start();

    std::printf("bus round over %d controllers, Home page shown, one bus read per page read, "
                "%d round(s) each\n",
                kControllers, rounds);
    std::printf("  %-7s %10s %10s %7s %14s %10s %12s\n", "baud", "round ms", "floor ms", "ratio",
                "page period ms", "req/read", "CPU s/min");
    for (const int baud : {9600, 115200}) {
        PtySimulator sim;
        if (!sim.start()) {
            std::fprintf(stderr, "cannot start the simulated controller\n");
            return 1;
        }
        sim.setFrozen(true);
        sim.setAnswerAll(true);
        sim.setDeviceCount(kControllers);
        SimFaults line;
        line.paceBaud = baud;
        line.halfDuplex = true;
        line.echo = true;
        sim.setFaults(line);

        useSerialLine(sim.slavePath(), baud);
        resetLinkState();
        resetPollPlan();
        deviceAddr.store(1);
        pollMode.store(kModeHome);
        auto round = std::make_unique<BusRound>(std::make_unique<PageFollower>());
        BusRound *bus = round.get();
        QVector<int> addresses;
        for (int a = 1; a <= kControllers; ++a)
            addresses << a;
        bus->setAddresses(addresses);
        Battert_Stack_Thread worker;
        worker.setPollSource(std::move(round));
        worker.startLink(linkSetupFromSettings);
        // From the first bus read to the one a whole number of rounds later.
        if (!waitFor([&] { return busReads(*bus) >= 1; }, 20000)) {
            std::fprintf(stderr, "no bus read at %d baud\n", baud);
            return 1;
        }
        const uint64_t bus0 = busReads(*bus);
        const LinkStats a = worker.stats();
        const double cpu0 = processCpuSeconds();
        QElapsedTimer t;
        t.start();
        const uint64_t perRound = uint64_t(kControllers) * kBusReadsPerController;
        waitFor([&] { return busReads(*bus) >= bus0 + rounds * perRound; }, rounds * 120000);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        const double cpu = processCpuSeconds() - cpu0;
        const LinkStats b = worker.stats();
        worker.stopLink();
        const uint64_t reads = (b.readsOk + b.readsFailed) - (a.readsOk + a.readsFailed);
        const uint64_t pageReads = reads - (busReads(*bus) - bus0);
        const double roundMs = ms / rounds;
        const double floor = floorMs(baud);
        std::printf("  %-7d %10.0f %10.0f %7.2f %14.1f %10.2f %12.2f\n", baud, roundMs, floor,
                    roundMs / floor, pageReads ? ms / double(pageReads) : 0.0,
                    reads ? double(b.requestsSent - a.requestsSent) / double(reads) : 0.0,
                    cpu / (ms / 60000.0));
        std::fflush(stdout);
    }
    tickThread.stop();
    return 0;
}
