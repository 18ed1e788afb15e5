#include "battertstackthread.h"

#include "writejournal.h"

#include "linkmonitor.h"
#include "linktrace.h"
#include "mbapframing.h"
#include "pollplan.h"
#include "portfollow.h"
#include "serialport.h"
#include "systick.h"
#include "tcpport.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstring>

int landReadAnswer(RegisterMirror &mirror, uint16_t block, int count, const Answer &answer) {
    if (!answer.pdu)
        return 0;
    return mirror.land(block, answer.registerData(), std::min(count, answer.registersCarried()));
}

Battert_Stack_Thread::Battert_Stack_Thread(QObject *parent)
    : QThread(parent), pollSource(std::make_unique<PageFollower>()) {}

void Battert_Stack_Thread::setPollSource(std::unique_ptr<PollSource> source) {
    if (!isRunning() && source)
        pollSource = std::move(source);
}

Battert_Stack_Thread::~Battert_Stack_Thread() {
    stopLink();
}

void Battert_Stack_Thread::startLink(const LinkSetup &fixed) {
    startLink([fixed] { return fixed; });
}

void Battert_Stack_Thread::startLink(std::function<LinkSetup()> source) {
    if (!isRunning()) {
        setupSource = std::move(source);
        // Values landed before this moment are from an earlier link: not live on this one.
        linkStartedAtMs.store(mirrorClockMs(), std::memory_order_release);
    }
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
    std::lock_guard<std::mutex> guard(statsLock);
    return counters;
}

std::map<uint8_t, LinkStats> Battert_Stack_Thread::statsByAddress() const {
    std::lock_guard<std::mutex> guard(statsLock);
    return byAddress;
}

void Battert_Stack_Thread::makePort() {
    LinkSetup now = setupSource ? setupSource() : LinkSetup{};
    // An adapter followed to the name it came back under is opened by that name.
    if (!now.makePort)
        now.portName = follower.nameFor(now.portName);
    const bool same = port && !now.makePort && !setup.makePort && now.portName == setup.portName &&
                      now.line == setup.line;
    if (same)
        return;
    if (port && (now.makePort || setup.makePort))
        return; // a port made by the setup is made once per link
    engine.reset();
    port.reset(); // closes the old port (and frees its lock) before the new one opens
    setup = std::move(now);
    port = setup.makePort ? setup.makePort()
                          : std::make_unique<SerialLinePort>(setup.portName, setup.line);
    framing = setup.makeFraming ? setup.makeFraming() : std::make_unique<RtuFraming>();
    // The monitor reads the frames in the framing they were sent in.
    if (trace)
        trace->framing = dynamic_cast<MbapFraming *>(framing.get()) ? MonitorFraming::Mbap
                                                                    : MonitorFraming::Rtu;
    engine = std::make_unique<TransactionEngine>(
        *port, *framing, [] { return linkRunning.load(std::memory_order_acquire) == 0; },
        trace.get());
}

void Battert_Stack_Thread::run() {
    trace = std::make_unique<LinkTrace>();
    trace->onReceived = [this] { emit frameReceived(); };
    trace->onLate = [this](int bytes) {
        std::lock_guard<std::mutex> guard(statsLock);
        counters.lateBytes += static_cast<quint64>(bytes);
    };
    makePort();
    health = LinkHealth{};
    noAnswerStreak.store(0);
    setLinkProblem("");
    follower.reset();
    openRetryArmed = false;

    while (linkRunning.load(std::memory_order_acquire)) {
        openOrClosePort(portEnabled.load(std::memory_order_acquire) != 0);
        if (port->isOpen())
            loopStep();
        if (port->lost()) {
            // The device is gone (adapter unplugged, pseudo-terminal closed). Close it so the
            // open path retries and the link resumes by itself once the port is back.
            if (setup.makePort)
                qCDebug(lcLink).noquote()
                    << "Connection lost:" << port->description() + ":" << port->errorText();
            else
                qCDebug(lcLink).noquote() << "Serial closed:" << port->errorText();
            port->close();
            engine->discardInput();
            std::lock_guard<std::mutex> guard(statsLock);
            ++counters.portLosses;
        }
        {
            std::lock_guard<std::mutex> guard(statsLock);
            ++counters.loopSteps;
        }
        sleepLinkWorker(msUntilNextStep());
    }

    if (port->isOpen())
        port->close();
    // The values on screen are no longer being read: the status says so.
    updateHealth({HealthEvent::Stopped});
    engine.reset();
    port.reset();
    framing.reset();
    trace.reset();
}

