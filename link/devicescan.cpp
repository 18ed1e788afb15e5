#include "devicescan.h"

#include "registermirror.h"
#include "serialport.h"
#include "transaction.h"

#include <algorithm>
#include <bitset>
#include <functional>
#include <utility>

Q_LOGGING_CATEGORY(lcScan, "vaduz.link.scan", QtInfoMsg)

namespace {

constexpr int64_t kMinInterFrameUs = 1750; // the quiet before a request, fixed above 19200 baud

// Runs one plan over one open port: a one-attempt transaction per address, and what was found.
class ScanRunner {
public:
    ScanRunner(std::function<void(ScanEvent)> report, SerialLinePort &port, const ScanPlan &plan,
               const std::atomic<bool> &stop)
        : report_(std::move(report)), port_(port), plan_(plan), stop_(stop),
          engine_(port, framing_, [this] { return ending(); }) {
        // A frame that is not the answer of the address asked is that of an address asked
        // earlier in this pass answering late; anything else is another talker on the bus, or
        // a leftover, and proves nothing. The wait for the own answer goes on either way.
        engine_.setForeignFrameHandler([this](const Answer &a) {
            if (asked_.test(a.addr))
                record(a, true);
            return true;
        });
    }

    DeviceScan::Outcome run(QString *detail);

private:
    bool startPass(int baud);
    // Asks one address; returns when it has answered or its time is up, or at a stop.
    void probe(int address);
    void record(const Answer &answer, bool late);
    bool ending() const {
        return stop_.load(std::memory_order_acquire) ||
               linkRunning.load(std::memory_order_acquire) != 0;
    }

    std::function<void(ScanEvent)> report_;
    SerialLinePort &port_;
    const ScanPlan &plan_;
    const std::atomic<bool> &stop_;
    RtuFraming framing_;
    TransactionEngine engine_;
    QString portError_;

    // The pass in progress.
    int baud_ = 0;
    TransactionTiming timing_;
    int64_t interFrameUs_ = 0;
    std::bitset<256> asked_, found_;
    int foundCount_ = 0;
};

DeviceScan::Outcome ScanRunner::run(QString *detail) {
    const int total = plan_.addressCount() * plan_.baudRates.size();
    int done = 0;
    Request last;
    for (const int baud : plan_.baudRates) {
        if (ending() || port_.lost() || !startPass(baud))
            break;
        for (int address = plan_.firstAddress; address <= plan_.lastAddress; ++address) {
            if (ending() || port_.lost())
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
        // After the pass's last address: one more wait, in which only late answers can come.
        last = Request::read(static_cast<uint8_t>(plan_.lastAddress), kScanBlock, 1);
        engine_.listen(last, engine_.lastRequestLeftUs() + 2 * timing_.wait.firstByteUs, 0);
    }
    if (port_.lost() || !portError_.isEmpty()) {
        *detail = portError_.isEmpty() ? port_.errorText() : portError_;
        return DeviceScan::PortFailed;
    }
    if (linkRunning.load(std::memory_order_acquire) != 0)
        return DeviceScan::LinkConnected;
    if (stop_.load(std::memory_order_acquire))
        return DeviceScan::Stopped;
    return DeviceScan::Completed;
}

bool ScanRunner::startPass(int baud) {
    if (!port_.setBaudRate(baud)) {
        portError_ = port_.errorText();
        return false;
    }
    engine_.discardInput();
    port_.discardOutput();
    baud_ = baud;
    const int64_t charUs = scanCharMicros(plan_, baud);
    timing_ = serialTiming(plan_.respTimeoutMs, charUs, kScanAnswerBytes);
    timing_.attempts = 1;
    timing_.drainQuietUs = 0; // late answers are what the scan listens for
    // Modbus asks for 3.5 characters of silence between frames.
    interFrameUs_ = std::max(kMinInterFrameUs, (7 * charUs + 1) / 2);
    asked_.reset();
    found_.reset();
    engine_.restartLine();
    qCDebug(lcScan) << "Scanning" << plan_.portName << "at" << baud << "baud";
    return true;
}

void ScanRunner::probe(int address) {
    const Request request = Request::read(static_cast<uint8_t>(address), kScanBlock, 1);
    // The line quiet before the request, however long a stray talker keeps it busy (bounded
    // by one answer's wait).
    engine_.listen(request, port_.nowUs() + timing_.wait.firstByteUs, interFrameUs_);
    if (ending())
        return;
    asked_.set(static_cast<size_t>(address));
    const Outcome o = engine_.run(request, timing_);
    if (o.kind == Outcome::Answered || o.kind == Outcome::Exception)
        record(framing_.decode(o.answer.bytes, o.answer.length), false);
}

void ScanRunner::record(const Answer &answer, bool late) {
    if (found_.test(answer.addr))
        return;
    found_.set(answer.addr);
    ++foundCount_;
    ScanHit hit;
    hit.address = answer.addr;
    hit.baud = baud_;
    hit.exceptionCode = answer.exceptionCode();
    hit.late = late;
    qCDebug(lcScan) << "Address" << hit.address << "answered at" << hit.baud << "baud"
                    << (hit.exceptionCode ? "with exception" : "") << hit.exceptionCode
                    << (hit.late ? "late" : "");
    ScanEvent event;
    event.kind = ScanEvent::Found;
    event.hit = hit;
    report_(std::move(event));
}

} // namespace

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
    QString detail;
    const Outcome outcome = linkConnected() ? LinkConnected : scan(&detail);
    qCDebug(lcScan) << "Scan ended:" << outcome;
    ScanEvent finished;
    finished.kind = ScanEvent::Finished;
    finished.outcome = outcome;
    finished.detail = detail.toStdString();
    post(std::move(finished));
}

DeviceScan::Outcome DeviceScan::scan(QString *detail) {
    const auto report = [this](ScanEvent e) { post(std::move(e)); };
    if (plan_.network())
        return static_cast<Outcome>(runNetworkScan(plan_, report, stopRequested_, detail));
    SerialLinePort port(plan_.portName, lineFrom(plan_.baudRates.first(), plan_.dataBits,
                                                 plan_.checkBit, plan_.stopBits));
    if (!port.open(detail)) {
        qCDebug(lcScan).noquote() << "Scan: serial open failed:" << port.errorText();
        *detail = port.errorText();
        return PortFailed;
    }
    const Outcome outcome = ScanRunner(report, port, plan_, stopRequested_).run(detail);
    port.close();
    return outcome;
}
