#include "devicescan.h"

#include "framecodec.h"
#include "pollplan.h"
#include "receiver.h"
#include "registermirror.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QSerialPort>

#include <algorithm>
#include <bitset>
#include <functional>
#include <utility>

Q_LOGGING_CATEGORY(lcScan, "vaduz.link.scan", QtInfoMsg)

namespace {

constexpr uint8_t kExceptionBit = 0x80;
constexpr int64_t kSliceUs = 20000;        // longest wait between looks at the stop request
constexpr int64_t kMinInterFrameUs = 1750; // the quiet before a request, fixed above 19200 baud

// Runs one plan over one open port: the waits, the receive scan and what was found.
class ScanRunner {
public:
    ScanRunner(std::function<void(ScanEvent)> report, QSerialPort &port, const ScanPlan &plan,
               const std::atomic<bool> &stop)
        : report_(std::move(report)), port_(port), plan_(plan), stop_(stop) {
        clock_.start();
    }

    DeviceScan::Outcome run(QString *detail);

private:
    bool startPass(int baud);
    // Asks one address; returns when it has answered or its time is up, or at a stop.
    void probe(int address);
    // After the pass's last address: one more wait, in which only late answers can come.
    void listenForLateAnswers();
    // Reads what has come in; false when the port has failed.
    bool readAvailable();
    void waitSlice(int64_t us);
    // Takes complete frames out of what has come in. An answer from the address asked (once
    // its request has gone out) ends its turn: true. A frame from an address asked earlier in
    // this pass is that address answering late.
    bool takeFrames(bool requestSent, bool lineQuiet);
    void record(const ScanHit &hit);
    bool ending() const;
    int64_t nowUs() const { return clock_.nsecsElapsed() / 1000; }

    std::function<void(ScanEvent)> report_;
    QSerialPort &port_;
    const ScanPlan &plan_;
    const std::atomic<bool> &stop_;
    QElapsedTimer clock_;
    QByteArray rx_;
    bool portFailed_ = false;
    QString portError_;

    // The pass in progress.
    int baud_ = 0;
    int64_t charUs_ = 0;
    RxTiming timing_;
    int64_t interFrameUs_ = 0;
    std::bitset<256> asked_, found_;
    int foundCount_ = 0;

