#include "battertstackthread.h"

#include "pollplan.h"
#include "serialsettings.h"
#include "systick.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcLink, "vaduz.link")
Q_LOGGING_CATEGORY(lcLinkFrames, "vaduz.link.frames")

namespace {

constexpr int kAttempts = 3;
constexpr int kMaxDrainTimeouts = 5; // longest wait for late answers, in response time-outs

void logFrame(const char *direction, const uint8_t *bytes, int length) {
    if (!lcLinkFrames().isDebugEnabled())
        return;
    const QByteArray hex =
        QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), length).toHex(' ');
    qCDebug(lcLinkFrames).noquote() << currentTick() << direction << length << hex;
}

// Sets the status text unless it already reads so, so the window repaints only on a change.
void showStatus(const char *text) {
    char current[kStatusTextSize];
    readStatusText(current);
    if (std::strcmp(current, text) != 0)
        setStatusText(text);
}

} // namespace

Battert_Stack_Thread::Battert_Stack_Thread(QObject *parent) : QThread(parent) {}

Battert_Stack_Thread::~Battert_Stack_Thread() {
    stopLink();
}

void Battert_Stack_Thread::startLink() {
    linkRunning.store(1, std::memory_order_release);
    portEnabled.store(1, std::memory_order_release);
    if (!isRunning())
        start();
}

void Battert_Stack_Thread::stopLink() {
    portEnabled.store(0, std::memory_order_release);
    linkRunning.store(0, std::memory_order_release);
    // quit() also ends a transaction's local wait; the transaction then sees linkRunning
    // cleared and sends no further attempt.
    quit();
    wait();
}

LinkStats Battert_Stack_Thread::stats() const {
    LinkStats s;
    s.readsOk = readsOk.load();
    s.readsFailed = readsFailed.load();
    s.writesOk = writesOk.load();
    s.writesFailed = writesFailed.load();
    s.requestsSent = requestsSent.load();
    s.lastReadMicros = lastReadMicros.load();
    s.readMicrosTotal = readMicrosTotal.load();
    s.portOpens = portOpens.load();
    s.portLosses = portLosses.load();
    return s;
}

void Battert_Stack_Thread::run() {
    port = std::make_unique<QSerialPort>();
    // The port lives in this thread while the thread object lives in the GUI thread: both
    // handlers must run here, inside the wait of the transaction in progress.
    connect(port.get(), &QSerialPort::readyRead, this, &Battert_Stack_Thread::handleReadyRead,
            Qt::DirectConnection);
    connect(port.get(), &QSerialPort::errorOccurred, this, &Battert_Stack_Thread::handlePortError,
            Qt::DirectConnection);
    rxAccum.clear();
    openFailed = false;
    openRetryArmed = false;
    portLost = false;

    while (linkRunning.load(std::memory_order_acquire)) {
        openOrClosePort(portEnabled.load(std::memory_order_acquire) != 0);
        if (port->isOpen())
            loopStep();
        if (portLost) {
            // The device is gone (adapter unplugged, pseudo-terminal closed). Close it so the
            // open path retries and the link resumes by itself once the port is back.
            qCDebug(lcLink).noquote() << "Serial closed:" << port->errorString();
            if (port->isOpen())
                port->close();
            port->clearError();
            portLost = false;
            rxAccum.clear();
            portLosses.fetch_add(1);
        }
        QThread::msleep(1);
    }

    if (port->isOpen())
        port->close();
    if (openFailed)
        showStatus("Idle");
    port.reset();
}

