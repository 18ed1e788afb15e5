#include "battertstackthread.h"

#include "writejournal.h"

#include "linkmonitor.h"
#include "pollplan.h"
#include "serialsettings.h"
#include "systick.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

Q_LOGGING_CATEGORY(lcLink, "vaduz.link")
// The frame log floods a terminal on every poll: off unless a logging rule or --verbose asks.
Q_LOGGING_CATEGORY(lcLinkFrames, "vaduz.link.frames", QtInfoMsg)

namespace {

constexpr int kAttempts = 3;
constexpr int kMaxDrainTimeouts = 5; // longest wait for late answers, in response time-outs

void logFrame(const char *direction, const uint8_t *bytes, int length) {
    if (linkMonitor().enabled()) {
        MonitorEvent e;
        e.kind = direction[0] == 'S' ? MonitorEvent::Sent : MonitorEvent::Received;
        e.bytes = QByteArray(reinterpret_cast<const char *>(bytes), length);
        e.requestAddr = txBuf[0];
        e.requestFunc = txBuf[1];
        e.requestStart = static_cast<uint16_t>((txBuf[2] << 8) | txBuf[3]);
        linkMonitor().record(std::move(e));
    }
    if (!lcLinkFrames().isDebugEnabled())
        return;
    const QByteArray hex =
        QByteArray::fromRawData(reinterpret_cast<const char *>(bytes), length).toHex(' ');
    qCDebug(lcLinkFrames).noquote() << currentTick() << direction << length << hex;
}

// "exception 2 (illegal data address)" for a controller's exception code.
QByteArray exceptionText(uint8_t code) {
    return exceptionName(code).toLatin1();
}

// Why a port did not open, in words an operator can act on.
QByteArray openFailureReason(const QSerialPort &port) {
    const QString name = port.portName();
    const QString detail = port.errorString();
    QString reason;
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        reason = QStringLiteral("No such port: %1. Is the adapter plugged in?").arg(name);
        break;
    case QSerialPort::PermissionError:
        // Another program holds the port's lock file, or the user may not open the device.
        reason = detail.contains(QLatin1String("lock"), Qt::CaseInsensitive)
                     ? QStringLiteral("%1: port in use by another program.").arg(name)
                     : QStringLiteral("%1: no permission to open the port (%2).").arg(name, detail);
        break;
    case QSerialPort::OpenError:
        reason = QStringLiteral("%1: port in use by another program.").arg(name);
        break;
    default:
        reason = QStringLiteral("%1: %2.").arg(name, detail);
        break;
    }
    return reason.toUtf8();
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
    // Values landed before this moment are from an earlier link: not live on this one.
    if (!isRunning())
        linkStartedAtMs.store(mirrorClockMs(), std::memory_order_release);
    linkRunning.store(1, std::memory_order_release);
    portEnabled.store(1, std::memory_order_release);
    if (!isRunning())
        start();
}

void Battert_Stack_Thread::stopLink() {
    portEnabled.store(0, std::memory_order_release);
    linkRunning.store(0, std::memory_order_release);
    // A transaction's wait sees linkRunning cleared within one slice of its wait and sends no
    // further attempt; a sleeping worker is woken.
    quit();
    wakeLinkWorker();
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
    s.echoBytes = echoBytes.load();
    s.skippedBytes = skippedBytes.load();
    s.loopSteps = loopSteps.load();
    s.answered = answered.load();
    s.noAnswer = noAnswer.load();
    s.exceptions = exceptions.load();
    s.wrongAnswers = wrongAnswers.load();
    s.badCrc = badCrc.load();
    s.lateBytes = lateBytes.load();
    s.rttLastMicros = rttLastMicros.load();
    s.rttMaxMicros = rttMaxMicros.load();
    s.rttTotalMicros = rttTotalMicros.load();
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
    lineClock.start();
    noAnswerStreak.store(0);
    setLinkProblem("");
    rxAccum.clear();
    answerBegun = false;
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
        loopSteps.fetch_add(1, std::memory_order_relaxed);
        sleepLinkWorker(msUntilNextStep());
    }

    if (port->isOpen())
        port->close();
    // The values on screen are no longer being read: the status says so.
    showStatus("Disconnected");
    port.reset();
}

