#pragma once
// The link's way to a serial-to-Ethernet gateway: a TCP connection (QTcpSocket) used the way
// the link uses its serial port, blocking, from the link's own thread: connect, write a
// request, wait for bytes, read them. The gateway speaks Modbus TCP (MBAP header) or passes
// the serial line's RTU frames through unchanged; netTransaction() runs one request over
// either. A connection that goes is reported as lost, with the reason in words an operator
// can act on, and is opened again like a lost serial port.

#include "mbapframing.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

class QTcpSocket;

enum class NetFramingKind : uint8_t { Mbap, RtuOverTcp };

class TcpPort {
public:
    TcpPort();
    ~TcpPort();

    // Connects to host:port within timeoutMs; the time the connection took is the network's
    // round trip (connectMicros). False, with problem(), when it could not.
    bool open(const QString &host, uint16_t port, int timeoutMs);
    void close();
    // Connected, and the connection has not gone since.
    bool isOpen() const;
    // The connection went while open (closed by the gateway, reset, unreachable), until
    // close() or the next open().
    bool lost() const { return lost_; }
    // Why the last open failed or the connection went: "127.0.0.1:5020: connection refused",
    // "... host unreachable", "... closed by the gateway".
    QString problem() const { return problem_; }
    int64_t connectMicros() const { return connectUs_; }

    // Writes bytes and waits, at most timeoutMs, until they are handed to the network.
    bool write(const QByteArray &bytes, int timeoutMs);
    // Waits at most ms for bytes and appends what came to out; false when none came.
    bool read(QByteArray &out, int ms);
    // Throws away whatever has been received and not read.
    void discardInput();
    // Gives the connection up as lost, for why (the gateway's bytes cannot be followed).
    void abandon(const QString &why);

private:
    void noteLost();

    std::unique_ptr<QTcpSocket> socket_;
    QString target_;
    QString problem_;
    int64_t connectUs_ = 0;
    bool lost_ = false;
};

// How one request over the network ended.
enum class NetOutcome { Answered, NoAnswer, Lost };

struct NetTiming {
    int answerTimeoutMs = 100; // for the whole answer, from the request's leaving
    int gapMs = 20;            // RTU over TCP: a pause this long ends the answer's bytes
};
// Modbus TCP: respTimeoutMs plus the round trip measured at connect, for the whole answer (the
// network delivers it at once). RTU over TCP: the serial line's rule behind the gateway,
// respTimeoutMs for the first byte plus the answer's wire time at charUs and a margin.
NetTiming netTiming(NetFramingKind framing, int respTimeoutMs, int64_t connectUs, int64_t charUs,
                    int maxAnswerBytes);

// Sends the RTU request (address, PDU, CRC) through port with the framing, one attempt, and
// waits for its answer: *answer holds it in RTU form (CRC included) when Answered. Answers to
// earlier requests (Modbus TCP: another transaction identifier) are dropped and counted in
// *staleBytes. A stream that can no longer be followed counts as lost: the connection is
// closed, to be opened again.
NetOutcome netTransaction(TcpPort &port, NetFramingKind framing, MbapFraming &mbap,
                          const uint8_t *request, int length, const NetTiming &timing,
                          QByteArray *answer, int *staleBytes = nullptr);
