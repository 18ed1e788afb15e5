// A full device-scan pass, addresses 1 to 247, on a silent bus, paced at the scanned rate: the
// simulated controller is set to a rate the scan does not use, so no address answers and every
// address costs its whole wait. Prints the measured pass beside the estimate the settings
// window shows, and the slot per address. Never fails on time.
//
//   bench_scan [baud ...]        (default: 9600)

#include "devicescan.h"
#include "ptysimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QList<int> bauds;
    for (int i = 1; i < argc; ++i)
        bauds << QByteArray(argv[i]).toInt();
    if (bauds.isEmpty())
        bauds << 9600;

    std::printf("%-8s %-8s %12s %12s %14s %14s\n", "baud", "line", "pass s", "estimate s",
                "ms/address", "est ms/addr");
    for (const int baud : bauds) {
        for (const bool echo : {false, true}) {
            PtySimulator sim;
            if (!sim.start()) {
                std::fprintf(stderr, "bench_scan: no pseudo-terminal\n");
                return 1;
            }
            sim.setBaudRate(baud == 19200 ? 9600 : 19200); // never the rate scanned: silence
            SimFaults f;
            f.paceBaud = baud;
            f.echo = echo;
            f.halfDuplex = echo;
            sim.setFaults(f);

            ScanPlan plan;
            plan.portName = sim.slavePath();
            plan.baudRates = {baud};

            DeviceScan scan;
            QEventLoop loop;
            int outcome = -1;
            int found = 0;
            QObject::connect(&scan, &DeviceScan::deviceFound, &loop, [&found] { ++found; });
            QObject::connect(&scan, &DeviceScan::scanFinished, &loop,
                             [&](DeviceScan::Outcome o, const QString &) {
                                 outcome = o;
                                 loop.quit();
                             });
            QElapsedTimer t;
            t.start();
            if (!scan.startScan(plan)) {
                std::fprintf(stderr, "bench_scan: the scan did not start\n");
                return 1;
            }
            loop.exec();
            const double seconds = t.nsecsElapsed() / 1e9;
            if (outcome != DeviceScan::Completed || found != 0)
                std::fprintf(stderr, "bench_scan: outcome %d, %d found\n", outcome, found);
            const double estimate = scanPassMicros(plan, baud) / 1e6;
            std::printf("%-8d %-8s %12.2f %12.2f %14.2f %14.2f\n", baud, echo ? "RS-485" : "plain",
                        seconds, estimate, 1000.0 * seconds / plan.addressCount(),
                        scanSlotMicros(plan, baud) / 1000.0);
            std::fflush(stdout);
        }
    }
    ScanPlan all;
    all.portName = QStringLiteral("-");
    all.baudRates = {9600, 115200, 19200, 38400, 57600};
    std::printf("estimate, every offered rate: %.1f s\n", scanPlanMicros(all) / 1e6);
    return 0;
}
