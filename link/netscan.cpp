// Finding the controllers behind a serial-to-Ethernet gateway: every unit identifier of the plan
// is asked once for one register of block 2 over the one connection.

#include "devicescan.h"

#include "framecodec.h"
#include "pollplan.h"
#include "receiver.h"
#include "registermirror.h"

namespace {

constexpr int kConnectTimeoutMs = 3000;
// Exceptions a gateway sends for a unit that is not there: path unavailable, target failed
// to respond. They say nothing about a controller.
constexpr uint8_t kGatewayPathUnavailable = 0x0A;
constexpr uint8_t kGatewayTargetFailed = 0x0B;

} // namespace

int64_t networkScanSlotMicros(const ScanPlan &plan) {
    return netTiming(plan.framing, plan.respTimeoutMs, 0, charMicros(9600, 8, false, 1.0f),
                     kScanAnswerBytes)
               .answerTimeoutMs *
           int64_t(1000);
}

int runNetworkScan(const ScanPlan &plan, const std::function<void(ScanEvent)> &report,
                   const std::atomic<bool> &stop, QString *detail) {
    TcpPort port;
    if (!port.open(plan.host, plan.tcpPort, kConnectTimeoutMs)) {
        *detail = port.problem();
        return DeviceScan::PortFailed;
    }
    qCDebug(lcScan) << "Scanning" << plan.host << plan.tcpPort;
    MbapFraming mbap;
    // The line behind an RTU-over-TCP gateway is not known here: 9600 baud, the slowest rate
    // offered, bounds its wire times.
    const NetTiming timing = netTiming(plan.framing, plan.respTimeoutMs, port.connectMicros(),
                                       charMicros(9600, 8, false, 1.0f), kScanAnswerBytes);
    const int total = plan.addressCount();
    int found = 0;
    uint8_t request[kFrameBufSize];
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

        const int n =
            buildReadFrameTo(request, static_cast<uint8_t>(address), kFunctionRead, kScanBlock, 1);
        QByteArray answer;
        NetOutcome outcome = netTransaction(port, plan.framing, mbap, request, n, timing, &answer);
        if (outcome == NetOutcome::Lost) {
            // Once more on a new connection; a gateway that keeps closing it ends the scan.
            if (!port.open(plan.host, plan.tcpPort, kConnectTimeoutMs)) {
                *detail = port.problem();
                return DeviceScan::PortFailed;
            }
            outcome = netTransaction(port, plan.framing, mbap, request, n, timing, &answer);
            if (outcome == NetOutcome::Lost) {
                *detail = port.problem();
                return DeviceScan::PortFailed;
            }
        }
        if (outcome != NetOutcome::Answered || answer.size() < 5)
            continue;
        const auto *a = reinterpret_cast<const uint8_t *>(answer.constData());
        ScanHit hit;
        hit.address = address;
        if (a[0] == address && a[1] == (kFunctionRead | 0x80)) {
            if (a[2] == kGatewayPathUnavailable || a[2] == kGatewayTargetFailed)
                continue;
            hit.exceptionCode = a[2];
        } else if (checkResponseFor(a, static_cast<uint16_t>(answer.size()),
                                    static_cast<uint8_t>(address), kFunctionRead) != 0) {
            continue;
        }
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
