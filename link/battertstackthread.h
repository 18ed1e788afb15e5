#pragma once
// The link worker: the thread that owns the port and performs every transaction with the
// battery management controller. It opens the port on Connect, and in each loop step does at
// most what the shared link state asks for: one read chosen by the poll plan, one staged
// write, or a run over the write list. Each transaction goes through the transaction engine
// (send, wait by the line, retry, take the answer); the worker lands the result, counts it and
// updates the link's health.

#include "linkhealth.h"
#include "linksetup.h"
#include "linkstats.h"
#include "linktrace.h"
#include "pollsource.h"
#include "portfollow.h"
#include "registermirror.h"
#include "transaction.h"

#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

// Lands a read answer of count registers of block into the mirror: the registers it carries
// (never more than count) go to block's cells from 0 on; cells past a short answer keep their
// values. Returns the number of registers landed.
int landReadAnswer(RegisterMirror &mirror, uint16_t block, int count, const Answer &answer);

class Battert_Stack_Thread : public QThread {
    Q_OBJECT
public:
    explicit Battert_Stack_Thread(QObject *parent = nullptr);
    // Stops the link (see stopLink) before the object goes away.
    ~Battert_Stack_Thread() override;

    // Connect: the link runs and wants the port open; starts the thread if it is not running.
    // setup is asked for the port and its line at every opening of the port, so settings
    // changed while connected take effect when the port is next opened.
    void startLink(std::function<LinkSetup()> setup);
    // The same with a setup that stays as given.
    void startLink(const LinkSetup &setup);
    // Disconnect: clears portEnabled and linkRunning, wakes the worker and joins the
    // thread. A run over the write list stops between transactions, so this returns within
    // about one transaction.
    void stopLink();

    LinkStats stats() const;
    // The same counters for each address asked (requests, answers and errors of its requests).
    std::map<uint8_t, LinkStats> statsByAddress() const;

    // What the worker reads when nothing is staged: the page follower unless another source
    // is set (while the thread is stopped). A parameter read's list goes before it.
    void setPollSource(std::unique_ptr<PollSource> source);

    // Period of the open retries while the port cannot be opened.
    static constexpr uint32_t kOpenRetryTicks = 1000;
    // How long "Setting Successful" is held after a successful write.
    static constexpr uint32_t kStatusHoldTicks = LinkHealth::kHoldTicks;
    // Transactions in a row without an answer before the status says "No answer".
    static constexpr uint32_t kNoAnswerTransactions = LinkHealth::kNoAnswerTransactions;

signals:
    // A transaction's answer was taken (from the worker's thread).
    void frameReceived();

protected:
    void run() override;
    // Called in every loop step between the poll decision and the dispatch, the window where
    // the GUI's staging of a request may land. Does nothing; tests override it to stage there.
    virtual void afterPollDecision() {}

private:
    void openOrClosePort(bool wantOpen);
    // How long the worker may sleep before its next step has anything to do.
    int msUntilNextStep() const;
    void loopStep();
    // One transaction through the engine, counted; the monitor learns its outcome ("read
    // block 2: answered in 0.3 ms", success being "answered").
    Outcome transact(const Request &request, const char *success);
    // The source that decides the next read: the read list while it has blocks to read.
    PollSource &activeSource() const;
    // Registers landed in read.addr's mirror, or -1.
    int readTransaction(const PollRead &read);
    int writeTransaction(uint8_t addr, uint8_t function, uint16_t start, uint8_t count);
    void stagedWriteTransaction();
    void writeListTransaction();
    void writeListToAllTransaction();
    // Writes list entries [0, n) to addr; false when the link was stopped before the last one.
    bool runWriteListEntries(uint8_t addr, int n);
    void finishLinkOp(uint8_t op);
    // Runs the queued write list (linkOp op) at its address, or toAll at every device address.
    void runWriteList(uint8_t op, bool toAll);
    void resumeStagedWrite();
    // Moves the health on by event and publishes the status text when it changed.
    void updateHealth(const HealthEvent &event);
    // The link problem text: what the opening or the adapter's move said, then the health's
    // likely cause of failing transactions.
    void publishLinkProblem();
    // The port, framing and engine for the setup asked for now; kept while it is unchanged.
    void makePort();
    // After an open failed: moves to the port that carries the last opened port's USB
    // identity under another name, if there is one (true: opened at once).
    bool followReplugged();

    std::function<LinkSetup()> setupSource; // set while the thread is stopped
    LinkSetup setup;                        // the one the port was made for
    AdapterFollower follower;               // the serial adapter, where it went when re-plugged
    std::unique_ptr<LinkTrace> trace;
    std::unique_ptr<LinkPort> port;
    std::unique_ptr<Framing> framing;
    std::unique_ptr<TransactionEngine> engine;
    std::unique_ptr<PollSource> pollSource;
    mutable ReadListSource readList;

    // Worker-thread state.
    LinkHealth health;
    QByteArray linkNote;        // the opening's reason or the adapter's move
    QByteArray healthHintShown; // healthHint() as last published
    bool openRetryArmed = false;
    const PollSource *lastSource = nullptr;
    int64_t lastPhase = -1;
    int32_t lastLinkOp = -1;
    uint32_t pollTimer = 0;
    uint32_t openRetryTimer = 0;
    QElapsedTimer transactionClock; // from the first request of the transaction in progress
    bool listRun = false;           // a write list is being run
    int listWrites = 0;
    int listFailures = 0;
    uint8_t writeData[kWriteDataSize] = {};
    WriteListEntry listCopy[kWriteListEntries];

    mutable std::mutex statsLock; // a std::mutex, so that ThreadSanitizer sees the hand-over
    LinkStats counters;
    std::map<uint8_t, LinkStats> byAddress;
};
