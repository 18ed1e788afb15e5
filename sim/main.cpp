// vaduz-sim: the simulated battery management controller on a new pseudo-terminal, on an
// existing serial device or behind a simulated gateway on a loopback TCP port, until SIGINT or
// SIGTERM.

#include "ptysimulator.h"
#include "tcpsimulator.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pthread.h>

namespace {

const char kUsage[] =
    "Usage: vaduz-sim (--pty | --device PATH | --tcp PORT [--mbap]) [options]\n"
    "\n"
    "Plays the battery management controller's side of the serial protocol.\n"
    "\n"
    "  --pty             create a pseudo-terminal and print its path on stdout\n"
    "  --device PATH     answer on an existing serial device or pty slave\n"
    "  --tcp PORT        a gateway on 127.0.0.1:PORT (0: any free port; the port is printed),\n"
    "                    passing RTU frames through (RTU over TCP)\n"
    "  --mbap            ... speaking Modbus TCP instead (unit identifier = address)\n"
    "  --baud N          the controller's baud rate. With --device: the device's speed\n"
    "                    (default 9600). With --pty: a program whose port is set to another\n"
    "                    rate is not understood (default: any rate is)\n"
    "  --address N       answer to this address only (1-247, default 1)\n"
    "  --all             answer to every address 1..device count\n"
    "  --distinct        with --all: each address a controller of its own (SOC, total\n"
    "                    voltage, stack power and alarms apart by address)\n"
    "  --devices N       device count reported in cell 2:17 (1-247, default 1)\n"
    "  --bad-silent      stay silent on unknown functions and out-of-range requests\n"
    "                    (default: exception response)\n"
    "  --frozen          keep the live values still\n"
    "  --verbose         print every request and answer on stderr\n"
    "Misbehaviour:\n"
    "  --delay MS        wait before each answer\n"
    "  --silent          never answer\n"
    "  --drop-every K    drop every K-th answer\n"
    "  --corrupt-crc     corrupt the CRC of every answer\n"
    "  --stray-byte      send one extra byte before each answer\n"
    "  --split N         send each answer in N pieces ...\n"
    "  --split-gap MS    ... with this gap between them\n"
    "  --wrong-addr A    answer from address A\n"
    "  --exception       answer every request with an exception (code 2)\n"
    "  --keep-old-values confirm every write but keep the values as they were\n"
    "  --short-by K      read answers carry K registers fewer than asked\n"
    "  --oversize-to N   read answers carry N registers\n"
    "  --noise-every MS  random bytes on the line about this often, between answers\n"
    "  --drop-connection K  with --tcp: every K-th request of a connection closes it\n"
    "The line (each part on its own; default: instant, full duplex):\n"
    "  --pace BAUD       every byte takes its wire time at this rate, both ways\n"
    "                    (10 bits a character; 1200-4000000)\n"
    "  --half-duplex     one shared pair: bytes sent while an answer is on the wire are\n"
    "                    lost and garble the rest of the answer (needs --pace to matter)\n"
    "  --echo            every byte sent comes back, as from an RS-485 adapter\n"
    "  --glitch          one random byte at each bus turnaround, before each answer\n"
    "  --burst MS        bytes reach the port in bursts this far apart, as through USB\n"
    "  --help            show this text\n";

bool parseInt(const char *text, int lo, int hi, int *out) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi)
        return false;
    *out = static_cast<int>(v);
    return true;
}

int usageError(const char *what) {
    std::fprintf(stderr, "vaduz-sim: %s\n\n%s", what, kUsage);
    return 2;
}

} // namespace

