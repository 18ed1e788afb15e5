#include "tcpport.h"

#include "mbapframing.h"

#include <QTcpSocket>

#include <algorithm>

namespace {

int msUntil(int64_t deadlineUs, int64_t nowUs) {
    return static_cast<int>(std::max<int64_t>(0, (deadlineUs - nowUs + 999) / 1000));
}

} // namespace

TcpLinkPort::TcpLinkPort(const QString &host, uint16_t port, NetFramingKind framing,
                         std::shared_ptr<std::atomic<int64_t>> roundTripUs)
    : host_(host), port_(port), framing_(framing), roundTrip_(std::move(roundTripUs)) {
    clock_.start();
    target_ = QStringLiteral("%1:%2")
                  .arg(host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']')
                                                       : host)
                  .arg(port);
}

TcpLinkPort::~TcpLinkPort() {
    close();
}

QString TcpLinkPort::description() const {
    return QStringLiteral("%1, %2").arg(target_, framing_ == NetFramingKind::Mbap
                                                     ? QStringLiteral("Modbus TCP")
                                                     : QStringLiteral("RTU over TCP"));
}

bool TcpLinkPort::open(QString *reason) {
    close();
    socket_ = std::make_unique<QTcpSocket>();
    // Requests are small and each waits for its answer: no coalescing delay.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    const int64_t started = nowUs();
    socket_->connectToHost(host_, port_);
    if (!socket_->waitForConnected(kConnectTimeoutMs)) {
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
        if (reason)
            *reason = problem_;
        return false;
    }
    connectUs_ = nowUs() - started;
    if (roundTrip_)
        roundTrip_->store(connectUs_);
    problem_.clear();
    lost_ = false;
    return true;
}

void TcpLinkPort::close() {
    lost_ = false;
    if (!socket_)
        return;
    socket_->abort();
    socket_.reset();
}

bool TcpLinkPort::isOpen() const {
    return socket_ && !lost_;
}

void TcpLinkPort::noteLost() {
    if (lost_ || !socket_)
        return;
    lost_ = true;
    switch (socket_->error()) {
    case QAbstractSocket::NetworkError:
        problem_ = QStringLiteral("%1: host unreachable.").arg(target_);
        break;
    case QAbstractSocket::RemoteHostClosedError:
    case QAbstractSocket::SocketTimeoutError:
    case QAbstractSocket::UnknownSocketError:
        problem_ = QStringLiteral("%1: closed by the gateway.").arg(target_);
        break;
    default:
        problem_ = QStringLiteral("%1: %2.").arg(target_, socket_->errorString());
        break;
    }
}

bool TcpLinkPort::write(const uint8_t *bytes, int length, int64_t deadlineUs) {
    if (!isOpen())
        return false;
    if (socket_->write(reinterpret_cast<const char *>(bytes), length) != length) {
        noteLost();
        return false;
    }
    while (socket_->bytesToWrite() > 0) {
        if (!socket_->waitForBytesWritten(std::max(1, msUntil(deadlineUs, nowUs())))) {
            if (socket_->state() != QAbstractSocket::ConnectedState)
                noteLost();
            return false;
        }
    }
    return true;
}

int TcpLinkPort::readAvailable(QByteArray &into) {
    if (!isOpen())
        return 0;
    // Without an event loop the socket learns of new bytes only when asked.
    if (socket_->bytesAvailable() == 0)
        socket_->waitForReadyRead(0);
    const QByteArray got = socket_->readAll();
    into.append(got);
    if (socket_->state() != QAbstractSocket::ConnectedState)
        noteLost();
    return got.size();
}

bool TcpLinkPort::waitForBytes(int64_t deadlineUs) {
    if (!isOpen())
        return false;
    if (socket_->bytesAvailable() > 0)
        return true;
    if (socket_->waitForReadyRead(msUntil(deadlineUs, nowUs())))
        return true;
    // A time-out leaves the connection as it was; anything else is the connection going.
    if (socket_->state() != QAbstractSocket::ConnectedState ||
        socket_->error() != QAbstractSocket::SocketTimeoutError)
        noteLost();
    return false;
}

void TcpLinkPort::discardInput() {
    QByteArray dropped;
    readAvailable(dropped);
}

TransactionTiming networkTiming(NetFramingKind framing, int respTimeoutMs, int64_t roundTripUs,
                                const SerialLine &line, int maxAnswerBytes) {
    if (framing == NetFramingKind::RtuOverTcp)
        return serialTiming(respTimeoutMs, line.charMicros(), maxAnswerBytes);
    constexpr int64_t kMarginUs = 20000; // scheduling on either end
    TransactionTiming t;
    t.wait.firstByteUs = int64_t(std::max(1, respTimeoutMs)) * 1000 + roundTripUs;
    // The answer says its own length: a pause inside it does not end it.
    t.wait.gapUs = t.wait.firstByteUs;
    t.wait.totalUs = t.wait.firstByteUs + kMarginUs;
    t.writeUs = int64_t(std::max(1, respTimeoutMs)) * 1000;
    return t;
}

LinkSetup networkLinkSetup(const QString &host, uint16_t port, NetFramingKind framing,
                           const SerialLine &line) {
    LinkSetup s;
    s.portName = host;
    s.line = line;
    // As the operator names a gateway: "10.0.0.5:502 (Modbus TCP)", "[::1]:502 (RTU over TCP)".
    s.name = QStringLiteral("%1:%2 (%3)")
                 .arg(host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']')
                                                      : host)
                 .arg(port)
                 .arg(framing == NetFramingKind::Mbap ? QStringLiteral("Modbus TCP")
                                                      : QStringLiteral("RTU over TCP"));
    auto roundTrip = std::make_shared<std::atomic<int64_t>>(0);
    s.makePort = [host, port, framing, roundTrip]() -> std::unique_ptr<LinkPort> {
        return std::make_unique<TcpLinkPort>(host, port, framing, roundTrip);
    };
    s.makeFraming = [framing]() -> std::unique_ptr<Framing> {
        if (framing == NetFramingKind::Mbap)
            return std::make_unique<MbapFraming>();
        return std::make_unique<RtuFraming>();
    };
    s.timing = [framing, roundTrip, line](int respTimeoutMs, int maxAnswerBytes) {
        return networkTiming(framing, respTimeoutMs, roundTrip->load(), line, maxAnswerBytes);
    };
    return s;
}