    // The address in progress.
    uint8_t request_[kFrameBufSize] = {};
    RxExpect expect_;
    int64_t lastByteUs_ = 0;    // when bytes last came in
    int64_t lastRequestUs_ = 0; // when the last request had left
    bool answerBegun_ = false;
};

bool ScanRunner::ending() const {
    return stop_.load(std::memory_order_acquire) || portFailed_ ||
           linkRunning.load(std::memory_order_acquire) != 0;
}

DeviceScan::Outcome ScanRunner::run(QString *detail) {
    const int total = plan_.addressCount() * plan_.baudRates.size();
    int done = 0;
    for (const int baud : plan_.baudRates) {
        if (!ending() && !startPass(baud))
            break;
        for (int address = plan_.firstAddress; address <= plan_.lastAddress; ++address) {
            if (ending())
                break;
            ScanEvent event;
            event.address = address;
            event.baud = baud;
            event.done = done;
            event.total = total;
            event.found = foundCount_;
            report_(std::move(event));
            probe(address);
            ++done;
        }
        listenForLateAnswers();
    }
    if (portFailed_) {
        *detail = portError_;
        return DeviceScan::PortFailed;
    }
    if (linkRunning.load(std::memory_order_acquire) != 0)
        return DeviceScan::LinkConnected;
    if (stop_.load(std::memory_order_acquire))
        return DeviceScan::Stopped;
    return DeviceScan::Completed;
}

bool ScanRunner::startPass(int baud) {
    if (!port_.setBaudRate(baud, QSerialPort::AllDirections)) {
        portFailed_ = true;
        portError_ = port_.errorString();
        return false;
    }
    port_.clear(QSerialPort::AllDirections);
    rx_.clear();
    baud_ = baud;
    charUs_ = scanCharMicros(plan_, baud);
    timing_ = attemptTiming(plan_.respTimeoutMs, charUs_, kScanAnswerBytes);
    // Modbus asks for 3.5 characters of silence between frames.
    interFrameUs_ = std::max(kMinInterFrameUs, (7 * charUs_ + 1) / 2);
    asked_.reset();
    found_.reset();
    answerBegun_ = false;
    lastByteUs_ = lastRequestUs_ = nowUs();
    qCDebug(lcScan) << "Scanning" << plan_.portName << "at" << baud << "baud";
    return true;
}

void ScanRunner::probe(int address) {
    const int length =
        buildReadFrameTo(request_, static_cast<uint8_t>(address), kFunctionRead, kScanBlock, 1);
    expect_ = RxExpect{};
    expect_.request = request_;
    expect_.requestLength = length;
    expect_.addr = static_cast<uint8_t>(address);
    expect_.func = kFunctionRead;
    expect_.maxRegs = 1;

    // The line quiet before the request, however long a stray talker keeps it busy (bounded
    // by one answer's wait).
    const int64_t waitFrom = nowUs();
    for (;;) {
        if (ending())
            return;
        takeFrames(false, false);
        const int64_t now = nowUs();
        const int64_t quietAt = std::max(lastByteUs_, lastRequestUs_) + interFrameUs_;
        if (now >= quietAt || now - waitFrom >= timing_.firstByteUs)
            break;
        waitSlice(quietAt - now);
    }

    port_.write(reinterpret_cast<const char *>(request_), length);
    asked_.set(static_cast<size_t>(address));
    if (!port_.waitForBytesWritten(plan_.respTimeoutMs)) {
        // Unsent bytes would go out in front of the next request.
        port_.clear(QSerialPort::Output);
        readAvailable();
        return;
    }
    // The answer cannot begin before the request has left the wire.
    const int64_t leftAt = nowUs() + wireMicros(charUs_, length);
    lastRequestUs_ = leftAt;

    // As the link waits: up to the first-byte time for the answer to begin; once it has, as
    // long as its bytes keep coming, within the bound for a whole answer.
    for (;;) {
        if (ending())
            return;
        if (takeFrames(true, false))
            return;
        const int64_t now = nowUs();
        const int64_t gapEnd = lastByteUs_ + timing_.gapUs;
        if (answerBegun_ && now >= gapEnd) {
            // Quiet inside a run: it is whole as it stands or never will be.
            if (takeFrames(true, true))
                return;
            continue;
        }
        int64_t deadline = leftAt + timing_.firstByteUs;
        if (answerBegun_)
            deadline = std::max(deadline, gapEnd);
        deadline = std::min(deadline, leftAt + timing_.totalUs);
        if (now >= deadline)
            return;
        waitSlice((answerBegun_ ? std::min(deadline, gapEnd) : deadline) - now);
    }
}

void ScanRunner::listenForLateAnswers() {
    const int64_t until = lastRequestUs_ + 2 * timing_.firstByteUs;
    for (int64_t now = nowUs(); !ending() && now < until; now = nowUs()) {
        waitSlice(until - now);
        takeFrames(false, false);
    }
}

bool ScanRunner::readAvailable() {
    if (port_.bytesAvailable() > 0) {
        rx_ += port_.readAll();
        lastByteUs_ = nowUs();
    }
    switch (port_.error()) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        // The device is gone (adapter pulled, pseudo-terminal closed).
        portFailed_ = true;
        portError_ = port_.errorString();
        return false;
    default:
        port_.clearError(); // a wait that ran out, a modem-control setting a pty refuses
        return true;
    }
}