int main(int argc, char **argv) {
    // The signals are taken by sigwait below; block them before any thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv); // for QString's local 8-bit conversions and logging

    bool usePty = false;
    QString device;
    int baud = 0, address = 1, devices = 1; // baud 0: not given
    int tcpPort = -1, dropConnection = 0;   // tcpPort -1: not given
    bool mbap = false;
    bool all = false, distinct = false, badSilent = false, frozen = false, verbose = false;
    SimFaults faults;

    struct IntOption {
        const char *name;
        int lo, hi;
        int *target;
    };
    const IntOption intOptions[] = {
        {"--baud", 50, 4000000, &baud},
        {"--address", 1, 247, &address},
        {"--devices", 1, 247, &devices},
        {"--delay", 0, 600000, &faults.delayMs},
        {"--drop-every", 1, 1000000, &faults.dropEvery},
        {"--split", 1, 255, &faults.splitPieces},
        {"--split-gap", 0, 600000, &faults.splitGapMs},
        {"--wrong-addr", 1, 255, &faults.wrongAddr},
        {"--short-by", 1, 100, &faults.shortBy},
        {"--oversize-to", 1, 127, &faults.oversizeTo},
        {"--noise-every", 1, 600000, &faults.noiseEveryMs},
        {"--pace", 1200, 4000000, &faults.paceBaud},
        {"--burst", 1, 1000, &faults.burstMs},
        {"--tcp", 0, 65535, &tcpPort},
        {"--drop-connection", 1, 1000000, &dropConnection},
    };
    struct FlagOption {
        const char *name;
        bool *target;
    };
    const FlagOption flagOptions[] = {
        {"--pty", &usePty},
        {"--all", &all},
        {"--distinct", &distinct},
        {"--bad-silent", &badSilent},
        {"--frozen", &frozen},
        {"--verbose", &verbose},
        {"--silent", &faults.silent},
        {"--corrupt-crc", &faults.corruptCrc},
        {"--stray-byte", &faults.strayByte},
        {"--exception", &faults.exception},
        {"--keep-old-values", &faults.keepOldValues},
        {"--half-duplex", &faults.halfDuplex},
        {"--echo", &faults.echo},
        {"--glitch", &faults.glitch},
        {"--mbap", &mbap},
    };

    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool known = false;
        for (const FlagOption &f : flagOptions) {
            if (std::strcmp(arg, f.name) == 0) {
                *f.target = true;
                known = true;
            }
        }
        for (const IntOption &o : intOptions) {
            if (std::strcmp(arg, o.name) != 0)
                continue;
            known = true;
            if (i + 1 >= argc || !parseInt(argv[i + 1], o.lo, o.hi, o.target)) {
                const QByteArray msg = QStringLiteral("%1 needs a number from %2 to %3")
                                           .arg(QLatin1String(o.name))
                                           .arg(o.lo)
                                           .arg(o.hi)
                                           .toLocal8Bit();
                return usageError(msg.constData());
            }
            ++i;
        }
        if (!known && std::strcmp(arg, "--device") == 0) {
            if (i + 1 >= argc)
                return usageError("--device needs a path");
            device = QString::fromLocal8Bit(argv[++i]);
            known = true;
        }
        if (!known) {
            const QByteArray msg = QByteArray("unknown option ") + arg;
            return usageError(msg.constData());
        }
    }
    if (int(usePty) + int(!device.isEmpty()) + int(tcpPort >= 0) != 1)
        return usageError("give exactly one of --pty, --device PATH and --tcp PORT");
    if (mbap && tcpPort < 0)
        return usageError("--mbap needs --tcp PORT");

    if (verbose)
        QLoggingCategory::setFilterRules(
            QStringLiteral("vaduz.sim.debug=true\nvaduz.sim.tcp.debug=true"));

    // The same controller on either transport.
    const auto setUp = [&](auto &controller) {
        controller.setAddress(static_cast<uint8_t>(address));
        controller.setDeviceCount(static_cast<uint8_t>(devices));
        controller.setAnswerAll(all);
        controller.setDistinct(distinct);
        controller.setBadRequestReply(!badSilent);
        controller.setFrozen(frozen);
        controller.setFaults(faults);
    };
    if (tcpPort >= 0) {
        TcpSimulator gateway;
        setUp(gateway);
        gateway.setDropConnectionEvery(dropConnection);
        if (!gateway.start(static_cast<uint16_t>(tcpPort),
                           mbap ? TcpSimulator::Framing::Mbap : TcpSimulator::Framing::Rtu)) {
            std::fprintf(stderr, "vaduz-sim: cannot listen on 127.0.0.1:%d: %s\n", tcpPort,
                         gateway.errorString().toLocal8Bit().constData());
            return 1;
        }
        std::printf("127.0.0.1:%d\n", gateway.port());
        std::fflush(stdout);
        int sig = 0;
        sigwait(&stopSignals, &sig);
        gateway.stop();
        return 0;
    }

    PtySimulator sim;
    setUp(sim);
    if (usePty)
        sim.setBaudRate(baud);

    const bool ok = usePty ? sim.start() : sim.startOnDevice(device, baud > 0 ? baud : 9600);
    if (!ok) {
        std::fprintf(stderr, "vaduz-sim: cannot open %s: %s\n",
                     usePty ? "a pseudo-terminal" : device.toLocal8Bit().constData(),
                     std::strerror(errno));
        return 1;
    }
    std::printf("%s\n", sim.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);

    int sig = 0;
    sigwait(&stopSignals, &sig);
    sim.stop();
    if (verbose)
        std::fprintf(stderr, "vaduz-sim: %d requests, %d answers\n", sim.requestCount(),
                     sim.answerCount());
    return 0;
}
