// Figures of the simulated controller (prints only; never fails on time):
//  1. respond() for a 100-register read of block 2 and for a one-register write;
//  2. the framer on a stream of back-to-back requests cut into small pieces;
//  3. one live-model step;
//  4. a raw block-2 round trip through the pseudo-terminal (median and 99th percentile);
//  5. the CPU time an idle running simulator costs, per minute.
//
//   bench_sim [round-trips=2000] [idle-seconds=10]

#include "ptysimulator.h"
#include "simcontroller.h"
#include "simframer.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QByteArray kReadBlock2 = QByteArray::fromHex("0104000200645021");
const QByteArray kWriteReg5 = QByteArray::fromHex("011000050001020064A7EE");

double nsPer(qint64 ns, long n) {
    return static_cast<double>(ns) / static_cast<double>(n);
}

double processCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

} // namespace

int main(int argc, char **argv) {
    const int roundTrips = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    const int idleSeconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    SimController c;
    QElapsedTimer t;
    volatile long sink = 0;

    const long reads = 200000;
    t.start();
    for (long i = 0; i < reads; ++i)
        sink += c.respond(kReadBlock2).size();
    std::printf("respond, read of block 2 (100 registers): %.0f ns\n",
                nsPer(t.nsecsElapsed(), reads));

    const long writes = 200000;
    t.restart();
    for (long i = 0; i < writes; ++i)
        sink += c.respond(kWriteReg5).size();
    std::printf("respond, one-register write:              %.0f ns\n",
                nsPer(t.nsecsElapsed(), writes));

    QByteArray stream;
    for (int i = 0; i < 20000; ++i)
        stream += (i % 2) ? kWriteReg5 : kReadBlock2;
    SimFramer framer;
    const auto now = SimFramer::Clock::now();
    long frames = 0;
    t.restart();
    for (int pos = 0; pos < stream.size(); pos += 5) {
        const int n = int(std::min<qsizetype>(5, stream.size() - pos));
        frames +=
            framer.feed(reinterpret_cast<const uint8_t *>(stream.constData()) + pos, n, now).size();
    }
    std::printf("framer, %ld frames in 5-byte pieces:   %.0f ns per frame\n", frames,
                nsPer(t.nsecsElapsed(), frames));

    const long steps = 20000;
    t.restart();
    for (long i = 0; i < steps; ++i)
        c.advance(100);
    std::printf("live model step:                          %.1f us\n",
                nsPer(t.nsecsElapsed(), steps) / 1000.0);

    PtySimulator sim;
    if (!sim.start()) {
        std::printf("no pseudo-terminal available\n");
        return 0;
    }
    const int fd = ::open(sim.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    std::vector<double> us;
    us.reserve(static_cast<size_t>(roundTrips));
    char buf[512];
    for (int i = 0; i < roundTrips; ++i) {
        t.restart();
        if (::write(fd, kReadBlock2.constData(), 8) != 8)
            break;
        int got = 0;
        while (got < 205) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 1000) <= 0)
                break;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            got += static_cast<int>(n);
        }
        if (got < 205)
            break;
        us.push_back(t.nsecsElapsed() / 1000.0);
    }
    std::sort(us.begin(), us.end());
    if (!us.empty())
        std::printf("pty round trip, block 2, %zu reads:      median %.0f us, p99 %.0f us\n",
                    us.size(), us[us.size() / 2], us[us.size() * 99 / 100]);

    const double cpu0 = processCpuMs();
    ::usleep(static_cast<useconds_t>(idleSeconds) * 1000000u);
    const double cpu1 = processCpuMs();
    std::printf("idle simulator CPU:                       %.1f ms per minute\n",
                (cpu1 - cpu0) * 60.0 / idleSeconds);
    ::close(fd);
    sim.stop();
    return 0;
}
