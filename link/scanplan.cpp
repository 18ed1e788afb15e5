#include "devicescan.h"

#include "linesettings.h"
#include "transaction.h"

#include <algorithm>

int ScanPlan::addressCount() const {
    return lastAddress >= firstAddress ? lastAddress - firstAddress + 1 : 0;
}

bool ScanPlan::isValid() const {
    const bool line =
        network() || (!portName.isEmpty() && !baudRates.isEmpty() &&
                      std::all_of(baudRates.begin(), baudRates.end(), [](int b) { return b > 0; }));
    return line && firstAddress >= kScanFirstAddress && lastAddress <= kScanLastAddress &&
           firstAddress <= lastAddress;
}

int64_t scanCharMicros(const ScanPlan &plan, int baud) {
    return lineFrom(baud, plan.dataBits, plan.checkBit, plan.stopBits).charMicros();
}

int64_t scanSlotMicros(const ScanPlan &plan, int baud) {
    const int64_t charUs = scanCharMicros(plan, baud);
    return wireMicros(charUs, kScanRequestBytes) +
           attemptTiming(plan.respTimeoutMs, charUs, kScanAnswerBytes).firstByteUs;
}

int64_t scanPassMicros(const ScanPlan &plan, int baud) {
    // And one more wait after the last address, for a late answer to it.
    return plan.addressCount() * scanSlotMicros(plan, baud) +
           attemptTiming(plan.respTimeoutMs, scanCharMicros(plan, baud), kScanAnswerBytes)
               .firstByteUs;
}

int64_t scanPlanMicros(const ScanPlan &plan) {
    if (plan.network())
        return plan.addressCount() * networkScanSlotMicros(plan);
    int64_t total = 0;
    for (const int baud : plan.baudRates)
        total += scanPassMicros(plan, baud);
    return total;
}
