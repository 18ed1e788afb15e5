// Finding the controllers behind a serial-to-Ethernet gateway: every unit identifier of the plan
// is asked once for one register of block 2 over the one connection, through the transaction
// engine.

#include "devicescan.h"

#include "mbapframing.h"
#include "registermirror.h"
#include "transaction.h"

namespace {

// Exceptions a gateway sends for a unit that is not there: path unavailable, target failed
// to respond. They say nothing about a controller.
constexpr uint8_t kGatewayPathUnavailable = 0x0A;
constexpr uint8_t kGatewayTargetFailed = 0x0B;

// The line behind an RTU-over-TCP gateway is not known here: 9600 baud 8N1, the slowest rate
// offered, bounds its wire times.
TransactionTiming scanTiming(const ScanPlan &plan, int64_t roundTripUs) {
    const Request probe = Request::read(1, kScanBlock, 1);
    const int maxAnswer = plan.framing == NetFramingKind::Mbap ? MbapFraming().maxAnswerBytes(probe)
                                                               : RtuFraming().maxAnswerBytes(probe);
    TransactionTiming t = networkTiming(plan.framing, plan.respTimeoutMs, roundTripUs,
                                        lineFrom(9600, 8, 0, 1.0f), maxAnswer);
    t.attempts = 1;
    return t;
}

} // namespace

int64_t networkScanSlotMicros(const ScanPlan &plan) {
    return scanTiming(plan, 0).wait.firstByteUs;
}

int runNetworkScan(const ScanPlan &plan, const std::function<void(ScanEvent)> &report,
                   const std::atomic<bool> &stop, QString *detail) {
    TcpLinkPort port(plan.host, plan.tcpPort, plan.framing);
    if (!port.open(detail))
        return DeviceScan::PortFailed;
    qCDebug(lcScan) << "Scanning" << port.description();
    std::unique_ptr<Framing> framing;
    if (plan.framing == NetFramingKind::Mbap)
        framing = std::make_unique<MbapFraming>();
    else
        framing = std::make_unique<RtuFraming>();
    const auto ending = [&stop] {
        return stop.load(std::memory_order_acquire) ||
               linkRunning.load(std::memory_order_acquire) != 0;
    };
    TransactionEngine engine(port, *framing, ending);
    const TransactionTiming timing = scanTiming(plan, port.connectMicros());
    const int total = plan.addressCount();
    int found = 0;
    for (int address = plan.firstAddress; address <= plan.lastAddress; ++address) {
        if (stop.load(std::memory_order_acquire))
            return DeviceScan::Stopped;
        if (linkRunning.load(std::memory_order_acquire) != 0)
            return DeviceScan::LinkConnected;
        ScanEvent progress;
        progress.address = address;
        progress.done = address - plan.firstAddress;
        progress.total = total;
        progress.found = found;
        report(std::move(progress));

        const Request request = Request::read(static_cast<uint8_t>(address), kScanBlock, 1);
        Outcome o = engine.run(request, timing);
        if (o.kind == Outcome::PortLost) {
            // Once more on a new connection; a gateway that keeps closing it ends the scan.
            port.close();
            if (!port.open(detail))
                return DeviceScan::PortFailed;
            o = engine.run(request, timing);
            if (o.kind == Outcome::PortLost) {
                *detail = port.errorText();
                return DeviceScan::PortFailed;
            }
        }
        if (o.kind == Outcome::Exception &&
            (o.exceptionCode == kGatewayPathUnavailable || o.exceptionCode == kGatewayTargetFailed))
            continue;
        if (o.kind != Outcome::Answered && o.kind != Outcome::Exception)
            continue;
        ScanHit hit;
        hit.address = address;
        hit.exceptionCode = o.kind == Outcome::Exception ? o.exceptionCode : 0;
        ++found;
        qCDebug(lcScan) << "Unit" << address << "answered"
                        << (hit.exceptionCode ? "with exception" : "") << hit.exceptionCode;
        ScanEvent event;
        event.kind = ScanEvent::Found;
        event.hit = hit;
        report(std::move(event));
    }
    return DeviceScan::Completed;
}
