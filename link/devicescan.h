#pragma once
// Finding the controller on a line whose address and baud rate are not known: at each chosen
// baud rate, every address in turn gets one read of a single register of block 2 (function 4),
// and every address that answers, with the register or with an exception, is listed with its
// rate. A scan only reads, and it never runs while the link is connected: it needs the port to
// itself.
//
// The plan and its timing are pure; DeviceScan runs a plan on a thread and a serial port of its
// own, with the link's receive scan and wait rules.

#include "registermirror.h"
#include "tcpport.h"

#include <QList>
#include <QLoggingCategory>
#include <QMetaType>
#include <QString>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcScan) // vaduz.link.scan (debug off unless QT_LOGGING_RULES asks)

constexpr int kScanFirstAddress = 1;
constexpr int kScanLastAddress = 247;
constexpr uint16_t kScanBlock = kHomeBlock; // every controller answers it
constexpr int kScanRequestBytes = 8; // a read request
constexpr int kScanAnswerBytes = 7;  // address, function, byte count, one register, CRC

struct ScanPlan {
    QString portName;     // the port's own name ("/dev/ttyUSB0", "COM3"), no description
    QList<int> baudRates; // scanned in this order
    int firstAddress = kScanFirstAddress;
    int lastAddress = kScanLastAddress;
    int dataBits = 8;
    int checkBit = 0; // 0 none, 1 odd, 2 even, as in the serial settings record
    float stopBits = 1.0f;
    // The first byte of an answer is awaited this long after the request has left, as the link
    // awaits it: a controller the scan finds is one the link can talk to.
    int respTimeoutMs = 100;
    // Through a serial-to-Ethernet gateway instead (host given): the unit identifiers are
    // asked over TCP, once each, and the rates are not used.
    QString host;
    uint16_t tcpPort = 502;
    NetFramingKind framing = NetFramingKind::Mbap;

    bool network() const { return !host.isEmpty(); }
    int addressCount() const;
    // A port and at least one rate above zero, or a host; and 1 <= first <= last <= 247.
    bool isValid() const;
};

// One character on the wire at baud with the plan's framing, in microseconds.
int64_t scanCharMicros(const ScanPlan &plan, int baud);
// One address's turn on a silent bus: the request's wire time and the wait for an answer.
int64_t scanSlotMicros(const ScanPlan &plan, int baud);
// A pass over the plan's addresses at one rate on a silent bus, and the whole plan.
int64_t scanPassMicros(const ScanPlan &plan, int baud);
int64_t scanPlanMicros(const ScanPlan &plan);
// One unit identifier's turn through a gateway with no controller behind it: the answer's
// time-out (the round trip at connect is not known beforehand and is left out).
int64_t networkScanSlotMicros(const ScanPlan &plan);

struct ScanHit {
    int address = 0;
    int baud = 0;          // 0 over the network
    int exceptionCode = 0; // 0: answered with the register; else the exception code it sent
    bool late = false;     // the answer came only after the next address had been asked
};
Q_DECLARE_METATYPE(ScanHit)

// What the scan's thread reports, in order.
struct ScanEvent {
    enum Kind { Progress, Found, Finished } kind = Progress;
    int address = 0, baud = 0, done = 0, total = 0, found = 0; // Progress
    ScanHit hit;                                               // Found
    int outcome = 0;                                           // Finished
    std::string detail;                                        //
};

// Runs a network plan on the calling thread: connects to the gateway and asks each unit
// identifier in turn; reports as DeviceScan's thread does. Returns the outcome (a connection
// that fails or goes and cannot be made again: PortFailed, *detail says why).
int runNetworkScan(const ScanPlan &plan, const std::function<void(ScanEvent)> &report,
                   const std::atomic<bool> &stop, QString *detail);

class DeviceScan : public QThread {
    Q_OBJECT
public:
    enum Outcome {
        Completed,     // every address at every rate was asked
        Stopped,       // stopScan()
        LinkConnected, // refused, or ended, because the link is connected
        PortFailed,    // the port could not be opened, or was lost; detail says why
    };
    Q_ENUM(Outcome)

    explicit DeviceScan(QObject *parent = nullptr);
    // Stops a scan in progress and joins its thread.
    ~DeviceScan() override;

    // The link is connected (Connect pressed and not yet disconnected): no scan may run.
    static bool linkConnected();

    // Starts plan on the scan's own thread. False, and nothing starts, for an invalid plan,
    // while the link is connected or while a scan runs.
    bool startScan(const ScanPlan &plan);
    // Asks the scan to end. It ends within the address in progress and sends nothing more.
    void stopScan();
    // From startScan() until scanFinished() has been emitted.
    bool isScanning() const;

signals:
    // All three are emitted in the thread the DeviceScan object lives in (the GUI thread):
    // the scan's thread hands its reports over under a lock, and a timer passes them on.

    // Before each address is asked: the address and rate, how many of all the plan's
    // addresses have been asked, and how many devices have been found so far.
    void progress(int address, int baud, int done, int total, int found);
    void deviceFound(const ScanHit &hit);
    // After the port has been closed. detail: the port's error text (over the network, why
    // the connection failed) for PortFailed.
    void scanFinished(DeviceScan::Outcome outcome, const QString &detail);

protected:
    void run() override;

private:
    // Scan thread: queues a report. GUI thread: emits the reports queued so far.
    void post(ScanEvent event);
    void deliver();
    // Scan thread: runs the plan on its port or gateway; *detail says why a port failed.
    Outcome scan(QString *detail);

    ScanPlan plan_;
    std::atomic<bool> stopRequested_{false};
    // Reports cross threads under a std::mutex, which ThreadSanitizer sees, rather than as
    // Qt's queued signals, whose hand-over it cannot see.
    std::mutex reportsLock_;
    std::vector<ScanEvent> reports_;
    QTimer deliveryTimer_;
};