void Battert_Stack_Thread::openOrClosePort(bool wantOpen) {
    if (!port)
        return;
    if (wantOpen && !port->isOpen()) {
        if (openRetryArmed && timerElapsed(&openRetryTimer) < kOpenRetryTicks)
            return;
        applyPortSettings();
        if (port->open(QIODevice::ReadWrite)) {
            qCDebug(lcLink) << "Serial opened on thread:" << QThread::currentThread();
            port->clear(QSerialPort::AllDirections);
            if (openFailed)
                showStatus("Idle");
            openFailed = false;
            openRetryArmed = false;
            portOpens.fetch_add(1);
        } else {
            qCDebug(lcLink).noquote() << "Serial open failed:" << port->errorString();
            port->clearError();
            if (!openFailed)
                showStatus("Serial open failed");
            openFailed = true;
            openRetryArmed = true;
            timerStart(&openRetryTimer);
        }
    } else if (!wantOpen && port->isOpen()) {
        port->close();
        qCDebug(lcLink) << "Serial closed";
    }
}

void Battert_Stack_Thread::applyPortSettings() {
    const SerialSettings settings = serialSettings();
    port->setBaudRate(settings.baudRate, QSerialPort::AllDirections);

    switch (settings.dataBits) {
    case 5:
        port->setDataBits(QSerialPort::Data5);
        break;
    case 6:
        port->setDataBits(QSerialPort::Data6);
        break;
    case 7:
        port->setDataBits(QSerialPort::Data7);
        break;
    default:
        port->setDataBits(QSerialPort::Data8);
        break;
    }

    if (settings.stopBits == 1.0f)
        port->setStopBits(QSerialPort::OneStop);
    else if (settings.stopBits == 1.5f)
        port->setStopBits(QSerialPort::OneAndHalfStop);
    else
        port->setStopBits(QSerialPort::TwoStop);

    switch (settings.checkBit) {
    case 0:
        port->setParity(QSerialPort::NoParity);
        break;
    case 1:
        port->setParity(QSerialPort::OddParity);
        break;
    default:
        port->setParity(QSerialPort::EvenParity);
        break;
    }

    // The settings window stores "name:description"; the port name is the part before the
    // first colon.
    port->setPortName(settings.comName.split(QLatin1Char(':')).first());
}

void Battert_Stack_Thread::loopStep() {
    const int32_t op = linkOp.load(std::memory_order_acquire);
    if (op != lastLinkOp) {
        lastLinkOp = op;
        timerStart(&pollTimer);
        discardInput();
    }

    const int32_t mode = pollMode.load(std::memory_order_acquire);
    if (mode != lastPollMode) {
        lastPollMode = mode;
        if (port->bytesAvailable() > 0)
            port->clear(QSerialPort::Input);
        port->clear(QSerialPort::Output);
        timerStart(&pollTimer);
        enterPollMode(mode);
    }

    const uint32_t period = static_cast<uint32_t>(std::max<int32_t>(1, pollPeriod.load()));
    if (timerExpired(&pollTimer, period) == 0 && linkOp.load(std::memory_order_acquire) == 0)
        pollPlan(mode);

    if (statusHold && timerElapsed(&statusTimer) >= kStatusHoldTicks)
        statusHold = false;

    switch (linkOp.load(std::memory_order_acquire)) {
    case 0:
        if (readPending.load(std::memory_order_acquire) == 1)
            readTransaction(funcCode.load(), startAddr.load(), regCount.load());
        break;
    case 1:
        stagedWriteTransaction();
        break;
    case 2:
        writeListTransaction();
        break;
    case 3:
        writeListToAllTransaction();
        break;
    default:
        break;
    }
}

void Battert_Stack_Thread::discardInput() {
    port->clear(QSerialPort::Input);
    rxAccum.clear();
}

