#include "linkstats.h"

#include <algorithm>

void LinkStats::add(const Outcome &o) {
    requestsSent += static_cast<quint64>(o.attempts);
    const int gotFrame = o.gotFrame() ? 1 : 0;
    answered += static_cast<quint64>(gotFrame);
    noAnswer += static_cast<quint64>(o.timedOut);
    wrongAnswers += static_cast<quint64>(o.wrongAttempts);
    cutShort += static_cast<quint64>(o.attempts - gotFrame - o.wrongAttempts - o.timedOut);
    exceptions += o.kind == Outcome::Exception ? 1 : 0;
    badCrc += static_cast<quint64>(o.badCrcAttempts);
    echoBytes += static_cast<quint64>(o.echoBytes);
    skippedBytes += static_cast<quint64>(o.skippedBytes);
    secondFrames += static_cast<quint64>(o.secondFrames);
    if (gotFrame) {
        const auto rtt = static_cast<quint64>(o.rttUs);
        rttLastMicros = rtt;
        rttTotalMicros += rtt;
        rttMaxMicros = std::max(rttMaxMicros, rtt);
    }
}
