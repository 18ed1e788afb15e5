#include "transaction.h"

#include "linkmonitor.h"

#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcLink, "vaduz.link")
// The frame log floods a terminal on every poll: off unless a logging rule or --verbose asks.
Q_LOGGING_CATEGORY(lcLinkFrames, "vaduz.link.frames", QtInfoMsg)

namespace {
constexpr int64_t kSliceUs = 20000; // longest wait between looks at the stop request
constexpr int kDrainQuietTimeouts = 2;
constexpr int kDrainMaxTimeouts = 5;
} // namespace

TransactionTiming serialTiming(int respTimeoutMs, int64_t charUs, int maxAnswerBytes) {
    const int64_t timeoutUs = int64_t(std::max(1, respTimeoutMs)) * 1000;
    TransactionTiming t;
    t.wait = attemptTiming(respTimeoutMs, charUs, maxAnswerBytes);
    t.byteUs = charUs;
    t.writeUs = timeoutUs;
    // A read answer carries no block number: a late answer to the last request, taken by the
    // next one, would land one block's values in another's cells. Late answers follow each
    // other, and the answer that ended the transaction, at the attempts' spacing of one
    // time-out.
    t.drainQuietUs = kDrainQuietTimeouts * timeoutUs;
    t.drainMaxUs = kDrainMaxTimeouts * timeoutUs;
    return t;
}

