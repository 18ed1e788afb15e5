// A block-2 read (100 registers) over loopback TCP, back to back: the link's network transport
// (TcpLinkPort under the transaction engine, Modbus TCP and RTU over TCP) beside libmodbus's
// TCP master, in
// one run, each on its own connection to the same simulated gateway. Also the round trip the
// link measures at connect. Prints figures only; never fails on time.
//
//   bench_tcp [reads=2000]

#include "mbapframing.h"
#include "tcpport.h"
#include "tcpsimulator.h"
#include "transaction.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <modbus.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Figures {
    double meanUs = 0, medianUs = 0;
    int failed = 0;
};

template <typename Read> Figures timeReads(int reads, Read read) {
    std::vector<double> us;
    us.reserve(static_cast<size_t>(reads));
    Figures f;
    for (int i = 0; i < reads; ++i) {
        QElapsedTimer t;
        t.start();
        if (!read()) {
            ++f.failed;
            continue;
        }
        us.push_back(t.nsecsElapsed() / 1000.0);
    }
    if (us.empty())
        return f;
    double sum = 0;
    for (double v : us)
        sum += v;
    f.meanUs = sum / us.size();
    std::nth_element(us.begin(), us.begin() + us.size() / 2, us.end());
    f.medianUs = us[us.size() / 2];
    return f;
}

Figures linkReads(TcpSimulator::Framing simFraming, int reads, int64_t *connectUs) {
    TcpSimulator gateway;
    gateway.setFrozen(true);
    if (!gateway.start(0, simFraming))
        return Figures{};
    const NetFramingKind framing = simFraming == TcpSimulator::Framing::Mbap
                                       ? NetFramingKind::Mbap
                                       : NetFramingKind::RtuOverTcp;
    TcpLinkPort port(QStringLiteral("127.0.0.1"), gateway.port(), framing);
    QString reason;
    if (!port.open(&reason))
        return Figures{};
    *connectUs = port.connectMicros();
    std::unique_ptr<Framing> framer;
    if (framing == NetFramingKind::Mbap)
        framer = std::make_unique<MbapFraming>();
    else
        framer = std::make_unique<RtuFraming>();
    TransactionEngine engine(port, *framer, [] { return false; });
    const Request read = Request::read(1, 2, 100);
    const TransactionTiming timing =
        networkTiming(framing, 100, port.connectMicros(), lineFrom(115200, 8, 0, 1.0f),
                      framer->maxAnswerBytes(read));
    return timeReads(reads, [&] {
        const Outcome o = engine.run(read, timing);
        return o.kind == Outcome::Answered &&
               framer->decode(o.answer.bytes, o.answer.length).registersCarried() == 100;
    });
}

Figures libmodbusReads(int reads) {
    TcpSimulator gateway;
    gateway.setFrozen(true);
    if (!gateway.start(0, TcpSimulator::Framing::Mbap))
        return Figures{};
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", gateway.port());
    Figures f;
    if (ctx && modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0) {
        modbus_set_response_timeout(ctx, 1, 0);
        uint16_t regs[100];
        f = timeReads(reads, [&] { return modbus_read_input_registers(ctx, 2, 100, regs) == 100; });
        modbus_close(ctx);
    } else {
        f.failed = reads;
    }
    if (ctx)
        modbus_free(ctx);
    return f;
}

void print(const char *what, const Figures &f, int reads) {
    std::printf("  %-28s: %7.0f us mean, %7.0f us median over %d reads (%d failed)\n", what,
                f.meanUs, f.medianUs, reads - f.failed, f.failed);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
    int64_t connectMbap = 0, connectRtu = 0;
    // Interleaved halves, so that a change in the machine's load falls on both alike.
    const Figures mbap1 = linkReads(TcpSimulator::Framing::Mbap, reads / 2, &connectMbap);
    const Figures lib1 = libmodbusReads(reads / 2);
    const Figures rtu = linkReads(TcpSimulator::Framing::Rtu, reads, &connectRtu);
    const Figures mbap2 = linkReads(TcpSimulator::Framing::Mbap, reads / 2, &connectMbap);
    const Figures lib2 = libmodbusReads(reads / 2);
    const auto both = [](const Figures &a, const Figures &b) {
        Figures f;
        f.meanUs = (a.meanUs + b.meanUs) / 2;
        f.medianUs = (a.medianUs + b.medianUs) / 2;
        f.failed = a.failed + b.failed;
        return f;
    };
    const Figures mbap = both(mbap1, mbap2);
    const Figures lib = both(lib1, lib2);
    std::printf("Block-2 read (100 registers) over loopback TCP, back to back, same simulated "
                "gateway:\n");
    print("link, Modbus TCP", mbap, reads);
    print("libmodbus TCP master", lib, reads);
    print("link, RTU over TCP", rtu, reads);
    if (lib.meanUs > 0)
        std::printf("  ratio link/libmodbus (Modbus TCP): %.2f mean, %.2f median\n",
                    mbap.meanUs / lib.meanUs, mbap.medianUs / lib.medianUs);
    std::printf("  round trip measured at connect: %lld us (Modbus TCP answer time-out: "
                "respTimeout + %lld ms)\n",
                static_cast<long long>(connectMbap),
                static_cast<long long>((connectMbap + 999) / 1000));
    return 0;
}