void ScanRunner::waitSlice(int64_t us) {
    const int64_t slice = std::clamp<int64_t>(us, 1000, kSliceUs);
    port_.waitForReadyRead(static_cast<int>((slice + 999) / 1000));
    readAvailable();
}

bool ScanRunner::takeFrames(bool requestSent, bool lineQuiet) {
    for (;;) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(rx_.constData());
        const RxScan scan = scanReceived(bytes, rx_.size(), expect_, lineQuiet);
        if (scan.state != RxState::Answer && scan.state != RxState::Foreign) {
            rx_.remove(0, scan.skipped);
            answerBegun_ = scan.state == RxState::Partial;
            return false;
        }
        const uint8_t *frame = bytes + scan.skipped;
        ScanHit hit;
        hit.address = frame[0];
        hit.baud = baud_;
        hit.exceptionCode = (frame[1] & kExceptionBit) ? frame[2] : 0;
        rx_.remove(0, scan.skipped + scan.length);
        answerBegun_ = false;
        if (scan.state == RxState::Answer && requestSent) {
            record(hit);
            return true;
        }
        // Only an address already asked at this rate can be answering late; anything else is
        // another talker on the bus, or a leftover, and proves nothing.
        if (asked_.test(static_cast<size_t>(hit.address))) {
            hit.late = true;
            record(hit);
        }
    }
}

void ScanRunner::record(const ScanHit &hit) {
    if (found_.test(static_cast<size_t>(hit.address)))
        return;
    found_.set(static_cast<size_t>(hit.address));
    ++foundCount_;
    qCDebug(lcScan) << "Address" << hit.address << "answered at" << hit.baud << "baud"
                    << (hit.exceptionCode ? "with exception" : "") << hit.exceptionCode
                    << (hit.late ? "late" : "");
    ScanEvent event;
    event.kind = ScanEvent::Found;
    event.hit = hit;
    report_(std::move(event));
}

} // namespace

int ScanPlan::addressCount() const {
    return lastAddress >= firstAddress ? lastAddress - firstAddress + 1 : 0;
}

bool ScanPlan::isValid() const {
    const bool line =
        network() || (!portName.isEmpty() && !baudRates.isEmpty() &&
                      std::all_of(baudRates.begin(), baudRates.end(), [](int b) { return b > 0; }));
    return line && firstAddress >= kScanFirstAddress && lastAddress <= kScanLastAddress &&
           firstAddress <= lastAddress;
}

int64_t scanCharMicros(const ScanPlan &plan, int baud) {
    return charMicros(baud, plan.dataBits, plan.checkBit != 0, plan.stopBits);
}

int64_t scanSlotMicros(const ScanPlan &plan, int baud) {
    const int64_t charUs = scanCharMicros(plan, baud);
    return wireMicros(charUs, kScanRequestBytes) +
           attemptTiming(plan.respTimeoutMs, charUs, kScanAnswerBytes).firstByteUs;
}

int64_t scanPassMicros(const ScanPlan &plan, int baud) {
    // And one more wait after the last address, for a late answer to it.
    return plan.addressCount() * scanSlotMicros(plan, baud) +
           attemptTiming(plan.respTimeoutMs, scanCharMicros(plan, baud), kScanAnswerBytes)
               .firstByteUs;
}

int64_t scanPlanMicros(const ScanPlan &plan) {
    if (plan.network())
        return plan.addressCount() * networkScanSlotMicros(plan);
    int64_t total = 0;
    for (const int baud : plan.baudRates)
        total += scanPassMicros(plan, baud);
    return total;
}

DeviceScan::DeviceScan(QObject *parent) : QThread(parent) {
    qRegisterMetaType<ScanHit>();
    qRegisterMetaType<DeviceScan::Outcome>();
    // Often enough for a progress display; each pass emits everything queued since the last.
    deliveryTimer_.setInterval(25);
    connect(&deliveryTimer_, &QTimer::timeout, this, &DeviceScan::deliver);
}

