#include "linetiming.h"

#include <algorithm>

int64_t charMicros(int baud, int dataBits, bool parity, float stopBits) {
    if (baud <= 0)
        return 0;
    // In half bits, so that one and a half stop bits count exactly.
    const int halfBits = 2 * (1 + std::clamp(dataBits, 5, 8) + (parity ? 1 : 0)) +
                         static_cast<int>(stopBits * 2.0f + 0.5f);
    return (static_cast<int64_t>(halfBits) * 1000000 / 2 + baud - 1) / baud;
}

RxTiming attemptTiming(int respTimeoutMs, int64_t charUs, int maxAnswerBytes) {
    constexpr int64_t kMinGapUs = 20000; // USB adapters hand bytes over every 1 to 16 ms
    constexpr int kGapChars = 4;         // a pause of a few characters ends a frame
    constexpr int64_t kMarginUs = 50000; // scheduling, a controller's pause mid-answer
    RxTiming t;
    t.firstByteUs = static_cast<int64_t>(std::max(1, respTimeoutMs)) * 1000;
    t.gapUs = std::max(kMinGapUs, kGapChars * charUs);
    // A glitch byte in front of the answer counts as part of it.
    t.totalUs = t.firstByteUs + wireMicros(charUs, maxAnswerBytes + 1) + kMarginUs;
    return t;
}