int Battert_Stack_Thread::msUntilNextStep() const {
    // Stagings by the GUI wake the worker early; the cap is a safety net for state changed
    // without a wake (a test storing pollMode directly), not a polling rate.
    constexpr uint32_t kMaxSleepMs = 50;
    uint32_t sleep = kMaxSleepMs;
    if (!linkRunning.load(std::memory_order_acquire) || linkOp.load(std::memory_order_acquire) != 0)
        return 0;
    if (port && port->isOpen()) {
        if (pollMode.load(std::memory_order_acquire) != lastPollMode)
            return 0;
        const uint32_t period = static_cast<uint32_t>(std::max<int32_t>(1, pollPeriod.load()));
        const uint32_t elapsed = timerElapsed(&pollTimer);
        sleep = std::min(sleep, elapsed >= period ? 0u : period - elapsed);
    } else if (portEnabled.load(std::memory_order_acquire) && openRetryArmed) {
        const uint32_t elapsed = timerElapsed(&openRetryTimer);
        sleep = std::min(sleep, elapsed >= kOpenRetryTicks ? 0u : kOpenRetryTicks - elapsed);
    } else if (portEnabled.load(std::memory_order_acquire)) {
        return 0; // the port is to be opened now
    }
    return static_cast<int>(sleep);
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
            setLinkProblem("");
            openFailed = false;
            openRetryArmed = false;
            portOpens.fetch_add(1);
        } else {
            qCDebug(lcLink).noquote() << "Serial open failed:" << port->errorString();
            setLinkProblem(openFailureReason(*port).constData());
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

    // The waits follow the line: a character's wire time at the settings just applied.
    const float stopBits = port->stopBits() == QSerialPort::OneStop          ? 1.0f
                           : port->stopBits() == QSerialPort::OneAndHalfStop ? 1.5f
                                                                             : 2.0f;
    charUs = charMicros(settings.baudRate, port->dataBits(), port->parity() != QSerialPort::NoParity,
                        stopBits);
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

    // One reading of linkOp decides both the poll and the dispatch: a write staged between
    // them waits for the next step instead of leaving the poll's read pending, to be sent later
    // with the write's function, start and count.
    const int32_t stepOp = linkOp.load(std::memory_order_acquire);
    const uint32_t period = static_cast<uint32_t>(std::max<int32_t>(1, pollPeriod.load()));
    if (timerExpired(&pollTimer, period) == 0 && stepOp == 0)
        pollPlan(mode);
    afterPollDecision();

    if (statusHold && timerElapsed(&statusTimer) >= kStatusHoldTicks)
        statusHold = false;

    switch (stepOp) {
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
    answerBegun = false;
}

int Battert_Stack_Thread::sendAndWait(const uint8_t *bytes, int length, int timeout,
                                      QByteArray &accumulator) {
    if (!port || !port->isOpen() || portLost)
        return -1;
    // One accumulator for all attempts: a slow answer to attempt 1 completes attempt 2.
    accumulator.clear();
    answerBegun = false;
    frameDone = false;
    frameFailed = false;
    // Every attempt sent and not answered may still be answered later, into the next
    // transaction.
    int sent = 0;
    auto finish = [this, &sent](int result) {
        lateAnswers = portLost ? 0 : sent - (result == 0 ? 1 : 0);
        return result;
    };
    // The largest answer this request can get: a read's whole block, or a write's echo.
    const int maxAnswer =
        bytes[1] == kFunctionRead && length >= 6 ? 5 + 2 * ((bytes[4] << 8) | bytes[5]) : 8;
    const RxTiming timing = attemptTiming(timeout, charUs, maxAnswer);

    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        // Disconnect: no further attempts once the link is stopped.
        if (!linkRunning.load(std::memory_order_acquire))
            return finish(-1);

        logFrame("SEND:", bytes, length);
        requestsSent.fetch_add(1);
        ++sent;
        attemptSentUs = nowUs();
        port->write(reinterpret_cast<const char *>(bytes), length);
        if (!port->waitForBytesWritten(timeout)) {
            if (portLost)
                return finish(-1);
            // Unsent bytes would otherwise go out in front of the next attempt's request.
            port->clear(QSerialPort::Output);
            continue;
        }
        // The controller cannot answer before the request has left the wire: its own wire
        // time is not counted against the controller.
        const int64_t leftAt = nowUs() + wireMicros(charUs, length);
        const bool gotFrame = awaitAnswer(leftAt, timing);
        flushSkipped();
        if (gotFrame) {
            frameDone = false;
            const auto rtt = static_cast<quint64>(std::max<int64_t>(0, nowUs() - attemptSentUs));
            rttLastMicros.store(rtt);
            rttTotalMicros.fetch_add(rtt);
            if (rtt > rttMaxMicros.load())
                rttMaxMicros.store(rtt);
            return finish(0);
        }
        if (frameFailed || portLost)
            return finish(-1);
    }
    return finish(-1);
}