DeviceScan::~DeviceScan() {
    stopScan();
    wait();
}

bool DeviceScan::linkConnected() {
    return linkRunning.load(std::memory_order_acquire) != 0;
}

bool DeviceScan::startScan(const ScanPlan &plan) {
    if (isScanning() || !plan.isValid() || linkConnected())
        return false;
    plan_ = plan;
    stopRequested_.store(false, std::memory_order_release);
    {
        std::lock_guard<std::mutex> guard(reportsLock_);
        reports_.clear();
    }
    deliveryTimer_.start();
    start();
    return true;
}

void DeviceScan::stopScan() {
    stopRequested_.store(true, std::memory_order_release);
}

bool DeviceScan::isScanning() const {
    return isRunning() || deliveryTimer_.isActive();
}

void DeviceScan::post(ScanEvent event) {
    std::lock_guard<std::mutex> guard(reportsLock_);
    reports_.push_back(std::move(event));
}

void DeviceScan::deliver() {
    std::vector<ScanEvent> taken;
    {
        std::lock_guard<std::mutex> guard(reportsLock_);
        taken.swap(reports_);
    }
    for (const ScanEvent &e : taken) {
        switch (e.kind) {
        case ScanEvent::Progress:
            emit progress(e.address, e.baud, e.done, e.total, e.found);
            break;
        case ScanEvent::Found:
            emit deviceFound(e.hit);
            break;
        case ScanEvent::Finished:
            // The thread's last act was this report: once it has ended, a new scan may start.
            wait();
            deliveryTimer_.stop();
            emit scanFinished(static_cast<Outcome>(e.outcome), QString::fromStdString(e.detail));
            return;
        }
    }
}

void DeviceScan::run() {
    if (plan_.network()) {
        ScanEvent finished;
        finished.kind = ScanEvent::Finished;
        QString detail;
        finished.outcome = linkConnected()
                               ? LinkConnected
                               : runNetworkScan(
                                     plan_, [this](ScanEvent e) { post(std::move(e)); },
                                     stopRequested_, &detail);
        finished.detail = detail.toStdString();
        post(std::move(finished));
        return;
    }
    QSerialPort port;
    port.setPortName(plan_.portName);
    port.setBaudRate(plan_.baudRates.first(), QSerialPort::AllDirections);
    port.setDataBits(plan_.dataBits == 5   ? QSerialPort::Data5
                     : plan_.dataBits == 6 ? QSerialPort::Data6
                     : plan_.dataBits == 7 ? QSerialPort::Data7
                                           : QSerialPort::Data8);
    port.setParity(plan_.checkBit == 0   ? QSerialPort::NoParity
                   : plan_.checkBit == 1 ? QSerialPort::OddParity
                                         : QSerialPort::EvenParity);
    port.setStopBits(plan_.stopBits == 1.0f   ? QSerialPort::OneStop
                     : plan_.stopBits == 1.5f ? QSerialPort::OneAndHalfStop
                                              : QSerialPort::TwoStop);

    ScanEvent finished;
    finished.kind = ScanEvent::Finished;
    if (linkConnected()) {
        finished.outcome = LinkConnected;
        post(std::move(finished));
        return;
    }
    if (!port.open(QIODevice::ReadWrite)) {
        qCDebug(lcScan).noquote() << "Scan: serial open failed:" << port.errorString();
        finished.outcome = PortFailed;
        finished.detail = port.errorString().toStdString();
        post(std::move(finished));
        return;
    }
    port.clearError();

    QString detail;
    Outcome outcome = Completed;
    {
        ScanRunner runner([this](ScanEvent e) { post(std::move(e)); }, port, plan_, stopRequested_);
        outcome = runner.run(&detail);
    }
    port.close();
    qCDebug(lcScan) << "Scan ended:" << outcome;
    finished.outcome = outcome;
    finished.detail = detail.toStdString();
    post(std::move(finished));
}
