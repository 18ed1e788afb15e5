#include "tcpport.h"

#include "framecodec.h"
#include "pollplan.h"
#include "receiver.h"

#include <QElapsedTimer>
#include <QTcpSocket>

#include <algorithm>

TcpPort::TcpPort() = default;

TcpPort::~TcpPort() {
    close();
}

bool TcpPort::open(const QString &host, uint16_t port, int timeoutMs) {
    close();
    target_ = QStringLiteral("%1:%2")
                  .arg(host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']')
                                                       : host)
                  .arg(port);
    socket_ = std::make_unique<QTcpSocket>();
    // Requests are small and each waits for its answer: no coalescing delay.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QElapsedTimer clock;
    clock.start();
    socket_->connectToHost(host, port);
    if (!socket_->waitForConnected(std::max(1, timeoutMs))) {
        switch (socket_->error()) {
        case QAbstractSocket::ConnectionRefusedError:
            problem_ = QStringLiteral("%1: connection refused. Is the gateway on, and is this "
                                      "its TCP port?")
                           .arg(target_);
            break;
        case QAbstractSocket::HostNotFoundError:
            problem_ = QStringLiteral("%1: host not found. Is the name right?").arg(target_);
            break;
        case QAbstractSocket::SocketTimeoutError:
        case QAbstractSocket::NetworkError:
            problem_ =
                QStringLiteral("%1: host unreachable. Is the gateway on the network?").arg(target_);
            break;
        default:
            problem_ = QStringLiteral("%1: %2.").arg(target_, socket_->errorString());
            break;
        }
        socket_.reset();
        return false;
    }
    connectUs_ = clock.nsecsElapsed() / 1000;
    problem_.clear();
    lost_ = false;
    return true;
}

void TcpPort::close() {
    lost_ = false;
    if (!socket_)
        return;
    socket_->abort();
    socket_.reset();
}

bool TcpPort::isOpen() const {
    return socket_ && !lost_ && socket_->state() == QAbstractSocket::ConnectedState;
}

void TcpPort::noteLost() {
    if (lost_ || !socket_)
        return;
    lost_ = true;
    problem_ = socket_->error() == QAbstractSocket::RemoteHostClosedError ||
                       socket_->state() != QAbstractSocket::ConnectedState
                   ? QStringLiteral("%1: closed by the gateway.").arg(target_)
                   : QStringLiteral("%1: %2.").arg(target_, socket_->errorString());
    if (socket_->error() == QAbstractSocket::NetworkError)
        problem_ = QStringLiteral("%1: host unreachable.").arg(target_);
}

bool TcpPort::write(const QByteArray &bytes, int timeoutMs) {
    if (!isOpen())
        return false;
    if (socket_->write(bytes) != bytes.size()) {
        noteLost();
        return false;
    }
    while (socket_->bytesToWrite() > 0) {
        if (!socket_->waitForBytesWritten(std::max(1, timeoutMs))) {
            if (socket_->state() != QAbstractSocket::ConnectedState)
                noteLost();
            return false;
        }
    }
    return true;
}

bool TcpPort::read(QByteArray &out, int ms) {
    if (!isOpen())
        return false;
    if (socket_->bytesAvailable() == 0 && !socket_->waitForReadyRead(std::max(0, ms))) {
        // A time-out leaves the socket connected; anything else is the connection going.
        if (socket_->state() != QAbstractSocket::ConnectedState ||
            socket_->error() != QAbstractSocket::SocketTimeoutError)
            noteLost();
        return false;
    }
    out.append(socket_->readAll());
    if (socket_->state() != QAbstractSocket::ConnectedState)
        noteLost();
    return true;
}

void TcpPort::discardInput() {
    if (!isOpen())
        return;
    // Bytes that are already here, without waiting for more.
    socket_->waitForReadyRead(0);
    socket_->readAll();
    if (socket_->state() != QAbstractSocket::ConnectedState)
        noteLost();
}

void TcpPort::abandon(const QString &why) {
    problem_ = QStringLiteral("%1: %2.").arg(target_, why);
    lost_ = true;
    if (socket_)
        socket_->abort();
}

NetTiming netTiming(NetFramingKind framing, int respTimeoutMs, int64_t connectUs, int64_t charUs,
                    int maxAnswerBytes) {
    NetTiming t;
    if (framing == NetFramingKind::Mbap) {
        t.answerTimeoutMs = std::max(1, respTimeoutMs) + static_cast<int>((connectUs + 999) / 1000);
        t.gapMs = t.answerTimeoutMs;
        return t;
    }
    const RxTiming line = attemptTiming(respTimeoutMs, charUs, maxAnswerBytes);
    t.answerTimeoutMs = static_cast<int>((line.totalUs + 999) / 1000);
    t.gapMs = static_cast<int>((line.gapUs + 999) / 1000);
    return t;
}

NetOutcome netTransaction(TcpPort &port, NetFramingKind framing, MbapFraming &mbap,
                          const uint8_t *request, int length, const NetTiming &timing,
                          QByteArray *answer, int *staleBytes) {
    if (!port.isOpen())
        return NetOutcome::Lost;
    port.discardInput();
    const QByteArray out = framing == NetFramingKind::Mbap
                               ? mbap.encode(request, length)
                               : QByteArray(reinterpret_cast<const char *>(request), length);
    if (!port.write(out, timing.answerTimeoutMs))
        return port.isOpen() ? NetOutcome::NoAnswer : NetOutcome::Lost;

    RxExpect expect;
    expect.request = request;
    expect.requestLength = length;
    expect.addr = request[0];
    expect.func = request[1];
    expect.maxRegs = request[1] == kFunctionRead ? (request[4] << 8) | request[5] : 0;

    QElapsedTimer clock;
    clock.start();
    QByteArray received;
    bool quiet = false;
    for (;;) {
        if (framing == NetFramingKind::Mbap) {
            for (;;) {
                const int before = received.size();
                const MbapFraming::Take took = mbap.take(received, answer);
                if (took == MbapFraming::Take::Answer)
                    return NetOutcome::Answered;
                if (took == MbapFraming::Take::Broken) {
                    // Out of step with the gateway: only a new connection brings it back.
                    port.abandon(QStringLiteral("answers that are no Modbus TCP"));
                    return NetOutcome::Lost;
                }
                if (took != MbapFraming::Take::Stale)
                    break;
                if (staleBytes)
                    *staleBytes += before - received.size();
            }
        } else {
            const auto *bytes = reinterpret_cast<const uint8_t *>(received.constData());
            const RxScan scan = scanReceived(bytes, received.size(), expect, quiet);
            if (scan.state == RxState::Answer || scan.state == RxState::Foreign) {
                *answer = received.mid(scan.skipped, scan.length);
                return NetOutcome::Answered;
            }
            if (scan.skipped > 0) {
                if (staleBytes)
                    *staleBytes += scan.skipped - scan.echoBytes;
                received.remove(0, scan.skipped);
            }
        }
        const int left = timing.answerTimeoutMs - static_cast<int>(clock.elapsed());
        if (left <= 0)
            return NetOutcome::NoAnswer;
        const int slice = received.isEmpty() ? left : std::min(left, timing.gapMs);
        quiet = !port.read(received, slice) && !received.isEmpty();
        if (!port.isOpen())
            return NetOutcome::Lost;
    }
}