int Battert_Stack_Thread::sendAndWait(const uint8_t *bytes, int length, int timeout,
                                      QByteArray &accumulator) {
    if (!port || !port->isOpen() || portLost)
        return -1;
    // One accumulator for all attempts: a slow answer to attempt 1 completes attempt 2.
    accumulator.clear();
    frameDone = false;
    frameFailed = false;
    // Every attempt sent and not answered may still be answered later, into the next
    // transaction.
    int sent = 0;
    auto finish = [this, &sent](int result) {
        lateAnswers = portLost ? 0 : sent - (result == 0 ? 1 : 0);
        return result;
    };

    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        // Disconnect: no further attempts once the link is stopped.
        if (!linkRunning.load(std::memory_order_acquire))
            return finish(-1);

        logFrame("SEND:", bytes, length);
        requestsSent.fetch_add(1);
        ++sent;
        port->write(reinterpret_cast<const char *>(bytes), length);
        if (!port->waitForBytesWritten(timeout)) {
            if (portLost)
                return finish(-1);
            // Unsent bytes would otherwise go out in front of the next attempt's request.
            port->clear(QSerialPort::Output);
            continue;
        }

        // Writing may already have processed the answer.
        if (!frameDone && !frameFailed && !portLost) {
            QEventLoop loop;
            QTimer timer;
            timer.setSingleShot(true);
            timer.setTimerType(Qt::PreciseTimer);
            connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
            connect(this, &Battert_Stack_Thread::frameReceived, &loop, &QEventLoop::quit);
            timer.start(timeout);
            waitLoop = &loop;
            loop.exec();
            waitLoop = nullptr;
        }

        if (frameDone) {
            frameDone = false;
            return finish(0);
        }
        if (frameFailed || portLost)
            return finish(-1);
    }
    return finish(-1);
}

void Battert_Stack_Thread::drainLateAnswers() {
    const bool expected = lateAnswers > 0;
    lateAnswers = 0;
    if (!expected || !port || !port->isOpen() || portLost)
        return;
    // A read answer carries no block number: a late answer to the last request, taken by the
    // next one, would land one block's values in another's cells. Listen until the line has
    // been quiet for two time-outs (late answers follow each other, and the answer that ended
    // the transaction, at the attempts' spacing of one time-out), at most a few time-outs in
    // all, and throw away what comes.
    const int timeout = std::max(1, respTimeout.load());
    const int quiet = 2 * timeout;
    draining = true;
    discardInput();
    QElapsedTimer total;
    total.start();
    for (;;) {
        const quint64 before = drainedBytes;
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(quiet);
        waitLoop = &loop;
        loop.exec();
        waitLoop = nullptr;
        if (drainedBytes == before || total.elapsed() >= kMaxDrainTimeouts * timeout || portLost ||
            !linkRunning.load(std::memory_order_acquire))
            break;
    }
    draining = false;
    discardInput();
}

void Battert_Stack_Thread::handleReadyRead() {
    if (!port)
        return;
    if (draining) {
        const QByteArray late = port->readAll();
        if (!late.isEmpty())
            qCDebug(lcLink).noquote() << "Late answer dropped:" << late.left(16).toHex(' ');
        drainedBytes += static_cast<quint64>(late.size());
        return;
    }
    rxAccum.append(port->readAll());

    const auto *bytes = reinterpret_cast<const uint8_t *>(rxAccum.constData());
    if (rxAccum.size() <= kFrameBufSize - rxLen && isFrameComplete(bytes, rxAccum.size()) &&
        answersAnotherRequest(bytes, rxAccum.size())) {
        // A late answer to an earlier request (a slow controller answers every attempt):
        // taking it would confirm this request with another one's echo. Keep waiting for
        // this request's own answer.
        qCDebug(lcLink).noquote() << "Answer to another request dropped:"
                                  << rxAccum.left(16).toHex(' ');
        rxAccum.clear();
        return;
    }
    // Bytes are only ever tested as one run from the first byte received, so a run longer
    // than the room left in rxBuf can never become a frame that fits: drop it and fail the
    // transaction instead of writing past the buffer.
    switch (acceptReceivedRun(bytes, rxAccum.size(), rxBuf, &rxLen)) {
    case RxRun::Incomplete:
        return;
    case RxRun::Overflow:
        qCDebug(lcLink).noquote() << "Frame dropped:" << rxAccum.size()
                                  << "bytes do not fit the receive buffer:"
                                  << rxAccum.left(32).toHex(' ') << "...";
        rxAccum.clear();
        frameFailed = true;
        if (waitLoop)
            waitLoop->quit();
        return;
    case RxRun::Complete:
        break;
    }
    logFrame("RECV:", bytes, rxAccum.size());
    frameDone = true;
    emit frameReceived();
    rxAccum.clear();
}

