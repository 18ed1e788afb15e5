#pragma once
// One transaction with the controller, whatever the port and the framing: send the request's
// frame, wait by the line's timing for its answer, take it through the framing's receive scan,
// retry an unanswered attempt, and drop late answers before the next request. The result is
// one Outcome. The link worker and the device scan both run their transactions here.

#include "framing.h"
#include "linetiming.h"
#include "linkport.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <cstdint>
#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcLink)       // vaduz.link: port open/close, failures
Q_DECLARE_LOGGING_CATEGORY(lcLinkFrames) // vaduz.link.frames: a SEND:/RECV: line per frame

// How a transaction is timed, handed in by its caller: a serial line counts in character
// times, a network port in its measured round trip.
struct TransactionTiming {
    int attempts = 3;
    RxTiming wait;       // per attempt, counted from the moment the request has left
    int64_t byteUs = 0;  // one byte's wire time: the request's own is not held against the peer
    int64_t writeUs = 0; // longest wait for a request to be written
    // Before a request that follows unanswered attempts, late answers are listened for and
    // dropped until the line has been quiet for drainQuietUs, at most drainMaxUs (0: never).
    int64_t drainQuietUs = 0;
    int64_t drainMaxUs = 0;
};

// The timing of the link on a serial line: respTimeoutMs to the first byte, three attempts,
// late answers drained for two time-outs of quiet (five at most).
TransactionTiming serialTiming(int respTimeoutMs, int64_t charUs, int maxAnswerBytes);

struct Outcome {
    enum Kind : uint8_t {
        Answered,    // the answer to the request
        Exception,   // the controller's exception answer (exceptionCode)
        WrongAnswer, // only frames that are no answer to it (fault): one from another
                     // address (fromAddr) fails at once, others are waited past like silence
        BadCrc,      // no valid answer; at least one attempt got one damaged in transit
        NoAnswer,    // silence, or only bytes that formed no answer
        PortLost,    // the port went away during the transaction
        Stopped,     // the caller's stop ended it
    };
    Kind kind = NoAnswer;
    uint8_t exceptionCode = 0;
    uint8_t fromAddr = 0;
    AnswerFault fault = AnswerFault::None; // WrongAnswer: what the last wrong frame got wrong
    int attempts = 0;                      // requests written (or tried)
    int timedOut = 0;      // of them, attempts whose wait ran out without any valid frame
    int wrongAttempts = 0; // attempts that ended without the answer but with a wrong frame
    int64_t rttUs = 0;     // answered kinds: last request written to answer taken
    int echoBytes = 0;     // the adapter's echo of the request, skipped
    int skippedBytes = 0;  // other bytes skipped before the answer
    int badCrcAttempts = 0;
    int secondFrames = 0; // further complete frames that came with the answer
    Frame answer;         // answered kinds: the frame taken

    // The answer to the request came back (the controller is there, whatever it said).
    bool gotFrame() const { return kind == Answered || kind == Exception; }
    // The silence of the controller rather than of the link (not stopped, port not lost).
    bool counted() const { return kind != PortLost && kind != Stopped; }
};

// "answered", "exception 2 (illegal data address)", "wrong answer (address 7)", "wrong answer
// (another function)", "no valid answer (bad CRC)", "no answer", "port lost", "stopped"
QString outcomeText(const Outcome &outcome);

// What the engine saw, as it happened (the link monitor, the frame log). Every call has a
// default that does nothing.
class TransactionTrace {
public:
    virtual ~TransactionTrace() = default;
    virtual void sent(const Request &, const Frame &) {}
    virtual void echo(const Request &, const Frame &) {}
    virtual void skipped(const Request &, const QByteArray &, bool damagedAnswer) {}
    virtual void received(const Request &, const uint8_t *, int) {}
    // The frame just received is no answer to the request, for fault.
    virtual void refused(const Request &, const uint8_t *, int, AnswerFault) {}
    virtual void lateDropped(const QByteArray &) {}
};

class TransactionEngine {
public:
    // stop: polled between waits of at most 20 ms; a true ends the transaction.
    TransactionEngine(LinkPort &port, Framing &framing, std::function<bool()> stop,
                      TransactionTrace *trace = nullptr);

    // Performs request (encoded once by the framing) with timing.
    Outcome run(const Request &request, const TransactionTiming &timing);

    // A frame that is no answer to the request in progress: a late answer or another talker.
    // Returns true when the wait for the own answer goes on; false ends the attempt with
    // WrongAnswer (the link's rule).
    using ForeignFrame = std::function<bool(const Answer &)>;
    void setForeignFrameHandler(ForeignFrame handler) { foreign_ = std::move(handler); }

    // Receives until untilUs, passing every complete frame of expect's kind to the foreign
    // handler; with quietUs > 0, ends once the line has been quiet that long since the last
    // byte or request.
    void listen(const Request &expect, int64_t untilUs, int64_t quietUs);

    // Forgets what is pending in the port and in the engine (a new job, a page change).
    void discardInput();
    // The line starts afresh (another baud rate): the quiet before the next request is
    // counted from now.
    void restartLine();
    // When the last request had left the port.
    int64_t lastRequestLeftUs() const { return lastLeftUs_; }
    LinkPort &port() { return port_; }

private:
    bool ending() const;
    void drainLateAnswers(const TransactionTiming &timing);
    // One attempt's wait for the answer: 1 a frame was taken into outcome.answer, -1 the
    // attempt failed at once, 0 its time ran out.
    int awaitAnswer(int64_t leftAtUs, const RxTiming &timing, Outcome &outcome);
    // Reads what the port has; when nothing is there, waits for bytes until deadlineUs (one
    // slice at most) first. True when bytes came.
    bool receive(int64_t deadlineUs);
    // Appends what the port has received to the bytes gathered; false when it had nothing.
    bool takeIn();
    // Runs the received bytes through the framing's scan: 1 the answer taken into *outcome,
    // -1 a frame that fails the attempt (another address's), 0 nothing complete. A frame from
    // the address asked that fails the answer check is dropped and the wait goes on.
    // Without an outcome (listening), every frame goes to the foreign handler.
    int take(bool lineQuiet, Outcome *outcome);
    void flushSkipped(Outcome *outcome);
    // Complete frames among the bytes that came with the answer (nothing the protocol asked
    // for: another talker, or a late answer racing the own one).
    int framesLeft();

    LinkPort &port_;
    Framing &framing_;
    std::function<bool()> stop_;
    TransactionTrace *trace_;
    ForeignFrame foreign_;

    QByteArray rx_;
    QByteArray skipped_; // skipped in the attempt in progress besides echoes (bounded)
    const Request *request_ = nullptr;
    Frame sent_;
    int64_t lastByteUs_ = 0;
    int64_t lastLeftUs_ = 0;
    bool answerBegun_ = false;
    bool answerOwn_ = false;    // what has begun starts with the asked address and function
    bool attemptWrong_ = false; // the attempt in progress got a frame that is no answer
    int lateAnswers_ = 0;       // attempts of the last transaction that may still be answered
};
