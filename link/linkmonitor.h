#pragma once
// What went over the wire, for the link monitor window: the link worker records each frame it
// sends and takes, the bytes it skips, the late answers it drops and each transaction's outcome
// into a bounded ring. Recording is off (one atomic load per frame) unless a monitor is open.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>

// How the frames of an event are laid out: Modbus RTU (address, PDU, CRC) or Modbus TCP
// (transaction, protocol, length, unit, PDU).
enum class MonitorFraming : uint8_t { Rtu, Mbap };

struct MonitorEvent {
    enum Kind : uint8_t {
        Sent,        // a request as written to the port
        Received,    // a complete, CRC-correct frame taken as the answer
        Echo,        // the adapter's echo of the request, skipped
        Skipped,     // bytes that were no part of a valid answer (glitch, noise, bad CRC)
        LateDropped, // an answer to an earlier attempt, thrown away before a new request
        Outcome,     // how a transaction ended: one per request
        Note,        // what the link noticed besides (a short answer, a port that moved)
    };
    quint64 seq = 0;
    qint64 wallMs = 0; // local wall clock, ms since the epoch
    Kind kind = Outcome;
    QByteArray bytes;
    uint8_t requestAddr = 0; // the request in progress: what the bytes answer
    uint8_t requestFunc = 0;
    uint16_t requestStart = 0;
    QString text; // Outcome: what happened
    MonitorFraming framing = MonitorFraming::Rtu;
};

class LinkMonitorLog {
public:
    static constexpr int kCapacity = 5000;

    void setEnabled(bool on) { m_enabled.store(on, std::memory_order_release); }
    bool enabled() const { return m_enabled.load(std::memory_order_acquire); }

    // Appends an event (stamped with its sequence number and the time), dropping the oldest
    // when the ring is full. Does nothing while disabled.
    void record(MonitorEvent event);
    // Events newer than *seq (oldest first); *seq becomes the newest one's number.
    QVector<MonitorEvent> takeSince(quint64 *seq) const;
    void clear();
    int size() const;

private:
    std::atomic<bool> m_enabled{false};
    mutable std::mutex m_lock;
    std::deque<MonitorEvent> m_events;
    quint64 m_nextSeq = 1;
};

// The process's one log (one link per process).
LinkMonitorLog &linkMonitor();

// One line telling what a frame means: "addr 1 read block 2, 100 registers", "addr 1 answer
// to block 2: 100 registers", "addr 1 write register 74, 6 registers", "addr 1 exception 2
// (illegal data address) to function 16", ...; a Modbus TCP frame by its transaction and unit:
// "transaction 5 unit 1 read block 2, 100 registers".
QString describeFrame(const QByteArray &frame, bool fromHost, uint16_t requestStart,
                      MonitorFraming framing = MonitorFraming::Rtu);
// "exception 2 (illegal data address)"
QString exceptionName(uint8_t code);
// The monitor's line for an event: time, direction, hex and meaning.
QString formatMonitorLine(const MonitorEvent &event);
