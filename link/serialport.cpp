#include "serialport.h"

#include "platform.h"
#include "transaction.h"

#include <QElapsedTimer>

#include <algorithm>

namespace {

int64_t monotonicUs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed() / 1000;
}

int msUntil(int64_t deadlineUs) {
    // Rounded up, so that a wait never ends before its deadline; at least 1 ms.
    return static_cast<int>(std::max<int64_t>(1, (deadlineUs - monotonicUs() + 999) / 1000));
}

} // namespace

void applySerialLine(QSerialPort &port, const SerialLine &line) {
    port.setBaudRate(line.baudRate, QSerialPort::AllDirections);
    port.setDataBits(line.dataBits == 5   ? QSerialPort::Data5
                     : line.dataBits == 6 ? QSerialPort::Data6
                     : line.dataBits == 7 ? QSerialPort::Data7
                                          : QSerialPort::Data8);
    port.setParity(line.parity == SerialLine::NoParity    ? QSerialPort::NoParity
                   : line.parity == SerialLine::OddParity ? QSerialPort::OddParity
                                                          : QSerialPort::EvenParity);
    port.setStopBits(line.stopBits == 1.0f   ? QSerialPort::OneStop
                     : line.stopBits == 1.5f ? QSerialPort::OneAndHalfStop
                                             : QSerialPort::TwoStop);
}

QString openFailureReason(const QSerialPort &port) {
    const QString name = port.portName();
    const QString detail = port.errorString();
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("No such port: %1. Is the adapter plugged in?").arg(name);
    case QSerialPort::PermissionError:
        // Another program holds the port's lock file, or the user may not open the device.
        return detail.contains(QLatin1String("lock"), Qt::CaseInsensitive)
                   ? QStringLiteral("%1: port in use by another program.").arg(name)
                   : QStringLiteral("%1: no permission to open the port (%2).").arg(name, detail);
    case QSerialPort::OpenError:
        return QStringLiteral("%1: port in use by another program.").arg(name);
    default:
        return QStringLiteral("%1: %2.").arg(name, detail);
    }
}

SerialLinePort::SerialLinePort(const QString &portName, const SerialLine &line)
    : port_(std::make_unique<QSerialPort>()), line_(line) {
    port_->setPortName(portName);
    applySerialLine(*port_, line_);
    // Errors are reported inside the port's own waits, in this thread.
    QObject::connect(
        port_.get(), &QSerialPort::errorOccurred, port_.get(),
        [this](QSerialPort::SerialPortError e) { handleError(e); }, Qt::DirectConnection);
}

SerialLinePort::~SerialLinePort() {
    close();
}

bool SerialLinePort::open(QString *reason) {
    lost_ = false;
    if (port_->open(QIODevice::ReadWrite)) {
        port_->clear(QSerialPort::AllDirections);
        port_->clearError();
        return true;
    }
    if (reason)
        *reason = openFailureReason(*port_);
    return false;
}

void SerialLinePort::close() {
    if (port_->isOpen())
        port_->close();
    port_->clearError();
    lost_ = false;
}

bool SerialLinePort::isOpen() const {
    return port_->isOpen();
}

bool SerialLinePort::write(const uint8_t *bytes, int length, int64_t deadlineUs) {
    port_->write(reinterpret_cast<const char *>(bytes), length);
    // Handed to the device at once where it takes the bytes (a request nearly always fits its
    // buffer), without a wait for it to become writable first; waited for otherwise.
    port_->flush();
    if (port_->bytesToWrite() == 0 || port_->waitForBytesWritten(msUntil(deadlineUs)))
        return true;
    // Unsent bytes would otherwise go out in front of the next request.
    if (port_->isOpen())
        port_->clear(QSerialPort::Output);
    return false;
}

int SerialLinePort::readAvailable(QByteArray &into) {
    // What the device holds besides what the port has already taken in: without an event loop
    // the port takes bytes in only when asked.
    if (port_->bytesAvailable() == 0 && port_->isOpen() && !lost_)
        port_->waitForReadyRead(0);
    // Straight into the caller's array, without a temporary one.
    const qint64 available = port_->bytesAvailable();
    if (available <= 0)
        return 0;
    const int had = into.size();
    into.resize(had + static_cast<int>(available));
    const qint64 got = port_->read(into.data() + had, available);
    into.resize(had + static_cast<int>(std::max<qint64>(0, got)));
    return static_cast<int>(std::max<qint64>(0, got));
}

bool SerialLinePort::waitForBytes(int64_t deadlineUs) {
    if (port_->bytesAvailable() > 0)
        return true;
    if (!port_->isOpen() || lost_)
        return false;
    // The port's own wait: it returns as soon as bytes have been read or an error was
    // reported, without an event loop.
    return port_->waitForReadyRead(msUntil(deadlineUs)) || port_->bytesAvailable() > 0;
}

void SerialLinePort::discardInput() {
    if (!port_->isOpen())
        return;
    // Flushed only when bytes are held, here or in the driver. A terminal flushed or polled
    // with nothing in it first waits for its receive worker to finish handing over what it
    // holds: right after an answer, a sleep and a wake-up across processors, longer than a
    // whole read on a fast line. The driver's count of queued bytes costs no such wait.
    if (port_->bytesAvailable() > 0 || lost_ || serialBytesQueued(port_->handle()) != 0)
        port_->clear(QSerialPort::Input);
}

void SerialLinePort::discardOutput() {
    if (port_->isOpen())
        port_->clear(QSerialPort::Output);
}

QString SerialLinePort::errorText() const {
    return port_->errorString();
}

QString SerialLinePort::description() const {
    return QStringLiteral("%1, %2").arg(port_->portName(), line_.text());
}

int64_t SerialLinePort::nowUs() const {
    return monotonicUs();
}

bool SerialLinePort::setBaudRate(int baud) {
    if (!port_->setBaudRate(baud, QSerialPort::AllDirections))
        return false;
    line_.baudRate = baud;
    return true;
}

void SerialLinePort::handleError(QSerialPort::SerialPortError error) {
    // While the port is closed, errors belong to an open attempt, which reports them itself.
    if (!port_->isOpen())
        return;
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError: // a wait that ran out; the transaction handles it
        return;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        // A line whose other end hung up reads end-of-file, which Qt reports as a read error
        // and leaves its read notifier firing: the port is as good as gone either way, and a
        // reopen is the way back.
        if (!lost_)
            qCDebug(lcLink).noquote() << "Serial port lost:" << port_->errorString();
        lost_ = true;
        return;
    case QSerialPort::UnsupportedOperationError:
        // Some lines (pseudo-terminals, some adapters) refuse modem-control settings such as
        // DTR and RTS; the link works without them.
        qCDebug(lcLink).noquote() << "Serial setting not supported:" << port_->errorString();
        return;
    default:
        qCDebug(lcLink).noquote() << "Serial error:" << error << port_->errorString();
        return;
    }
}