QString outcomeText(const Outcome &o) {
    switch (o.kind) {
    case Outcome::Answered:
        return QStringLiteral("answered");
    case Outcome::Exception:
        return exceptionName(o.exceptionCode);
    case Outcome::WrongAnswer:
        return o.fault == AnswerFault::OtherUnit
                   ? QStringLiteral("wrong answer (address %1)").arg(o.fromAddr)
                   : QStringLiteral("wrong answer (%1)")
                         .arg(QLatin1String(answerFaultName(o.fault)));
    case Outcome::BadCrc:
        return QStringLiteral("no valid answer (bad CRC)");
    case Outcome::NoAnswer:
        return QStringLiteral("no answer");
    case Outcome::PortLost:
        return QStringLiteral("port lost");
    case Outcome::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

TransactionEngine::TransactionEngine(LinkPort &port, Framing &framing, std::function<bool()> stop,
                                     TransactionTrace *trace)
    : port_(port), framing_(framing), stop_(std::move(stop)), trace_(trace) {
    lastByteUs_ = lastLeftUs_ = port_.nowUs();
}

bool TransactionEngine::ending() const {
    return port_.lost() || !port_.isOpen() || (stop_ && stop_());
}

void TransactionEngine::discardInput() {
    if (port_.isOpen())
        port_.discardInput();
    rx_.clear();
    answerBegun_ = answerOwn_ = false;
}

void TransactionEngine::restartLine() {
    lastByteUs_ = lastLeftUs_ = port_.nowUs();
    answerBegun_ = answerOwn_ = false;
}

Outcome TransactionEngine::run(const Request &request, const TransactionTiming &timing) {
    Outcome outcome;
    drainLateAnswers(timing);
    request_ = &request;
    sent_ = framing_.encode(request);
    answerBegun_ = answerOwn_ = false;
    skipped_.clear();
    int result = 0; // 1 answered, -1 failed at once
    for (int attempt = 1; attempt <= timing.attempts && result == 0; ++attempt) {
        if (ending())
            break;
        if (trace_)
            trace_->sent(request, sent_);
        ++outcome.attempts;
        const int64_t sentAt = port_.nowUs();
        attemptWrong_ = false;
        if (!port_.write(sent_.bytes, sent_.length, sentAt + timing.writeUs)) {
            // The port dropped what it could not send; the attempt is over.
            outcome.timedOut += ending() ? 0 : 1;
            continue;
        }
        // The peer cannot answer before the request has left the wire.
        const int64_t leftAt = port_.nowUs() + wireMicros(timing.byteUs, sent_.length);
        lastLeftUs_ = leftAt;
        result = awaitAnswer(leftAt, timing.wait, outcome);
        flushSkipped(&outcome);
        if (result != 1 && !ending())
            ++(attemptWrong_ ? outcome.wrongAttempts : outcome.timedOut);
        if (result == 1) {
            outcome.rttUs = std::max<int64_t>(0, port_.nowUs() - sentAt);
            outcome.secondFrames = framesLeft();
        }
    }
    // Every attempt sent and not answered may still be answered, into the next transaction.
    lateAnswers_ = port_.lost() ? 0 : outcome.attempts - (result == 1 ? 1 : 0);
    if (result != 1) {
        outcome.kind = port_.lost() || !port_.isOpen() ? Outcome::PortLost
                       : stop_ && stop_()              ? Outcome::Stopped
                       : outcome.wrongAttempts > 0     ? Outcome::WrongAnswer
                       : outcome.badCrcAttempts > 0    ? Outcome::BadCrc
                                                       : Outcome::NoAnswer;
    }
    request_ = nullptr;
    return outcome;
}

int TransactionEngine::awaitAnswer(int64_t leftAtUs, const RxTiming &timing, Outcome &outcome) {
    // Up to the first-byte time for the answer to begin; once it has, as long as its bytes
    // keep coming, within the bound for the whole answer. No retry goes out while an answer is
    // arriving: on a half-duplex bus it would collide with it.
    int taken = take(false, &outcome);
    for (;;) {
        if (taken != 0)
            return taken;
        if (ending())
            return -1;
        const int64_t now = port_.nowUs();
        int64_t gapEnd = lastByteUs_ + timing.gapUs;
        // A run that begins as this request's answer is held through a pause up to the bound
        // for the whole answer: a controller or adapter that stalls mid-answer (or this
        // process's peer held off the processor) is no reason to drop it and ask again, which
        // on a half-duplex bus would collide with the rest. The CRC still decides.
        if (answerOwn_)
            gapEnd = std::max(gapEnd, leftAtUs + timing.totalUs);
        if (answerBegun_ && now >= gapEnd) {
            // Bytes that came while this thread was busy elsewhere (descheduled, writing a log
            // line) mean that the line did not fall quiet: only the port can tell.
            if (takeIn()) {
                taken = take(false, &outcome);
                continue;
            }
            // Quiet inside a run: it is either whole as it stands or never will be.
            taken = take(true, &outcome);
            continue;
        }
        int64_t deadline = leftAtUs + timing.firstByteUs;
        if (answerBegun_)
            deadline = std::max(deadline, gapEnd);
        deadline = std::min(deadline, leftAtUs + timing.totalUs);
        if (now >= deadline) {
            // A last look: an answer completed while this thread was away is this attempt's.
            return takeIn() ? take(false, &outcome) : 0;
        }
        if (receive(answerBegun_ ? std::min(deadline, gapEnd) : deadline))
            taken = take(false, &outcome);
    }
}

bool TransactionEngine::receive(int64_t deadlineUs) {
    // The port's wait returns at once when bytes are there already.
    const int64_t until = std::min(deadlineUs, port_.nowUs() + kSliceUs);
    return port_.waitForBytes(until) && takeIn();
}

bool TransactionEngine::takeIn() {
    if (port_.readAvailable(rx_) <= 0)
        return false;
    lastByteUs_ = port_.nowUs();
    return true;
}

int TransactionEngine::take(bool lineQuiet, Outcome *outcome) {
    for (;;) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(rx_.constData());
        const RxScan scan = framing_.scan(bytes, rx_.size(), *request_, sent_, lineQuiet);
        if (scan.refused > 0 && outcome) {
            // Frames the framing stepped over as no answer to this request: wrong answers.
            outcome->fault = scan.refusedFault;
            outcome->fromAddr = request_->addr;
            attemptWrong_ = true;
            if (trace_)
                trace_->refused(*request_, bytes, scan.skipped, scan.refusedFault);
        }
        if (scan.skipped > 0) {
            if (scan.echoBytes > 0 && trace_)
                trace_->echo(*request_, sent_);
            if (outcome) {
                outcome->echoBytes += scan.echoBytes;
                outcome->skippedBytes += scan.skipped - scan.echoBytes;
            }
            // What was skipped besides echoes, kept for the attempt's account (an echo may sit
            // between pieces, but is always a whole request).
            if (scan.skipped > scan.echoBytes && skipped_.size() < kFrameBufSize) {
                int from = 0;
                while (from + sent_.length <= scan.skipped &&
                       std::memcmp(bytes + from, sent_.bytes, size_t(sent_.length)) == 0)
                    from += sent_.length;
                skipped_.append(reinterpret_cast<const char *>(bytes + from),
                                std::min(scan.skipped - from, kFrameBufSize));
            }
            rx_.remove(0, scan.skipped);
            bytes = reinterpret_cast<const uint8_t *>(rx_.constData());
        }
        answerBegun_ = scan.state == RxState::Partial;
        answerOwn_ = answerBegun_ && scan.ownStart;
        if (scan.state != RxState::Answer && scan.state != RxState::Foreign)
            return 0;
        const Answer answer = framing_.decode(bytes, scan.length);
        const bool own = scan.state == RxState::Answer && outcome;
        if (!own && foreign_ && foreign_(answer)) {
            rx_.remove(0, scan.length);
            continue; // not ours, and the wait for ours goes on
        }
        if (!outcome) {
            rx_.remove(0, scan.length);
            continue;
        }
        const AnswerFault fault = checkAnswer(*request_, answer);
        if (fault != AnswerFault::None) {
            // Not the answer: a late answer, another talker or a gateway that mixed up its
            // requests. Nothing of it is taken; from the address asked it is waited past like
            // silence, from another address it ends the attempt.
            flushSkipped(outcome);
            if (trace_) {
                trace_->received(*request_, bytes, scan.length);
                if (own) // another address's frame is told by the outcome it ends in
                    trace_->refused(*request_, bytes, scan.length, fault);
            }
            outcome->fault = fault;
            outcome->fromAddr = answer.addr;
            attemptWrong_ = true;
            answerBegun_ = answerOwn_ = false;
            rx_.remove(0, scan.length);
            if (own)
                continue;
            return -1;
        }
        if (scan.length > kFrameBufSize) {
            qCDebug(lcLink).noquote()
                << "Frame dropped:" << scan.length << "bytes do not fit the receive buffer";
            rx_.clear();
            return -1;
        }
        flushSkipped(outcome);
        std::memcpy(outcome->answer.bytes, bytes, size_t(scan.length));
        outcome->answer.length = scan.length;
        if (trace_)
            trace_->received(*request_, bytes, scan.length);
        outcome->kind = answer.isException() ? Outcome::Exception : Outcome::Answered;
        outcome->exceptionCode = answer.exceptionCode();
        outcome->fromAddr = answer.addr;
        answerBegun_ = answerOwn_ = false;
        rx_.remove(0, scan.length);
        return 1;
    }
}

int TransactionEngine::framesLeft() {
    // The frames that came in with the answer, in the same reads. Another look at the port
    // would mostly find nothing, and finding nothing on a terminal waits for its driver's
    // receive worker: a wake-up of its own on every read.
    int frames = 0;
    int pos = 0;
    for (;;) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(rx_.constData()) + pos;
        const RxScan scan = framing_.scan(bytes, rx_.size() - pos, *request_, sent_, false);
        if (scan.state != RxState::Answer && scan.state != RxState::Foreign)
            return frames;
        ++frames;
        pos += scan.skipped + scan.length;
    }
}