bool Battert_Stack_Thread::awaitAnswer(int64_t leftAtUs, const RxTiming &timing) {
    // Up to the first-byte time for the answer to begin; once it has, as long as its bytes
    // keep coming, within the bound for the whole answer. No retry goes out while an answer is
    // arriving: on a half-duplex bus it would collide with it.
    for (;;) {
        if (frameDone)
            return true;
        if (frameFailed || portLost || !linkRunning.load(std::memory_order_acquire))
            return false;
        const int64_t now = nowUs();
        const int64_t gapEnd = lastByteUs + timing.gapUs;
        if (answerBegun && now >= gapEnd) {
            // Quiet inside a run: it is either whole as it stands or never will be.
            takeFrame(true);
            continue;
        }
        int64_t deadline = leftAtUs + timing.firstByteUs;
        if (answerBegun)
            deadline = std::max(deadline, gapEnd);
        deadline = std::min(deadline, leftAtUs + timing.totalUs);
        if (now >= deadline)
            return false;
        waitFor((answerBegun ? std::min(deadline, gapEnd) : deadline) - now);
    }
}

void Battert_Stack_Thread::waitFor(int64_t us) {
    // The port's own wait: it returns as soon as bytes have been read (handleReadyRead has
    // then run) or an error was reported, without an event loop. In slices, so that a stop
    // ends a wait within one slice.
    constexpr int64_t kSliceUs = 20000;
    if (!port || !port->isOpen())
        return;
    port->waitForReadyRead(static_cast<int>((std::min(us, kSliceUs) + 999) / 1000));
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
    const int64_t start = nowUs();
    int64_t lastByte = start;
    for (;;) {
        const int64_t now = nowUs();
        if (now - lastByte >= int64_t(quiet) * 1000 ||
            now - start >= int64_t(kMaxDrainTimeouts) * timeout * 1000 || portLost ||
            !linkRunning.load(std::memory_order_acquire))
            break;
        const quint64 before = drainedBytes;
        waitFor(lastByte + int64_t(quiet) * 1000 - now);
        if (drainedBytes != before)
            lastByte = nowUs();
    }
    draining = false;
    discardInput();
}

void Battert_Stack_Thread::handleReadyRead() {
    if (!port)
        return;
    if (draining) {
        const QByteArray late = port->readAll();
        if (!late.isEmpty()) {
            qCDebug(lcLink).noquote() << "Late answer dropped:" << late.left(16).toHex(' ');
            if (linkMonitor().enabled()) {
                MonitorEvent e;
                e.kind = MonitorEvent::LateDropped;
                e.bytes = late;
                linkMonitor().record(std::move(e));
            }
        }
        drainedBytes += static_cast<quint64>(late.size());
        lateBytes.fetch_add(static_cast<quint64>(late.size()));
        return;
    }
    // Straight into the accumulator, without a temporary array.
    const qint64 available = port->bytesAvailable();
    if (available <= 0)
        return;
    const int had = rxAccum.size();
    rxAccum.resize(had + static_cast<int>(available));
    const qint64 got = port->read(rxAccum.data() + had, available);
    rxAccum.resize(had + static_cast<int>(std::max<qint64>(0, got)));
    if (got <= 0)
        return;
    lastByteUs = nowUs();
    takeFrame(false);
}

