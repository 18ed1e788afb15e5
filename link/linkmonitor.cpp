#include "linkmonitor.h"

#include "framecodec.h"

#include <QDateTime>

void LinkMonitorLog::record(MonitorEvent event) {
    if (!enabled())
        return;
    event.wallMs = QDateTime::currentMSecsSinceEpoch();
    std::lock_guard<std::mutex> guard(m_lock);
    event.seq = m_nextSeq++;
    m_events.push_back(std::move(event));
    while (static_cast<int>(m_events.size()) > kCapacity)
        m_events.pop_front();
}

QVector<MonitorEvent> LinkMonitorLog::takeSince(quint64 *seq) const {
    QVector<MonitorEvent> out;
    std::lock_guard<std::mutex> guard(m_lock);
    // Sequence numbers rise by one along the ring: the first newer event is found by position.
    if (m_events.empty() || m_events.back().seq <= *seq)
        return out;
    const quint64 first = m_events.front().seq;
    size_t from = *seq < first ? 0 : static_cast<size_t>(*seq - first + 1);
    out.reserve(static_cast<int>(m_events.size() - from));
    for (size_t i = from; i < m_events.size(); ++i)
        out.append(m_events[i]);
    *seq = m_events.back().seq;
    return out;
}

void LinkMonitorLog::clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_events.clear();
}

int LinkMonitorLog::size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return static_cast<int>(m_events.size());
}

LinkMonitorLog &linkMonitor() {
    static LinkMonitorLog log;
    return log;
}

QString exceptionName(uint8_t code) {
    static const char *const names[] = {"illegal function",     "illegal data address",
                                        "illegal data value",   "server device failure",
                                        "acknowledge",          "server device busy"};
    QString text = QStringLiteral("exception %1").arg(code);
    if (code >= 1 && code <= 6)
        text += QStringLiteral(" (%1)").arg(QLatin1String(names[code - 1]));
    return text;
}

namespace {

// The meaning of a PDU (function byte on) of which avail bytes are there; who names the sender
// or the addressee, tail is added to the end.
QString describePdu(const QString &who, const uint8_t *pdu, int avail, int frameBytes,
                    bool fromHost, uint16_t requestStart, const QString &tail) {
    const uint8_t func = pdu[0];
    const auto word = [pdu](int at) { return (pdu[at] << 8) | pdu[at + 1]; };
    if ((func & 0x80) && avail >= 2)
        return QStringLiteral("%1 %2 to function %3%4")
            .arg(who, exceptionName(pdu[1]))
            .arg(func & 0x7F)
            .arg(tail);
    if (func == 4) {
        if (fromHost && avail >= 5)
            return QStringLiteral("%1 read block %2, %3 registers%4")
                .arg(who)
                .arg(word(1))
                .arg(word(3))
                .arg(tail);
        if (!fromHost && avail >= 2)
            return QStringLiteral("%1 answer to block %2: %3 registers%4")
                .arg(who)
                .arg(requestStart)
                .arg(pdu[1] / 2)
                .arg(tail);
    }
    if (func == 16 && avail >= 5)
        return QString::fromLatin1(fromHost ? "%1 write register %2, %3 registers%4"
                                            : "%1 write confirmed: register %2, %3 registers%4")
            .arg(who)
            .arg(word(1))
            .arg(word(3))
            .arg(tail);
    return QStringLiteral("%1 function %2, %3 bytes%4").arg(who).arg(func).arg(frameBytes).arg(tail);
}

} // namespace

QString describeFrame(const QByteArray &frame, bool fromHost, uint16_t requestStart,
                      MonitorFraming framing) {
    const auto *p = reinterpret_cast<const uint8_t *>(frame.constData());
    const int n = frame.size();
    if (framing == MonitorFraming::Mbap) {
        // Transaction (2), protocol (2), length (2: unit and PDU), unit, PDU; no CRC.
        if (n < 8)
            return QStringLiteral("%1 bytes, too short for a frame").arg(n);
        const int length = (p[4] << 8) | p[5];
        QString tail;
        if (p[2] != 0 || p[3] != 0)
            tail += QStringLiteral(", protocol %1").arg((p[2] << 8) | p[3]);
        if (length != n - 6)
            tail += QStringLiteral(", length field %1 for %2 bytes").arg(length).arg(n - 6);
        const QString who =
            QStringLiteral("transaction %1 unit %2").arg((p[0] << 8) | p[1]).arg(p[6]);
        return describePdu(who, p + 7, n - 7, n, fromHost, requestStart, tail);
    }
    if (n < 4)
        return QStringLiteral("%1 bytes, too short for a frame").arg(n);
    const QString crc = isFrameComplete(p, n) ? QString() : QStringLiteral(", bad CRC");
    // The CRC's two bytes are there too: a short frame is told by its CRC, as on the wire.
    return describePdu(QStringLiteral("addr %1").arg(p[0]), p + 1, n - 1, n, fromHost,
                       requestStart, crc);
}

QString formatMonitorLine(const MonitorEvent &e) {
    // Time, direction and meaning first: a read answer's hex runs to hundreds of characters.
    const QString time =
        QDateTime::fromMSecsSinceEpoch(e.wallMs).toString(QStringLiteral("hh:mm:ss.zzz"));
    const QString hex = QString::fromLatin1(e.bytes.toHex(' ').toUpper());
    QString direction = QStringLiteral("RX");
    QString meaning;
    switch (e.kind) {
    case MonitorEvent::Sent:
        direction = QStringLiteral("TX");
        meaning = describeFrame(e.bytes, true, 0, e.framing);
        break;
    case MonitorEvent::Received:
        meaning = describeFrame(e.bytes, false, e.requestStart, e.framing);
        break;
    case MonitorEvent::Echo:
        meaning = QStringLiteral("echo of the request, skipped");
        break;
    case MonitorEvent::Skipped:
        meaning = e.text.isEmpty()
                      ? QStringLiteral("resynchronised: %1 bytes skipped").arg(e.bytes.size())
                      : e.text;
        break;
    case MonitorEvent::LateDropped:
        meaning = QStringLiteral("late answer dropped");
        break;
    case MonitorEvent::Outcome:
        return QStringLiteral("%1  --  %2").arg(time, e.text);
    case MonitorEvent::Note:
        return QStringLiteral("%1  ..  %2").arg(time, e.text);
    }
    return QStringLiteral("%1  %2  %3  | %4").arg(time, direction, meaning, hex);
}
