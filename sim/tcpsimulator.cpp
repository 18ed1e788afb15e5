#include "tcpsimulator.h"

#include "framecodec.h"
#include "simcontroller.h"
#include "simframer.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>

Q_LOGGING_CATEGORY(lcSimTcp, "vaduz.sim.tcp", QtInfoMsg)

namespace {

constexpr int kModelStepMs = 100;
constexpr int kMaxLogged = 10000;
constexpr int kMbapHeader = 7;      // transaction (2), protocol (2), length (2), unit (1)
constexpr int kMaxMbapLength = 254; // unit identifier and the largest PDU

QByteArray withCrc(QByteArray frame) {
    const uint16_t crc =
        crc16(0xFFFF, reinterpret_cast<const uint8_t *>(frame.constData()), frame.size());
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

} // namespace

struct TcpSimulator::Impl {
    mutable std::mutex mutex; // the controller, the faults, the log and the error text
    SimController controller;
    SimFaults faults;
    QList<QByteArray> log;
    QString error;

    std::atomic<int> requests{0};
    std::atomic<int> answers{0};
    std::atomic<int> connections{0};
    std::atomic<int> dropConnectionEvery{0};
    std::atomic<int> dropCounter{0};
    std::atomic<bool> hangUpArmed{false};
    std::atomic<uint16_t> port{0};
    Framing framing = Framing::Mbap;
    std::unique_ptr<QThread> thread;

    void serve(uint16_t wanted, std::promise<bool> &ready);
    void accept(QTcpSocket *socket);
    void received(QTcpSocket *socket, QByteArray &pending, SimFramer &framer, int &served);
    // The controller's answer (RTU form) to one request, with the fault that decides whether
    // the connection goes; empty for silence.
    QByteArray answer(const QByteArray &rtuRequest, bool *dropConnection, SimFaults *faults);
    void send(QTcpSocket *socket, const QByteArray &bytes, const SimFaults &faults);
};

void TcpSimulator::Impl::serve(uint16_t wanted, std::promise<bool> &ready) {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, wanted)) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            error = server.errorString();
        }
        ready.set_value(false);
        return;
    }
    port.store(server.serverPort());
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket *socket = server.nextPendingConnection())
            accept(socket);
    });
    QTimer model;
    auto last = std::chrono::steady_clock::now();
    QObject::connect(&model, &QTimer::timeout, &server, [this, &last] {
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        controller.advance(static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count()));
        last = now;
    });
    model.start(kModelStepMs);
    ready.set_value(true);
    QEventLoop loop;
    loop.exec(); // until the thread is asked to quit
    // The sockets are the server's children: they close with it.
}

void TcpSimulator::Impl::accept(QTcpSocket *socket) {
    connections.fetch_add(1);
    qCDebug(lcSimTcp) << "connection from" << socket->peerAddress().toString()
                      << socket->peerPort();
    // Per connection: bytes not yet a whole request, the RTU framer, requests served.
    auto pending = std::make_shared<QByteArray>();
    auto framer = std::make_shared<SimFramer>();
    auto served = std::make_shared<int>(0);
    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                     [=] { received(socket, *pending, *framer, *served); });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void TcpSimulator::Impl::received(QTcpSocket *socket, QByteArray &pending, SimFramer &framer,
                                  int &served) {
    const QByteArray bytes = socket->readAll();
    // Each request with the answer's framing: what the reply's header must carry.
    struct Request {
        QByteArray rtu;
        QByteArray mbapHeader; // transaction and protocol identifiers (Modbus TCP only)
    };
    QList<Request> got;
    if (framing == Framing::Rtu) {
        const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData());
        for (const QByteArray &frame :
             framer.feed(p, bytes.size(), std::chrono::steady_clock::now()))
            got.append({frame, {}});
    } else {
        pending.append(bytes);
        while (pending.size() >= kMbapHeader) {
            const auto *p = reinterpret_cast<const uint8_t *>(pending.constData());
            const int length = (p[4] << 8) | p[5];
            if (p[2] != 0 || p[3] != 0 || length < 2 || length > kMaxMbapLength) {
                // Not Modbus TCP: a gateway closes such a connection.
                qCDebug(lcSimTcp) << "not an MBAP header:" << pending.left(8).toHex(' ');
                socket->disconnectFromHost();
                return;
            }
            if (pending.size() < 6 + length)
                break;
            got.append({withCrc(pending.mid(6, length)), pending.left(4)});
            pending.remove(0, 6 + length);
        }
    }
    for (const Request &r : got) {
        ++served;
        const int every = dropConnectionEvery.load();
        bool drop = every > 0 && served % every == 0;
        SimFaults f;
        const QByteArray rtuAnswer = answer(r.rtu, &drop, &f);
        if (drop) {
            qCDebug(lcSimTcp) << "connection dropped at request" << r.rtu.toHex(' ');
            socket->disconnectFromHost();
            return;
        }
        if (rtuAnswer.isEmpty())
            continue;
        if (framing == Framing::Rtu) {
            send(socket, rtuAnswer, f);
            continue;
        }
        // Modbus TCP: the answer's PDU under the request's header, the CRC left off. A corrupt
        // answer names another transaction; a stray byte goes in front of it.
        const int body = rtuAnswer.size() - 2;
        if (body < 2)
            continue;
        QByteArray reply = r.mbapHeader;
        if (f.corruptCrc)
            reply[1] = static_cast<char>(reply.at(1) ^ 0x5A);
        reply.append(static_cast<char>(body >> 8)).append(static_cast<char>(body & 0xFF));
        reply.append(rtuAnswer.left(body));
        if (f.strayByte)
            reply.prepend('\0');
        send(socket, reply, f);
    }
}

