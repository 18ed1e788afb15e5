#include "linkhealth.h"

#include <algorithm>

namespace {

LinkHealth held(LinkHealth h, LinkHealth::State state, const QByteArray &detail, uint32_t now) {
    h.state = state;
    h.detail = detail;
    h.held = true;
    h.heldSince = now;
    return h;
}

// Records a counted transaction's result among the latest ones.
void noteRecent(LinkHealth &h, bool failed) {
    constexpr uint32_t mask = (1u << LinkHealth::kRecentTransactions) - 1;
    h.recentFailed = ((h.recentFailed << 1) | (failed ? 1u : 0u)) & mask;
    h.recentCount = std::min(h.recentCount + 1, LinkHealth::kRecentTransactions);
}

} // namespace

int LinkHealth::recentAnswered() const {
    int failed = 0;
    for (uint32_t bits = recentFailed; bits != 0; bits &= bits - 1)
        ++failed;
    return recentCount - failed;
}

bool LinkHealth::failing() const {
    return noAnswerStreak >= kNoAnswerTransactions ||
           (recentCount == kRecentTransactions && 2 * recentAnswered() < kRecentTransactions);
}

LinkHealth nextHealth(const LinkHealth &previous, const HealthEvent &e, uint32_t now) {
    LinkHealth h = previous;
    switch (e.kind) {
    case HealthEvent::Opened:
        if (h.state == LinkHealth::OpenFailed)
            h.state = LinkHealth::Idle;
        break;
    case HealthEvent::OpenFailed:
        h.state = LinkHealth::OpenFailed;
        break;
    case HealthEvent::Stopped:
        h.state = LinkHealth::Disconnected;
        h.held = false;
        break;
    case HealthEvent::ReadStarts:
        if (!h.held)
            h.state = h.failing() ? LinkHealth::NoAnswer : LinkHealth::Refreshing;
        break;
    case HealthEvent::Transaction:
        if (e.cause == LinkHealth::Closed)
            h.closedAt[h.closes++ % LinkHealth::kClosesKept] = now;
        if (e.answered) {
            const bool wasFailing = h.failing();
            h.noAnswerStreak = 0;
            h.cause = LinkHealth::Silence;
            noteRecent(h, false);
            if (wasFailing && !h.failing() && !h.held)
                h.state = LinkHealth::Refreshing;
        } else if (e.counted) {
            // A frame from another unit is no answer from this one: it fails the link like
            // silence, and the cause is named. Bad CRC is named only when no failure of the
            // streak had another cause.
            if (h.noAnswerStreak == 0 || e.cause != LinkHealth::BadCrc)
                h.cause = e.cause;
            ++h.noAnswerStreak;
            noteRecent(h, true);
            if (h.failing() && !h.held)
                h.state = LinkHealth::NoAnswer;
        }
        break;
    case HealthEvent::WriteDone:
        // In a list run, successes show until the first failure; the run's end tells how many
        // failed. A write not confirmed is never left looking done.
        if (e.ok && (!e.inList || e.failures == 0))
            h = held(h, LinkHealth::SettingSuccessful, QByteArray(), now);
        else if (!e.ok && !e.inList)
            h = held(h, LinkHealth::SettingFailed, e.detail, now);
        break;
    case HealthEvent::ListDone:
        if (e.failures > 0)
            h = held(h, LinkHealth::ListFailed,
                     QByteArray::number(e.failures) + " of " + QByteArray::number(e.writes), now);
        break;
    case HealthEvent::Tick:
        if (h.held && now - h.heldSince >= LinkHealth::kHoldTicks)
            h.held = false;
        break;
    }
    return h;
}

QByteArray healthHint(const LinkHealth &h, uint32_t now) {
    QByteArray hint;
    if (h.cause == LinkHealth::WrongUnit)
        hint = "Answers come from another unit: another device answers at this address.";
    else if (h.state == LinkHealth::NoAnswer) {
        switch (h.cause) {
        case LinkHealth::Silence:
        case LinkHealth::WrongUnit:
            break;
        case LinkHealth::BadCrc:
            hint = "Every answer has a bad CRC: check baud rate, parity and wiring.";
            break;
        case LinkHealth::WrongAnswer:
            hint = "Answers do not match the requests (another function, register or byte "
                   "count): check the gateway's settings.";
            break;
        case LinkHealth::Closed:
            hint = "The gateway closes the connection.";
            break;
        }
    }
    // Answers between the failures: the streak alone would not tell.
    if (h.state == LinkHealth::NoAnswer &&
        h.noAnswerStreak < LinkHealth::kNoAnswerTransactions) {
        if (!hint.isEmpty())
            hint += '\n';
        hint += "Only " + QByteArray::number(h.recentAnswered()) + " of the last " +
                QByteArray::number(LinkHealth::kRecentTransactions) + " requests were answered.";
    }
    int recent = 0;
    for (uint32_t i = 0; i < std::min<uint32_t>(h.closes, LinkHealth::kClosesKept); ++i)
        recent += now - h.closedAt[i] < LinkHealth::kCloseWindowTicks ? 1 : 0;
    if (recent > 0) {
        if (!hint.isEmpty())
            hint += '\n';
        hint += "Connection closed by the gateway " + QByteArray::number(recent) +
                (recent == 1 ? " time" : " times") + " in the last minute" +
                (recent == LinkHealth::kClosesKept ? " or more." : ".");
    }
    return hint;
}

QByteArray healthText(const LinkHealth &h) {
    switch (h.state) {
    case LinkHealth::Idle:
        return "Idle";
    case LinkHealth::Refreshing:
        return "Refreshing Data";
    case LinkHealth::NoAnswer:
        return "No answer";
    case LinkHealth::OpenFailed:
        return "Serial open failed";
    case LinkHealth::Disconnected:
        return "Disconnected";
    case LinkHealth::SettingSuccessful:
        return "Setting Successful";
    case LinkHealth::SettingFailed:
        return "Setting failed: " + h.detail;
    case LinkHealth::ListFailed:
        return "Setting failed: " + h.detail + " writes";
    }
    return QByteArray();
}
