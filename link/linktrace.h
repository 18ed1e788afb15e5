#pragma once
// What the transaction engine saw, as it happened, goes to the frame log (a SEND:/RECV: line
// per frame on vaduz.link.frames) and to the link monitor while one is open.

#include "linkmonitor.h"
#include "transaction.h"

#include <functional>

class LinkTrace : public TransactionTrace {
public:
    void sent(const Request &r, const Frame &f) override;
    void echo(const Request &r, const Frame &f) override;
    void skipped(const Request &r, const QByteArray &bytes, bool damaged) override;
    void received(const Request &r, const uint8_t *bytes, int length) override;
    void refused(const Request &r, const uint8_t *bytes, int length, AnswerFault fault) override;
    void lateDropped(const QByteArray &late) override;

    MonitorFraming framing = MonitorFraming::Rtu; // how the frames sent and taken are laid out
    std::function<void()> onReceived; // after an answer was taken
    std::function<void(int)> onLate;  // bytes of late answers dropped
};

// Records an event in the link monitor (nothing while none is open); request: the request the
// bytes answer, when they answer one.
void recordMonitorEvent(MonitorEvent::Kind kind, const Request *request, QByteArray bytes,
                        QString text = QString(), MonitorFraming framing = MonitorFraming::Rtu);
QByteArray bytesOf(const uint8_t *bytes, int length);
// Logs a rejected answer and tells the monitor how a transaction ended ("read block 2: answered
// in 0.3 ms", success being "answered"); lostReason: why the port went, when it did.
void traceOutcome(const Request &request, const Outcome &o, const char *success,
                  const QString &lostReason = QString());
