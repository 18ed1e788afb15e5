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

QString describeFrame(const QByteArray &frame, bool fromHost, uint16_t requestStart) {
    const auto *p = reinterpret_cast<const uint8_t *>(frame.constData());
    const int n = frame.size();
    if (n < 4)
        return QStringLiteral("%1 bytes, too short for a frame").arg(n);
    const QString addr = QStringLiteral("addr %1").arg(p[0]);
    const uint8_t func = p[1];
    const bool crcOk = isFrameComplete(p, n);
    const QString crc = crcOk ? QString() : QStringLiteral(", bad CRC");
    const auto word = [p](int at) { return (p[at] << 8) | p[at + 1]; };

    if (func & 0x80)
        return QStringLiteral("%1 %2 to function %3%4")
            .arg(addr, exceptionName(p[2]))
            .arg(func & 0x7F)
            .arg(crc);
    if (func == 4) {
        if (fromHost && n >= 8)
            return QStringLiteral("%1 read block %2, %3 registers%4")
                .arg(addr)
                .arg(word(2))
                .arg(word(4))
                .arg(crc);
        if (!fromHost)
            return QStringLiteral("%1 answer to block %2: %3 registers%4")
                .arg(addr)
                .arg(requestStart)
                .arg(p[2] / 2)
                .arg(crc);
    }
    if (func == 16 && n >= 8) {
        if (fromHost)
            return QStringLiteral("%1 write register %2, %3 registers%4")
                .arg(addr)
                .arg(word(2))
                .arg(word(4))
                .arg(crc);
        return QStringLiteral("%1 write confirmed: register %2, %3 registers%4")
            .arg(addr)
            .arg(word(2))
            .arg(word(4))
            .arg(crc);
    }
    return QStringLiteral("%1 function %2, %3 bytes%4").arg(addr).arg(func).arg(n).arg(crc);
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
        meaning = describeFrame(e.bytes, true, 0);
        break;
    case MonitorEvent::Received:
        meaning = describeFrame(e.bytes, false, e.requestStart);
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
    }
    return QStringLiteral("%1  %2  %3  | %4").arg(time, direction, meaning, hex);
}
