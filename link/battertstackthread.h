#pragma once
// The link worker: the thread that owns the serial port and performs every transaction with
// the battery management controller. It opens the port on Connect, runs one loop step about
// every millisecond and in each step does at most what the shared link state asks for: one
// read chosen by the poll plan, one staged write, or a run over the write list. Transactions
// are synchronous inside the worker: send, wait for a complete frame or a time-out (three
// attempts), check, store.

#include "framecodec.h"
#include "portfollow.h"
#include "receiver.h"
#include "registermirror.h"
#include "tcpport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSerialPort>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcLink)       // vaduz.link: port open/close, failures
Q_DECLARE_LOGGING_CATEGORY(lcLinkFrames) // vaduz.link.frames: a SEND:/RECV: line per frame


// Counters of the transactions performed, readable from any thread (diagnostics, tests and
// benchmarks).
struct LinkStats {
    quint64 readsOk = 0;
    quint64 readsFailed = 0;
    quint64 writesOk = 0;
    quint64 writesFailed = 0;
    quint64 requestsSent = 0;   // every attempt counts
    quint64 lastReadMicros = 0; // request sent to registers landed, last successful read
    quint64 readMicrosTotal = 0;
    quint64 portOpens = 0;
    quint64 portLosses = 0;
    quint64 echoBytes = 0;    // the adapter's echo of requests, skipped
    quint64 skippedBytes = 0; // glitches, noise and broken frames skipped before an answer
    quint64 loopSteps = 0;    // passes of the worker's loop
    // Transactions by outcome: a valid frame came back (the controller is there, whatever it
    // said), or none did (silence, or only bytes that formed no valid answer).
    quint64 answered = 0;
    quint64 noAnswer = 0;
    quint64 exceptions = 0;   // answers that were the controller's exception
    quint64 wrongAnswers = 0; // frames of another address or that do not fit the request
    quint64 badCrc = 0;       // attempts that got an answer-shaped run of bytes failing its CRC
    quint64 lateBytes = 0;    // bytes of late answers dropped before a new request
    // Round trip of answered attempts: request written to answer taken.
    quint64 rttLastMicros = 0;
    quint64 rttMaxMicros = 0;
    quint64 rttTotalMicros = 0;
};

class Battert_Stack_Thread : public QThread {
    Q_OBJECT
public:
    explicit Battert_Stack_Thread(QObject *parent = nullptr);
    // Stops the link (see stopLink) before the object goes away.
    ~Battert_Stack_Thread() override;

    // Connect: the link runs and wants the port open; starts the thread if it is not running.
    void startLink();
    // Disconnect: clears portEnabled and linkRunning, wakes the worker and joins the
    // thread. A run over the write list stops between transactions, so this returns within
    // about one transaction.
    void stopLink();

    LinkStats stats() const;

    // Period of the open retries while the port cannot be opened.
    static constexpr uint32_t kOpenRetryTicks = 1000;
    // How long "Setting Successful" is held after a successful write.
    static constexpr uint32_t kStatusHoldTicks = 1500;
    // Transactions in a row without an answer before the status says "No answer".
    static constexpr uint32_t kNoAnswerTransactions = 3;

signals:
    void frameReceived();

public slots:
    void handleReadyRead();

protected:
    void run() override;
    // Called in every loop step between the poll decision and the dispatch, the window where
    // the GUI's staging of a request may land. Does nothing; tests override it to stage there.
    virtual void afterPollDecision() {}

private:
    void openOrClosePort(bool wantOpen);
    // The same over the network: connects to the gateway, retried every kOpenRetryTicks.
    void openOrCloseConnection(bool wantOpen);
    // The port or the gateway connection is open.
    bool linkOpen() const;
    // Over the network: up to three attempts through the connection; the answer goes into
    // rxBuf as on the line.
    int netSendAndWait(const uint8_t *bytes, int length);
    void noteConnection(const QString &text);
    // How long the worker may sleep before its next step has anything to do.
    int msUntilNextStep() const;
    void applyPortSettings();
    // After an open failed because the port is gone: moves to the port that carries the lost
    // one's USB identity under another name, if there is one (true: retried at once).
    bool followReplugged();
    void loopStep();
    int sendAndWait(const uint8_t *bytes, int length, int timeout, QByteArray &accumulator);
    // Waits for the answer to the request that left the port at leftAtUs, by the line's
    // timing: true when a complete frame was taken.
    bool awaitAnswer(int64_t leftAtUs, const RxTiming &timing);
    // Runs the received bytes through the receive scan; takes a complete frame into rxBuf.
    void takeFrame(bool lineQuiet);
    // Waits at most us for bytes from the port (they are handled before it returns), a
    // port error or a stop.
    void waitFor(int64_t us);
    int64_t nowUs() const { return lineClock.nsecsElapsed() / 1000; }
    int readTransaction(uint8_t function, uint16_t start, uint8_t count);
    int writeTransaction(uint8_t function, uint16_t start, uint8_t count);
    void stagedWriteTransaction();
    void writeListTransaction();
    void writeListToAllTransaction();
    // Writes list entries [0, n) to the current deviceAddr; false when the link was stopped
    // before the last one.
    bool runWriteListEntries(int n);
    void finishLinkOp(uint8_t op);
    // Shows a write's outcome and holds it against "Refreshing Data" for kStatusHoldTicks.
    void holdStatus(const char *text);
    // After a list run with failed writes: how many of how many failed.
    void reportListRun();
    void finishListRun(uint32_t generation, uint8_t op);
    void handlePortError(QSerialPort::SerialPortError error);
    bool responseMatchesRequest() const;
    // What a frame that failed the check was: "exception 2 (illegal data address)" or
    // "wrong answer (address 7)".
    QByteArray exceptionOrWrong() const;
    // The monitor's account of a transaction: "read block 2: answered in 0.3 ms", "write
    // register 74: exception 2 (illegal data address)", or just what for one without an answer.
    QString outcomeText(const QString &what, bool gotFrame, bool accepted,
                        const char *success) const;
    void discardInput();
    // After an attempt: the bytes it skipped, counted and shown in the monitor.
    void flushSkipped();
    // After a transaction: counts its outcome, keeps the no-answer streak and the status, and
    // tells the monitor.
    void noteOutcome(bool gotFrame, bool accepted, const QString &what);
    // Before a transaction: throws away the answers still due to the last one's unanswered
    // attempts.
    void drainLateAnswers();