void Battert_Stack_Thread::takeFrame(bool lineQuiet) {
    RxExpect expect;
    expect.request = txBuf;
    expect.requestLength = txLen;
    expect.addr = txBuf[0];
    expect.func = txBuf[1];
    expect.maxRegs = txBuf[1] == kFunctionRead ? (txBuf[4] << 8) | txBuf[5] : 0;
    const auto *bytes = reinterpret_cast<const uint8_t *>(rxAccum.constData());
    const RxScan scan = scanReceived(bytes, rxAccum.size(), expect, lineQuiet);

    if (scan.skipped > 0) {
        const int other = scan.skipped - scan.echoBytes;
        echoBytes.fetch_add(static_cast<quint64>(scan.echoBytes));
        attemptEcho += scan.echoBytes;
        // What was skipped besides echoes, kept for the attempt's account (an echo may sit
        // between pieces, but is always a whole request).
        if (other > 0 && attemptSkipped.size() < kFrameBufSize) {
            int from = 0;
            while (from + txLen <= scan.skipped &&
                   std::memcmp(bytes + from, txBuf, txLen) == 0)
                from += txLen;
            attemptSkipped.append(reinterpret_cast<const char *>(bytes + from),
                                  std::min(scan.skipped - from, kFrameBufSize));
        }
        if (other > 0) {
            skippedBytes.fetch_add(static_cast<quint64>(other));
            if (lcLink().isDebugEnabled())
                qCDebug(lcLink).noquote() << "Skipped" << other << "bytes before the answer";
        }
        rxAccum.remove(0, scan.skipped);
        bytes = reinterpret_cast<const uint8_t *>(rxAccum.constData());
    }
    answerBegun = scan.state == RxState::Partial;
    if (scan.state != RxState::Answer && scan.state != RxState::Foreign)
        return;

    // A frame from another address still ends the attempt: its check fails the transaction
    // at once. The frame goes into rxBuf at rxLen; one that would not fit fails it instead.
    if (scan.length > kFrameBufSize - rxLen) {
        qCDebug(lcLink).noquote() << "Frame dropped:" << scan.length
                                  << "bytes do not fit the receive buffer";
        rxAccum.clear();
        frameFailed = true;
        return;
    }
    std::memcpy(rxBuf + rxLen, bytes, static_cast<size_t>(scan.length));
    rxLen = static_cast<uint16_t>(rxLen + scan.length);
    logFrame("RECV:", bytes, scan.length);
    frameDone = true;
    answerBegun = false;
    emit frameReceived();
    rxAccum.clear();
}

void Battert_Stack_Thread::flushSkipped() {
    const bool monitor = linkMonitor().enabled();
    if (attemptEcho > 0 && monitor) {
        MonitorEvent e;
        e.kind = MonitorEvent::Echo;
        e.bytes = QByteArray(reinterpret_cast<const char *>(txBuf), txLen);
        linkMonitor().record(std::move(e));
    }
    attemptEcho = 0;
    if (attemptSkipped.isEmpty())
        return;
    // A run that begins as this request's answer (its address, its function or exception) and
    // is long enough to be one failed its CRC; anything else was noise the scan stepped over.
    const auto *p = reinterpret_cast<const uint8_t *>(attemptSkipped.constData());
    const bool crcFailed = attemptSkipped.size() >= 5 && p[0] == txBuf[0] &&
                           (p[1] == txBuf[1] || p[1] == (txBuf[1] | 0x80));
    if (crcFailed) {
        badCrc.fetch_add(1);
        attemptBadCrc = true;
    }
    if (monitor) {
        MonitorEvent e;
        e.kind = MonitorEvent::Skipped;
        e.bytes = attemptSkipped;
        e.text = crcFailed ? QStringLiteral("bad CRC: answer dropped")
                           : QStringLiteral("resynchronised: %1 bytes skipped")
                                 .arg(attemptSkipped.size());
        linkMonitor().record(std::move(e));
    }
    attemptSkipped.clear();
}