void Battert_Stack_Thread::handlePortError(QSerialPort::SerialPortError error) {
    // While the port is closed, errors belong to an open attempt, which logs them itself.
    if (!port || !port->isOpen())
        return;
    switch (error) {
    case QSerialPort::NoError:
        return;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        // A line whose other end hung up reads end-of-file, which Qt reports as a read error
        // and leaves its read notifier firing: the port is as good as gone either way, and a
        // reopen is the way back.
        if (!portLost)
            qCDebug(lcLink).noquote() << "Serial port lost:" << port->errorString();
        portLost = true;
        if (waitLoop)
            waitLoop->quit();
        return;
    case QSerialPort::UnsupportedOperationError:
        // Some lines (pseudo-terminals, some adapters) refuse modem-control settings such as
        // DTR and RTS; the link works without them.
        qCDebug(lcLink).noquote() << "Serial setting not supported:" << port->errorString();
        return;
    case QSerialPort::TimeoutError:
        return; // a wait that ran out; the transaction handles it
    default:
        qCDebug(lcLink).noquote() << "Serial error:" << error << port->errorString();
        return;
    }
}

bool Battert_Stack_Thread::answersAnotherRequest(const uint8_t *frame, int length) const {
    // Only frames from the address asked count here; a foreign address fails the check.
    if (length < 2 || frame[0] != txBuf[0])
        return false;
    const uint8_t func = frame[1];
    if (func != txBuf[1] && func != (txBuf[1] | 0x80))
        return true;
    // A write's echo names the register and count it confirms.
    constexpr int kEchoLength = 8;
    return func == kFunctionWrite && txBuf[1] == kFunctionWrite && length == kEchoLength &&
           std::memcmp(frame + 2, txBuf + 2, 4) != 0;
}

bool Battert_Stack_Thread::responseMatchesRequest() const {
    // The response must come from the address and carry the function of the request that was
    // sent (txBuf still holds it), even if deviceAddr changed while the request was in flight.
    return checkResponseFor(rxBuf, rxLen, txBuf[0], txBuf[1]) == 0;
}

int Battert_Stack_Thread::readTransaction(uint8_t function, uint16_t start, uint8_t count) {
    readPending.store(0, std::memory_order_release);
    drainLateAnswers();
    discardInput();
    resetFrameBuffers();
    buildReadFrame(function, start, count);
    if (!statusHold)
        showStatus("Refreshing Data");

    QElapsedTimer elapsed;
    elapsed.start();
    int result = -1;
    if (sendAndWait(txBuf, txLen, respTimeout.load(), rxAccum) == 0 && responseMatchesRequest()) {
        // Land only the registers the response actually carries (never more than asked):
        // cells past a short answer keep their values.
        const int n = landReadResponse(start, count, rxBuf, rxLen);
        // A fault record counts as read only when it is this walk's next record and arrived
        // whole; reads of other pages' blocks while the walk is paused do not advance it.
        if (faultWalk.load() == 1 && n == count &&
            start == kFaultRecordFirstBlock + faultIndex.load())
            faultIndex.fetch_add(1);
        const auto micros = static_cast<quint64>(elapsed.nsecsElapsed() / 1000);
        lastReadMicros.store(micros);
        readMicrosTotal.fetch_add(micros);
        readsOk.fetch_add(1);
        result = 0;
    } else {
        if (rxLen > 0)
            qCDebug(lcLink).noquote()
                << "Read of block" << start << "rejected:"
                << QByteArray(reinterpret_cast<const char *>(rxBuf), rxLen).toHex(' ');
        readsFailed.fetch_add(1);
    }

    discardInput();
    resetFrameBuffers();
    return result;
}