    std::unique_ptr<QSerialPort> port;
    // Through a gateway instead (chosen when the link starts): the connection, its framing, and
    // the answer's wait measured at connect.
    std::unique_ptr<TcpPort> net;
    NetFramingKind netFraming = NetFramingKind::Mbap;
    MbapFraming mbap;
    NetTiming timing;
    bool netLate = false; // the last transaction had unanswered attempts
    QByteArray rxAccum;
    QByteArray attemptSkipped; // bytes skipped during the attempt in progress (bounded)
    int attemptEcho = 0;       // echo bytes skipped during it
    bool attemptBadCrc = false;
    int64_t attemptSentUs = 0;

    // Worker-thread state.
    bool frameDone = false;
    bool frameFailed = false; // the bytes received can no longer form a frame that fits
    bool portLost = false;    // the port reported a resource error (device gone)
    bool openFailed = false;
    bool openRetryArmed = false;
    int lateAnswers = 0;   // attempts of the last transaction that may still be answered
    bool draining = false; // received bytes are late answers, thrown away
    quint64 drainedBytes = 0;
    int32_t lastPollMode = -1;
    int32_t lastLinkOp = -1;
    uint32_t pollTimer = 0;
    bool statusHold = false;
    bool listRun = false; // outcomes are counted and shown once at the end of the run
    int listWrites = 0;
    int listFailures = 0;
    uint32_t statusTimer = 0;
    uint32_t openRetryTimer = 0;
    QElapsedTimer lineClock;
    int64_t charUs = 0;        // one character on the wire at the port's settings
    int64_t lastByteUs = 0;    // when bytes last arrived
    bool answerBegun = false;  // the bytes kept in rxAccum are the incomplete answer (or echo)
    QString portNameInUse;       // as given to the port at its last opening
    PortIdentity openedIdentity; // the port as listed when it last opened
    QString followedName;        // the name it came back under, once followed
    QByteArray movedNote;        // why the link now uses another port, for the status tooltip
    uint8_t writeData[kWriteDataSize] = {};
    WriteListEntry listCopy[kWriteListEntries];

    std::atomic<quint64> readsOk{0};
    std::atomic<quint64> readsFailed{0};
    std::atomic<quint64> writesOk{0};
    std::atomic<quint64> writesFailed{0};
    std::atomic<quint64> requestsSent{0};
    std::atomic<quint64> lastReadMicros{0};
    std::atomic<quint64> readMicrosTotal{0};
    std::atomic<quint64> portOpens{0};
    std::atomic<quint64> portLosses{0};
    std::atomic<quint64> echoBytes{0};
    std::atomic<quint64> skippedBytes{0};
    std::atomic<quint64> loopSteps{0};
    std::atomic<quint64> answered{0};
    std::atomic<quint64> noAnswer{0};
    std::atomic<quint64> exceptions{0};
    std::atomic<quint64> wrongAnswers{0};
    std::atomic<quint64> badCrc{0};
    std::atomic<quint64> lateBytes{0};
    std::atomic<quint64> rttLastMicros{0};
    std::atomic<quint64> rttMaxMicros{0};
    std::atomic<quint64> rttTotalMicros{0};
};