void TransactionEngine::flushSkipped(Outcome *outcome) {
    if (skipped_.isEmpty())
        return;
    const bool damaged = framing_.damagedAnswer(
        reinterpret_cast<const uint8_t *>(skipped_.constData()), skipped_.size(), sent_);
    if (damaged && outcome)
        ++outcome->badCrcAttempts;
    if (trace_)
        trace_->skipped(*request_, skipped_, damaged);
    skipped_.clear();
}

void TransactionEngine::listen(const Request &expect, int64_t untilUs, int64_t quietUs) {
    request_ = &expect;
    sent_ = framing_.encode(expect);
    for (;;) {
        take(false, nullptr);
        const int64_t now = port_.nowUs();
        if (ending() || now >= untilUs)
            break;
        int64_t end = untilUs;
        if (quietUs > 0) {
            end = std::min(end, std::max(lastByteUs_, lastLeftUs_) + quietUs);
            if (now >= end)
                break;
        }
        receive(end);
    }
    skipped_.clear();
    request_ = nullptr;
}

void TransactionEngine::drainLateAnswers(const TransactionTiming &timing) {
    const bool expected = lateAnswers_ > 0;
    lateAnswers_ = 0;
    if (!expected || timing.drainQuietUs <= 0 || ending())
        return;
    // Listen until the line has been quiet for the drain's quiet time, at most its bound in
    // all, and throw away what comes.
    discardInput();
    const int64_t start = port_.nowUs();
    int64_t lastByte = start;
    for (;;) {
        const int64_t now = port_.nowUs();
        if (now - lastByte >= timing.drainQuietUs || now - start >= timing.drainMaxUs || ending())
            break;
        if (receive(lastByte + timing.drainQuietUs)) {
            lastByte = lastByteUs_;
            if (trace_)
                trace_->lateDropped(rx_);
            rx_.clear();
        }
    }
    discardInput();
}
