#pragma once
// The link's port to a serial-to-Ethernet gateway: a TCP connection (QTcpSocket), used
// blocking from the link's own thread like the serial port. The gateway speaks Modbus TCP
// (MbapFraming) or passes the serial line's RTU frames through unchanged (RtuFraming). A
// connection that goes is lost, with the reason in words an operator can act on ("connection
// refused", "host unreachable", "closed by the gateway"), and the link opens it again like a
// lost serial port. The time the connection took to set up is the network's round trip,
// which the Modbus TCP answer time-out adds to the response time-out.

#include "linesettings.h"
#include "linkport.h"
#include "linksetup.h"

#include <QElapsedTimer>

#include <atomic>
#include <memory>

class QTcpSocket;

enum class NetFramingKind : uint8_t { Mbap, RtuOverTcp };

class TcpLinkPort : public LinkPort {
public:
    // roundTripUs (may be null): where the round trip measured at each connect is kept.
    TcpLinkPort(const QString &host, uint16_t port, NetFramingKind framing,
                std::shared_ptr<std::atomic<int64_t>> roundTripUs = nullptr);
    ~TcpLinkPort() override;

    bool open(QString *reason) override;
    void close() override;
    bool isOpen() const override;
    bool write(const uint8_t *bytes, int length, int64_t deadlineUs) override;
    int readAvailable(QByteArray &into) override;
    bool waitForBytes(int64_t deadlineUs) override;
    void discardInput() override;
    void discardOutput() override {} // a request is handed to the network whole
    bool lost() const override { return lost_; }
    QString errorText() const override { return problem_; }
    QString description() const override;
    int64_t nowUs() const override { return clock_.nsecsElapsed() / 1000; }

    int64_t connectMicros() const { return connectUs_; }
    static constexpr int kConnectTimeoutMs = 2000;

private:
    void noteLost();

    std::unique_ptr<QTcpSocket> socket_;
    QString host_;
    uint16_t port_ = 0;
    NetFramingKind framing_;
    std::shared_ptr<std::atomic<int64_t>> roundTrip_;
    QElapsedTimer clock_;
    QString target_; // "host:port"
    QString problem_;
    int64_t connectUs_ = 0;
    bool lost_ = false;
};

// The timing over a gateway. Modbus TCP: respTimeoutMs plus the round trip measured at
// connect for the answer, which the network delivers at once; late answers need no drain (the
// framing tells them by their transaction identifier). RTU over TCP: the rule of the serial
// line behind the gateway (line).
TransactionTiming networkTiming(NetFramingKind framing, int respTimeoutMs, int64_t roundTripUs,
                                const SerialLine &line, int maxAnswerBytes);

// The link started on a gateway: its port, framing and timing. line: the serial line behind
// an RTU-over-TCP gateway, for its wire times.
LinkSetup networkLinkSetup(const QString &host, uint16_t port, NetFramingKind framing,
                           const SerialLine &line);
