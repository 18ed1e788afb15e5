#include "linktrace.h"

#include "systick.h"

namespace {

void logFrame(const char *direction, const uint8_t *bytes, int length) {
    if (!lcLinkFrames().isDebugEnabled())
        return;
    const QByteArray hex =
        QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), length).toHex(' ');
    qCDebug(lcLinkFrames).noquote() << currentTick() << direction << length << hex;
}

} // namespace

void recordMonitorEvent(MonitorEvent::Kind kind, const Request *request, QByteArray bytes,
                        QString text, MonitorFraming framing) {
    if (!linkMonitor().enabled())
        return;
    MonitorEvent e;
    e.kind = kind;
    e.bytes = std::move(bytes);
    if (request) {
        e.requestAddr = request->addr;
        e.requestFunc = request->function;
        e.requestStart = request->start;
    }
    e.text = std::move(text);
    e.framing = framing;
    linkMonitor().record(std::move(e));
}

QByteArray bytesOf(const uint8_t *bytes, int length) {
    return QByteArray(reinterpret_cast<const char *>(bytes), length);
}

void LinkTrace::sent(const Request &r, const Frame &f) {
    logFrame("SEND:", f.bytes, f.length);
    recordMonitorEvent(MonitorEvent::Sent, &r, bytesOf(f.bytes, f.length), QString(), framing);
}

void LinkTrace::echo(const Request &, const Frame &f) {
    recordMonitorEvent(MonitorEvent::Echo, nullptr, bytesOf(f.bytes, f.length));
}

void LinkTrace::skipped(const Request &, const QByteArray &bytes, bool damaged) {
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink).noquote() << "Skipped" << bytes.size() << "bytes before the answer";
    recordMonitorEvent(MonitorEvent::Skipped, nullptr, bytes,
                       damaged
                           ? QStringLiteral("bad CRC: answer dropped")
                           : QStringLiteral("resynchronised: %1 bytes skipped").arg(bytes.size()));
}

void LinkTrace::received(const Request &r, const uint8_t *bytes, int length) {
    logFrame("RECV:", bytes, length);
    recordMonitorEvent(MonitorEvent::Received, &r, bytesOf(bytes, length), QString(), framing);
    if (onReceived)
        onReceived();
}

void LinkTrace::refused(const Request &r, const uint8_t *bytes, int length, AnswerFault fault) {
    qCDebug(lcLink).noquote() << "Answer to" << (r.isRead() ? "read of block" : "write of register")
                              << r.start << "refused:" << answerFaultName(fault) << "in"
                              << bytesOf(bytes, length).toHex(' ');
    // The frame's own line is already there; this says why it was not taken.
    recordMonitorEvent(
        MonitorEvent::Skipped, nullptr, QByteArray(),
        QStringLiteral("wrong answer refused: %1").arg(QLatin1String(answerFaultName(fault))));
}

void LinkTrace::lateDropped(const QByteArray &late) {
    qCDebug(lcLink).noquote() << "Late answer dropped:" << late.left(16).toHex(' ');
    recordMonitorEvent(MonitorEvent::LateDropped, nullptr, late);
    if (onLate)
        onLate(late.size());
}

void traceOutcome(const Request &request, const Outcome &o, const char *success,
                  const QString &lostReason) {
    if (o.kind == Outcome::Exception)
        qCDebug(lcLink).noquote() << (request.isRead() ? "Read of block" : "Write of register")
                                  << request.start << "rejected:"
                                  << bytesOf(o.answer.bytes, o.answer.length).toHex(' ');
    // "read block 2", "write register 74"; only formatted for the monitor.
    const auto what = [&request] {
        return QStringLiteral("%1 %2")
            .arg(QLatin1String(request.isRead() ? "read block" : "write register"))
            .arg(request.start);
    };
    if (!linkMonitor().enabled())
        return;
    // Exactly one line per request, however it ended: a cut connection and the operator's stop
    // included.
    QString text = o.kind == Outcome::Answered
                       ? QStringLiteral("%1: %2 in %3 ms")
                             .arg(what(), QLatin1String(success))
                             .arg(o.rttUs / 1000.0, 0, 'f', 1)
                       : QStringLiteral("%1: %2").arg(what(), outcomeText(o));
    if (o.kind == Outcome::PortLost && !lostReason.isEmpty())
        text += QStringLiteral(" (%1)").arg(lostReason);
    // Two frames in one attempt: one of them was nobody's answer to this request, and which
    // one cannot be told.
    if (o.secondFrames > 0)
        text += QStringLiteral("; second frame in one answer");
    recordMonitorEvent(MonitorEvent::Outcome, nullptr, QByteArray(), text);
}