int Battert_Stack_Thread::msUntilNextStep() const {
    // Stagings by the GUI wake the worker early; the cap is a safety net for state changed
    // without a wake (a test storing pollMode directly), not a polling rate.
    constexpr uint32_t kMaxSleepMs = 50;
    uint32_t sleep = kMaxSleepMs;
    if (!linkRunning.load(std::memory_order_acquire) || linkOp.load(std::memory_order_acquire) != 0)
        return 0;
    if (port && port->isOpen()) {
        const PollSource &source = activeSource();
        if (&source != lastSource || source.phase() != lastPhase)
            return 0;
        const uint32_t period = static_cast<uint32_t>(std::max(1, source.periodMs()));
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

bool Battert_Stack_Thread::followReplugged() {
    // An adapter unplugged and plugged back may return under another name: the one listed
    // port with the same USB identity is the same adapter, and the link moves to it.
    const QString from = setup.portName;
    const QString to = follower.follow(from);
    if (to.isEmpty())
        return false;
    qCDebug(lcLink).noquote() << "Serial port moved:" << from << "->" << to;
    recordMonitorEvent(MonitorEvent::Note, nullptr, QByteArray(),
                       QStringLiteral("port moved from %1 to %2 (same adapter)").arg(from, to));
    notePortMoved(to);
    return true;
}

void Battert_Stack_Thread::openOrClosePort(bool wantOpen) {
    if (wantOpen && !port->isOpen()) {
        if (openRetryArmed && timerElapsed(&openRetryTimer) < kOpenRetryTicks)
            return;
        makePort();
        QString reason;
        if (port->open(&reason)) {
            // A gateway or another port is named by what it is, a serial port as the system
            // has always logged it.
            if (setup.makePort)
                qCDebug(lcLink).noquote() << "Connected:" << port->description();
            else
                qCDebug(lcLink) << "Serial opened on thread:" << QThread::currentThread();
            linkNote = follower.note();
            publishLinkProblem();
            if (!setup.makePort)
                follower.opened(setup.portName);
            openRetryArmed = false;
            updateHealth({HealthEvent::Opened});
            std::lock_guard<std::mutex> guard(statsLock);
            ++counters.portOpens;
        } else if (!setup.makePort && followReplugged()) {
            port->close();
            openRetryArmed = false; // the same adapter under its new name: opened at once
        } else {
            if (setup.makePort)
                qCDebug(lcLink).noquote()
                    << "Connection failed:" << port->description() + ":" << port->errorText();
            else
                qCDebug(lcLink).noquote() << "Serial open failed:" << port->errorText();
            linkNote = reason.toUtf8();
            publishLinkProblem();
            port->close();
            updateHealth({HealthEvent::OpenFailed});
            openRetryArmed = true;
            timerStart(&openRetryTimer);
        }
    } else if (!wantOpen && port->isOpen()) {
        port->close();
        if (setup.makePort)
            qCDebug(lcLink).noquote() << "Disconnected:" << port->description();
        else
            qCDebug(lcLink) << "Serial closed";
    }
}

void Battert_Stack_Thread::loopStep() {
    const int32_t op = linkOp.load(std::memory_order_acquire);
    if (op != lastLinkOp) {
        lastLinkOp = op;
        timerStart(&pollTimer);
        engine->discardInput();
    }

    // The read list of a parameter read goes before the page's plan.
    PollSource &source = activeSource();
    const int64_t phase = source.phase();
    if (&source != lastSource || phase != lastPhase) {
        lastSource = &source;
        lastPhase = phase;
        port->discardInput();
        port->discardOutput();
        timerStart(&pollTimer);
        source.enter(phase);
    }

    // One reading of linkOp decides both the poll and the dispatch: a write staged between
    // them waits for the next step instead of leaving the poll's read pending, to be sent later
    // with the write's function, start and count.
    const int32_t stepOp = linkOp.load(std::memory_order_acquire);
    const uint32_t period = static_cast<uint32_t>(std::max(1, source.periodMs()));
    PollRead read;
    const bool readDue = timerExpired(&pollTimer, period) == 0 && stepOp == 0 && source.next(&read);
    afterPollDecision();

    updateHealth({HealthEvent::Tick});

    switch (stepOp) {
    case 0:
        if (readDue)
            source.done(read, readTransaction(read));
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

void Battert_Stack_Thread::updateHealth(const HealthEvent &event) {
    const LinkHealth before = health;
    health = nextHealth(before, event, currentTick());
    noAnswerStreak.store(health.noAnswerStreak);
    const bool holdStarted = health.held && (!before.held || health.heldSince != before.heldSince ||
                                             health.state != before.state);
    // A read's start and the link's end say so again, whatever the text shows meanwhile.
    const bool reassert = event.kind == HealthEvent::Stopped ||
                          (event.kind == HealthEvent::ReadStarts && !health.held);
    if (!holdStarted && !reassert && health.state == before.state && health.detail == before.detail)
        return;
    const QByteArray hint = healthHint(health, currentTick());
    if (hint != healthHintShown) {
        healthHintShown = hint;
        publishLinkProblem();
    }
    const QByteArray text = healthText(health);
    char current[kStatusTextSize];
    readStatusText(current);
    // Unchanged text is not set again, so the window repaints only on a change; a new hold is.
    if (holdStarted || text != current) {
        linkHealthState.store(health.state, std::memory_order_relaxed);
        setStatusText(text.constData());
    }
}

void Battert_Stack_Thread::publishLinkProblem() {
    QByteArray problem = linkNote;
    if (!problem.isEmpty() && !healthHintShown.isEmpty())
        problem += '\n';
    problem += healthHintShown;
    setLinkProblem(problem.constData());
}

Outcome Battert_Stack_Thread::transact(const Request &request, const char *success) {
    engine->discardInput();
    transactionClock.start();
    const TransactionTiming timing =
        setup.timing ? setup.timing(respTimeout.load(), framing->maxAnswerBytes(request))
                     : serialTiming(respTimeout.load(), setup.line.charMicros(),
                                    framing->maxAnswerBytes(request));
    const Outcome o = engine->run(request, timing);
    {
        std::lock_guard<std::mutex> guard(statsLock);
        counters.add(o);
        byAddress[request.addr].add(o);
    }
    HealthEvent e{HealthEvent::Transaction};
    e.answered = o.gotFrame();
    // A gateway's cut connection fails the link like silence does (a serial port that goes is
    // told by its failing reopening).
    const bool gateway = dynamic_cast<TcpLinkPort *>(port.get()) != nullptr;
    e.counted = o.counted() || (gateway && o.kind == Outcome::PortLost);
    e.cause = o.kind == Outcome::PortLost ? (gateway ? LinkHealth::Closed : LinkHealth::Silence)
              : o.kind == Outcome::BadCrc ? LinkHealth::BadCrc
              : o.kind != Outcome::WrongAnswer    ? LinkHealth::Silence
              : o.fault == AnswerFault::OtherUnit ? LinkHealth::WrongUnit
                                                  : LinkHealth::WrongAnswer;
    updateHealth(e);
    traceOutcome(request, o, success, o.kind == Outcome::PortLost ? port->errorText() : QString());
    return o;
}

PollSource &Battert_Stack_Thread::activeSource() const {
    return readList.active() ? static_cast<PollSource &>(readList) : *pollSource;
}

int Battert_Stack_Thread::readTransaction(const PollRead &read) {
    readPending.store(0, std::memory_order_release);
    updateHealth({HealthEvent::ReadStarts});
    Request request = Request::read(read.addr, read.block, read.count);
    request.function = read.function;
    const Outcome o = transact(request, "answered");
    if (o.kind != Outcome::Answered) {
        std::lock_guard<std::mutex> guard(statsLock);
        ++counters.readsFailed;
        return -1;
    }
    const Answer answer = framing->decode(o.answer.bytes, o.answer.length);
    // The answer lands in the mirror of the controller it came from; a short one lands what it
    // carries, but the block is not shown as live on it.
    RegisterMirror &mirror = mirrorOf(read.addr);
    const bool shortAnswer = answer.registersCarried() < read.count;
    mirror.setShort(read.block, shortAnswer);
    const int n = landReadAnswer(mirror, read.block, read.count, answer);
    if (shortAnswer) {
        recordMonitorEvent(MonitorEvent::Note, nullptr, QByteArray(),
                           QStringLiteral("read block %1: short answer: %2 of %3 registers")
                               .arg(read.block)
                               .arg(answer.registersCarried())
                               .arg(read.count));
        std::lock_guard<std::mutex> guard(statsLock);
        ++counters.shortAnswers;
    }
    const auto micros = static_cast<quint64>(transactionClock.nsecsElapsed() / 1000);
    std::lock_guard<std::mutex> guard(statsLock);
    counters.lastReadMicros = micros;
    counters.readMicrosTotal += micros;
    ++counters.readsOk;
    return n;
}

int Battert_Stack_Thread::writeTransaction(uint8_t addr, uint8_t function, uint16_t start,
                                           uint8_t count) {
    Request request = Request::write(addr, start, writeData, count);
    request.function = function;
    const Outcome o = transact(request, "confirmed");
    engine->discardInput();
    const bool ok = o.kind == Outcome::Answered;
    if (!ok && listRun)
        ++listFailures;
    // The operator learns what became of the write: nothing confirmed is never shown as done.
    // The status names an exception; the monitor tells which address a wrong answer came from.
    HealthEvent e{HealthEvent::WriteDone};
    e.ok = ok;
    e.inList = listRun;
    e.failures = listFailures;
    e.detail = o.kind == Outcome::Exception     ? outcomeText(o).toLatin1()
               : o.kind == Outcome::WrongAnswer ? QByteArrayLiteral("wrong answer")
                                                : QByteArrayLiteral("no answer");
    updateHealth(e);
    // The audit log's account of the write, made now that its outcome is known: the audit's
    // writer has it before the next transaction starts.
    const QString link = !setup.makePort         ? setup.portName
                         : !setup.name.isEmpty() ? setup.name
                                                 : port->description();
    noteWriteOutcome(request.addr, start, count, writeData, ok,
                     ok ? "" : outcomeText(o).toLatin1().constData(), link.toUtf8().constData());
    std::lock_guard<std::mutex> guard(statsLock);
    ++(ok ? counters.writesOk : counters.writesFailed);
    return ok ? 0 : -1;
}

void Battert_Stack_Thread::finishLinkOp(uint8_t op) {
    // Back to polling, unless the window has meanwhile asked for something else.
    uint8_t expected = op;
    linkOp.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    resumeStagedWrite();
}

void Battert_Stack_Thread::resumeStagedWrite() {
    // A single write staged while an operation ran must not wait for the next staging.
    uint8_t idle = 0;
    if (writePending.load(std::memory_order_acquire) == 1)
        linkOp.compare_exchange_strong(idle, 1, std::memory_order_acq_rel);
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
        writeTransaction(staged.addr, staged.func, staged.start, staged.count);
    }
    finishLinkOp(1);
}

bool Battert_Stack_Thread::runWriteListEntries(uint8_t addr, int n) {
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
        writeTransaction(addr, kFunctionWrite, entry.reg, count);
    }
    return true;
}

void Battert_Stack_Thread::writeListTransaction() {
    runWriteList(2, false);
}

void Battert_Stack_Thread::writeListToAllTransaction() {
    runWriteList(3, true);
}

void Battert_Stack_Thread::runWriteList(uint8_t op, bool toAll) {
    uint32_t generation = 0;
    uint8_t listAddr = 0;
    const int n = takeWriteList(listCopy, &generation, &listAddr);
    // To every address: 1..N, N the device count the list's controller reports.
    const int first = toAll ? 1 : listAddr;
    const int last = toAll ? deviceCount(mirrorOf(listAddr)) : listAddr;
    listRun = true;
    listWrites = listFailures = 0;
    for (int addr = first; addr <= last; ++addr) {
        if (!runWriteListEntries(static_cast<uint8_t>(addr), n)) {
            qCDebug(lcLink) << "Write list run stopped by disconnect at address" << addr;
            break;
        }
    }
    listRun = false;
    HealthEvent e{HealthEvent::ListDone};
    e.failures = listFailures;
    e.writes = listWrites;
    updateHealth(e);
    // A list queued while this one ran is not cleared: linkOp names it and the next step runs it.
    if (finishWriteList(generation, op))
        resumeStagedWrite();
}
