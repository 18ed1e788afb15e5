#include "simline.h"

#include <algorithm>

SimLine::Settings SimLine::settingsOf(const SimFaults &faults) {
    Settings s;
    s.paceBaud = std::max(0, faults.paceBaud);
    s.halfDuplex = faults.halfDuplex;
    s.echo = faults.echo;
    s.glitch = faults.glitch;
    s.burstMs = std::max(0, faults.burstMs);
    return s;
}

SimLine::SimLine(Clock::time_point origin) : origin_(origin) {}

SimLine::Clock::duration SimLine::charTime() const {
    if (settings_.paceBaud <= 0)
        return Clock::duration::zero();
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10LL * 1000000000LL / settings_.paceBaud));
}

void SimLine::clear() {
    arriving_.clear();
    toHost_.clear();
    transmissions_.clear();
    towardsControllerFree_ = Clock::time_point{};
    transmitterFree_ = Clock::time_point{};
}

void SimLine::hostSent(const char *bytes, int length, Clock::time_point readAt, int hostBaud) {
    const Clock::duration ct = charTime();
    // The host's adapter echoes at its own rate, so the echo stays clean either way.
    const bool misframed =
        settings_.controllerBaud > 0 && hostBaud > 0 && hostBaud != settings_.controllerBaud;
    while (!transmissions_.empty() && transmissions_.front().end <= readAt)
        transmissions_.pop_front();
    for (int i = 0; i < length; ++i) {
        const Clock::time_point at = std::max(readAt, towardsControllerFree_) + ct;
        towardsControllerFree_ = at;
        const uint64_t seq = ++hostBytes_;
        // On a shared pair a byte on the wire while the controller's driver is on collides
        // with the answer: the host's byte is lost and the answer garbled from there on.
        bool lost = false;
        if (settings_.halfDuplex) {
            for (const Transmission &t : transmissions_) {
                if (at - ct < t.end && at > t.start) {
                    garbleAnswerFrom(t.id, std::max(at - ct, t.start));
                    lost = true;
                }
            }
        }
        if (!lost)
            arriving_.push_back({at, misframed ? garble(bytes[i]) : bytes[i], seq, misframed});
        if (settings_.echo)
            queueForHost({at, lost ? garble(bytes[i]) : bytes[i], 0, seq, false, lost});
    }
}

bool SimLine::takeArrived(Clock::time_point now, QByteArray *bytes, Clock::time_point *at,
                          bool *framingError) {
    if (arriving_.empty() || arriving_.front().at > now)
        return false;
    *at = arriving_.front().at;
    const bool misframed = arriving_.front().framingError;
    if (framingError)
        *framingError = misframed;
    bytes->clear();
    while (!arriving_.empty() && arriving_.front().at == *at &&
           arriving_.front().framingError == misframed) {
        bytes->append(arriving_.front().byte);
        arriving_.pop_front();
    }
    return true;
}

void SimLine::sendAnswer(const QByteArray &answer, Clock::time_point from, int pieces, int gapMs) {
    if (answer.isEmpty())
        return;
    const Clock::duration ct = charTime();
    // One transmitter: an answer never starts before the one in front of it has left.
    Clock::time_point t = std::max(from, transmitterFree_);
    const int id = ++lastTx_;
    const Clock::time_point start = t;
    std::deque<ToHost> bytes;
    if (settings_.glitch) {
        // The driver switching on puts one random character on the line before the answer.
        t += ct;
        bytes.push_back({t, randomByte(), id, 0, false, false});
    }
    const int count = int(std::min<qsizetype>(std::max(1, pieces), answer.size()));
    const int size = answer.size() / count;
    for (int i = 0; i < count; ++i) {
        const int begin = i * size;
        const int end = i == count - 1 ? answer.size() : begin + size;
        for (int j = begin; j < end; ++j) {
            t += ct;
            bytes.push_back({t, answer.at(j), id, 0, false, false});
        }
        if (i < count - 1)
            t += std::chrono::milliseconds(std::max(0, gapMs));
    }
    bytes.back().endsAnswer = true;
    transmitterFree_ = t;

    if (settings_.halfDuplex) {
        const Transmission sending{id, start, t};
        // Host bytes still on their way that share the wire with this answer are lost, and
        // the answer is garbled from the first of them on.
        Clock::time_point collision = Clock::time_point::max();
        for (auto it = arriving_.begin(); it != arriving_.end();) {
            if (it->at - ct < sending.end && it->at > sending.start) {
                collision = std::min(collision, std::max(it->at - ct, sending.start));
                garbleEchoOf(it->seq);
                it = arriving_.erase(it);
            } else {
                ++it;
            }
        }
        for (ToHost &b : bytes) {
            if (b.due > collision) {
                b.byte = garble(b.byte);
                b.garbled = true;
            }
        }
        transmissions_.push_back(sending);
    }
    for (const ToHost &b : bytes)
        queueForHost(b);
}

void SimLine::sendNoise(const QByteArray &bytes, Clock::time_point now) {
    const Clock::duration ct = charTime();
    Clock::time_point t = now;
    for (char b : bytes) {
        t += ct;
        queueForHost({t, b, 0, 0, false, false});
    }
}

SimLine::Delivery SimLine::takeForHost(Clock::time_point now) {
    Delivery out;
    while (!toHost_.empty() && deliveryTime(toHost_.front().due) <= now) {
        out.bytes.append(toHost_.front().byte);
        if (toHost_.front().endsAnswer)
            ++out.answersDone;
        toHost_.pop_front();
    }
    return out;
}

bool SimLine::answerQueued() const {
    return std::any_of(toHost_.begin(), toHost_.end(), [](const ToHost &b) { return b.tx != 0; });
}

SimLine::Clock::time_point SimLine::nextDue() const {
    Clock::time_point next = Clock::time_point::max();
    if (!arriving_.empty())
        next = arriving_.front().at;
    if (!toHost_.empty())
        next = std::min(next, deliveryTime(toHost_.front().due));
    return next;
}

char SimLine::randomByte() {
    return static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng_));
}

char SimLine::garble(char byte) {
    // Some other value, so a garbled byte never passes for the one that was sent.
    return static_cast<char>(byte ^ std::uniform_int_distribution<int>(1, 255)(rng_));
}

void SimLine::queueForHost(const ToHost &b) {
    if (toHost_.empty() || toHost_.back().due <= b.due) {
        toHost_.push_back(b);
        return;
    }
    const auto pos =
        std::upper_bound(toHost_.begin(), toHost_.end(), b.due,
                         [](Clock::time_point due, const ToHost &q) { return due < q.due; });
    toHost_.insert(pos, b);
}

void SimLine::garbleAnswerFrom(int tx, Clock::time_point from) {
    for (ToHost &b : toHost_) {
        if (b.tx == tx && b.due > from && !b.garbled) {
            b.byte = garble(b.byte);
            b.garbled = true;
        }
    }
}

void SimLine::garbleEchoOf(uint64_t seq) {
    for (ToHost &b : toHost_) {
        if (b.echoOf == seq && !b.garbled) {
            b.byte = garble(b.byte);
            b.garbled = true;
        }
    }
}

SimLine::Clock::time_point SimLine::deliveryTime(Clock::time_point due) const {
    if (settings_.burstMs <= 0 || due <= origin_)
        return due;
    const Clock::duration burst = std::chrono::milliseconds(settings_.burstMs);
    const auto n = (due - origin_ + burst - Clock::duration(1)) / burst;
    return origin_ + n * burst;
}