void Battert_Stack_Thread::noteOutcome(bool gotFrame, bool accepted, const QString &what) {
    // Stopped by Disconnect or by a lost port: neither an answer nor a silence of the controller.
    const bool counted = gotFrame || (linkRunning.load(std::memory_order_acquire) && !portLost);
    if (gotFrame) {
        answered.fetch_add(1);
        if (!accepted)
            (rxLen >= 2 && (rxBuf[1] & 0x80) && rxBuf[0] == txBuf[0] ? exceptions : wrongAnswers)
                .fetch_add(1);
        const bool wasSilent = noAnswerStreak.exchange(0) >= kNoAnswerTransactions;
        if (wasSilent && !statusHold)
            showStatus("Refreshing Data");
    } else if (counted) {
        noAnswer.fetch_add(1);
        if (noAnswerStreak.fetch_add(1) + 1 >= kNoAnswerTransactions && !statusHold)
            showStatus("No answer");
    }
    if (linkMonitor().enabled() && counted) {
        MonitorEvent e;
        e.kind = MonitorEvent::Outcome;
        e.text = what;
        if (!gotFrame)
            e.text += attemptBadCrc ? QStringLiteral(": no valid answer (bad CRC)")
                                    : QStringLiteral(": no answer");
        linkMonitor().record(std::move(e));
    }
    attemptBadCrc = false;
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

QString Battert_Stack_Thread::outcomeText(const QString &what, bool gotFrame, bool accepted,
                                          const char *success) const {
    if (accepted)
        return QStringLiteral("%1: %2 in %3 ms")
            .arg(what, QLatin1String(success))
            .arg(rttLastMicros.load() / 1000.0, 0, 'f', 1);
    if (gotFrame)
        return QStringLiteral("%1: %2").arg(what, QLatin1String(exceptionOrWrong()));
    return what; // noteOutcome tells what was missing
}

QByteArray Battert_Stack_Thread::exceptionOrWrong() const {
    if (rxLen >= 3 && rxBuf[0] == txBuf[0] && rxBuf[1] == (txBuf[1] | 0x80))
        return exceptionText(rxBuf[2]);
    if (rxLen >= 1 && rxBuf[0] != txBuf[0])
        return "wrong answer (address " + QByteArray::number(rxBuf[0]) + ")";
    return "wrong answer";
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
        showStatus(noAnswerStreak.load() >= kNoAnswerTransactions ? "No answer"
                                                                   : "Refreshing Data");

    QElapsedTimer elapsed;
    elapsed.start();
    int result = -1;
    const bool gotFrame = sendAndWait(txBuf, txLen, respTimeout.load(), rxAccum) == 0;
    const bool accepted = gotFrame && responseMatchesRequest();
    if (accepted) {
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
    // A good read while all is well only counts: nothing is formatted for nobody.
    if (linkMonitor().enabled() || !accepted || noAnswerStreak.load() != 0)
        noteOutcome(gotFrame, accepted,
                    outcomeText(QStringLiteral("read block %1").arg(start), gotFrame, accepted,
                                "answered"));
    else
        answered.fetch_add(1);

    // What came after the answer is flushed from the port by the next transaction's start; the
    // frame state goes now.
    rxAccum.clear();
    answerBegun = false;
    resetFrameBuffers();
    return result;
}

int Battert_Stack_Thread::writeTransaction(uint8_t function, uint16_t start, uint8_t count) {
    drainLateAnswers();
    discardInput();
    buildWriteFrame(writeData, function, start, count);

    int result = -1;
    QByteArray failure;
    const bool answered = sendAndWait(txBuf, txLen, respTimeout.load(), rxAccum) == 0;
    const bool accepted = answered && responseMatchesRequest();
    noteOutcome(answered, accepted,
                outcomeText(QStringLiteral("write register %1").arg(start), answered, accepted,
                            "confirmed"));
    if (accepted) {
        // In a list run, successes show until the first failure; the run's end tells how
        // many failed.
        if (!listRun || listFailures == 0)
            holdStatus("Setting Successful");
        writesOk.fetch_add(1);
        result = 0;
    } else {
        if (rxLen > 0)
            qCDebug(lcLink).noquote()
                << "Write of register" << start << "rejected:"
                << QByteArray(reinterpret_cast<const char *>(rxBuf), rxLen).toHex(' ');
        writesFailed.fetch_add(1);
        // The operator learns what became of the write: nothing confirmed is never shown as
        // done, and an earlier success is not left standing.
        // The status names an exception; the monitor tells which address a wrong answer came from.
        const QByteArray detail = exceptionOrWrong();
        const QByteArray why = !answered                    ? QByteArrayLiteral("no answer")
                               : detail.startsWith("wrong") ? QByteArrayLiteral("wrong answer")
                                                            : detail;
        if (listRun)
            ++listFailures;
        else
            holdStatus(QByteArray("Setting failed: " + why).constData());
        failure = answered ? detail : why;
    }
    // The audit log's account of the write.
    noteWriteOutcome(txBuf[0], start, count, writeData, accepted, failure.constData());

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

void Battert_Stack_Thread::holdStatus(const char *text) {
    statusHold = true;
    timerStart(&statusTimer);
    setStatusText(text);
}

void Battert_Stack_Thread::reportListRun() {
    if (listFailures > 0)
        holdStatus(QStringLiteral("Setting failed: %1 of %2 writes")
                       .arg(listFailures)
                       .arg(listWrites)
                       .toLatin1()
                       .constData());
}

bool Battert_Stack_Thread::runWriteListEntries(int n) {
    for (int i = 0; i < n; ++i) {
        if (!linkRunning.load(std::memory_order_acquire))
            return false;
        ++listWrites;
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
    listRun = true;
    listWrites = listFailures = 0;
    if (!runWriteListEntries(n))
        qCDebug(lcLink) << "Write list run stopped by disconnect";
    listRun = false;
    reportListRun();
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
    listRun = true;
    listWrites = listFailures = 0;

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
    listRun = false;
    reportListRun();
    finishListRun(generation, 3);
}