int Battert_Stack_Thread::writeTransaction(uint8_t function, uint16_t start, uint8_t count) {
    drainLateAnswers();
    discardInput();
    buildWriteFrame(writeData, function, start, count);

    int result = -1;
    if (sendAndWait(txBuf, txLen, respTimeout.load(), rxAccum) == 0 && responseMatchesRequest()) {
        statusHold = true;
        timerStart(&statusTimer);
        setStatusText("Setting Successful");
        writesOk.fetch_add(1);
        result = 0;
    } else {
        if (rxLen > 0)
            qCDebug(lcLink).noquote()
                << "Write of register" << start << "rejected:"
                << QByteArray(reinterpret_cast<const char *>(rxBuf), rxLen).toHex(' ');
        writesFailed.fetch_add(1);
    }

    discardInput();
    resetFrameBuffers();
    return result;
}

void Battert_Stack_Thread::finishLinkOp(uint8_t op) {
    // Back to polling, unless the window has meanwhile asked for something else.
    uint8_t expected = op;
    linkOp.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    // A single write staged while this operation ran must not wait for the next staging.
    expected = 0;
    if (writePending.load(std::memory_order_acquire) == 1)
        linkOp.compare_exchange_strong(expected, 1, std::memory_order_acq_rel);
}

void Battert_Stack_Thread::stagedWriteTransaction() {
    // Taking the flag and then the payload: a staging made after this point raises the flag
    // again and is performed by a later step.
    if (writePending.exchange(0, std::memory_order_acq_rel) == 1) {
        const StagedWrite staged = takeStagedWrite();
        funcCode.store(staged.func);
        startAddr.store(staged.start);
        regCount.store(staged.count);
        std::memcpy(writeData, staged.data, sizeof writeData);
        writeTransaction(staged.func, staged.start, staged.count);
    }
    finishLinkOp(1);
}

bool Battert_Stack_Thread::runWriteListEntries(int n) {
    for (int i = 0; i < n; ++i) {
        if (!linkRunning.load(std::memory_order_acquire))
            return false;
        const WriteListEntry &entry = listCopy[i];
        const uint8_t count = std::min<uint8_t>(entry.count, kWriteListMaxRegs);
        funcCode.store(kFunctionWrite);
        startAddr.store(entry.reg);
        regCount.store(count);
        std::memset(writeData, 0, sizeof writeData);
        std::memcpy(writeData, entry.data, 2u * count);
        writeTransaction(kFunctionWrite, entry.reg, count);
    }
    return true;
}

void Battert_Stack_Thread::writeListTransaction() {
    uint32_t generation = 0;
    const int n = takeWriteList(listCopy, &generation);
    if (!runWriteListEntries(n))
        qCDebug(lcLink) << "Write list run stopped by disconnect";
    finishListRun(generation, 2);
}

void Battert_Stack_Thread::finishListRun(uint32_t generation, uint8_t op) {
    // A list queued while this one ran is not cleared: linkOp names it and the next step runs it.
    if (!finishWriteList(generation, op))
        return;
    // A single write staged while the list ran must not wait for the next staging.
    uint8_t expected = 0;
    if (writePending.load(std::memory_order_acquire) == 1)
        linkOp.compare_exchange_strong(expected, 1, std::memory_order_acq_rel);
}

void Battert_Stack_Thread::writeListToAllTransaction() {
    // The number of devices on the bus is the low byte of the Home block's register 17.
    const int devices = mirrorCell(2, 17) & 0xFF;
    const uint8_t savedAddr = deviceAddr.load();
    uint32_t generation = 0;
    const int n = takeWriteList(listCopy, &generation);

    for (int addr = 1; addr <= devices; ++addr) {
        deviceAddr.store(static_cast<uint8_t>(addr));
        if (!runWriteListEntries(n)) {
            qCDebug(lcLink) << "Write list run stopped by disconnect at address" << addr << "of"
                            << devices;
            break;
        }
    }

    if (deviceAddr.load() != savedAddr)
        deviceAddr.store(savedAddr);
    finishListRun(generation, 3);
}