QByteArray TcpSimulator::Impl::answer(const QByteArray &rtuRequest, bool *dropConnection,
                                      SimFaults *faults) {
    QByteArray out;
    {
        std::lock_guard<std::mutex> lock(mutex);
        log.append(rtuRequest);
        if (log.size() > kMaxLogged)
            log.removeFirst();
        *faults = this->faults;
        if (hangUpArmed.exchange(false)) {
            this->faults.hangUp = false;
            *dropConnection = true;
        }
        if (!*dropConnection && !faults->silent) {
            // Over Modbus TCP the garbage faults are the framing's own (see send's caller).
            if (framing == Framing::Mbap) {
                SimFaults bytesOnly = *faults;
                bytesOnly.corruptCrc = bytesOnly.strayByte = false;
                controller.setFaults(bytesOnly);
            }
            out = controller.respond(rtuRequest);
        }
    }
    requests.fetch_add(1);
    if (!out.isEmpty() && faults->dropEvery > 0 &&
        (dropCounter.fetch_add(1) + 1) % faults->dropEvery == 0)
        out.clear();
    return out;
}

void TcpSimulator::Impl::send(QTcpSocket *socket, const QByteArray &bytes, const SimFaults &f) {
    const int pieces = std::max(1, std::min(f.splitPieces, static_cast<int>(bytes.size())));
    const int delay = std::max(0, f.delayMs);
    const QPointer<QTcpSocket> guard(socket);
    for (int i = 0; i < pieces; ++i) {
        const int from = bytes.size() * i / pieces;
        const QByteArray piece = bytes.mid(from, bytes.size() * (i + 1) / pieces - from);
        const bool last = i == pieces - 1;
        auto write = [this, guard, piece, last] {
            if (!guard || guard->state() != QAbstractSocket::ConnectedState)
                return;
            guard->write(piece);
            if (last)
                answers.fetch_add(1);
        };
        const int at = delay + i * std::max(0, f.splitGapMs);
        if (at == 0)
            write();
        else
            QTimer::singleShot(at, socket, write);
    }
}

// ------------------------------------------------------------------------------------------

TcpSimulator::TcpSimulator() : d(std::make_unique<Impl>()) {}

TcpSimulator::~TcpSimulator() {
    stop();
}

bool TcpSimulator::start(uint16_t port, Framing framing) {
    if (isRunning())
        return true;
    d->framing = framing;
    std::promise<bool> ready;
    std::future<bool> started = ready.get_future();
    d->thread.reset(QThread::create([this, port, &ready] { d->serve(port, ready); }));
    d->thread->start();
    if (!started.get()) {
        d->thread->wait();
        d->thread.reset();
        return false;
    }
    return true;
}

void TcpSimulator::stop() {
    if (!d->thread)
        return;
    d->thread->quit();
    d->thread->wait();
    d->thread.reset();
}

bool TcpSimulator::isRunning() const {
    return d->thread && d->thread->isRunning();
}

uint16_t TcpSimulator::port() const {
    return d->port.load();
}

TcpSimulator::Framing TcpSimulator::framing() const {
    return d->framing;
}

QString TcpSimulator::errorString() const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->error;
}

void TcpSimulator::setAddress(uint8_t addr) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setAddress(addr);
}

void TcpSimulator::setAnswerAll(bool all) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setAnswerAll(all);
}

void TcpSimulator::setDistinct(bool distinct) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setDistinct(distinct);
}

void TcpSimulator::setDeviceCount(uint8_t n) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setDeviceCount(n);
}

void TcpSimulator::setBadRequestReply(bool exception) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setBadRequestReply(exception ? SimController::BadRequestReply::Exception
                                               : SimController::BadRequestReply::Silence);
}

void TcpSimulator::setFrozen(bool frozen) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setFrozen(frozen);
}

void TcpSimulator::setFaults(const SimFaults &faults) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults = faults;
    d->controller.setFaults(faults);
    d->dropCounter = 0;
    d->hangUpArmed.store(faults.hangUp);
}

void TcpSimulator::setDropConnectionEvery(int k) {
    d->dropConnectionEvery.store(std::max(0, k));
}

int16_t TcpSimulator::reg(int block, int reg) const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->controller.reg(block, reg);
}

void TcpSimulator::setReg(int block, int reg, int16_t value) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setReg(block, reg, value);
}

uint16_t TcpSimulator::writtenRegister(int n) const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->controller.writtenRegister(n);
}

QList<QByteArray> TcpSimulator::requests() const {
    std::lock_guard<std::mutex> lock(d->mutex);
    QList<QByteArray> copy;
    for (const QByteArray &r : d->log)
        copy.append(QByteArray(r.constData(), r.size()));
    return copy;
}

void TcpSimulator::clearRequests() {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log.clear();
}

int TcpSimulator::requestCount() const {
    return d->requests.load();
}

int TcpSimulator::answerCount() const {
    return d->answers.load();
}

int TcpSimulator::connectionCount() const {
    return d->connections.load();
}
