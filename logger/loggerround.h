#pragma once
// The logger's schedule on the link: a round over every listed controller, one round per round
// period (or back to back when the line is slower than that). Each round reads every controller's
// Home record and alarm words, as the Bus window's round does; the round counts as done once
// they are read. When their slower periods are due, each controller's Data blocks with its
// identity block and its Pack blocks follow in the round's tail. A controller that does
// not answer is skipped for 5 s, then for 30 s at a time, with the bus round's own accounting,
// so a dead address cannot eat the line; the rest of its reads in that round are dropped.

#include "busround.h"
#include "pollsource.h"

#include <QVector>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct LoggerPeriods {
    int roundMs = 1000;  // a round starts at most this often
    int dataMs = 30000;  // Data blocks (and the identity block) of each controller
    int packMs = 300000; // Pack blocks of each controller
};

// The reads of one controller in a round, in order: Home and alarm words always, the Data
// blocks and the identity block when withData, the Pack blocks when withPack.
QVector<PollRead> loggerReads(uint8_t addr, bool withData, bool withPack);

class LoggerRound : public PollSource {
public:
    LoggerRound(const QVector<int> &addresses, const LoggerPeriods &periods);

    // Rounds completed since the start (any thread).
    uint64_t roundsDone() const { return m_rounds.load(std::memory_order_acquire); }
    // A copy of every controller's account (any thread).
    std::vector<BusController> controllers() const;

    int64_t phase() const override { return 0; }
    void enter(int64_t phase) override;
    int periodMs() const override;
    bool next(PollRead *read) override;
    void done(const PollRead &read, int landed) override;

private:
    struct Slot {
        BusController account;
        uint32_t dataDueTick = 0;
        uint32_t packDueTick = 0;
    };
    void beginRound(uint32_t now);
    void endRoundAt(int position);
    Slot *slotFor(uint8_t addr);

    LoggerPeriods m_periods;
    mutable std::mutex m_lock;
    std::vector<Slot> m_slots;
    QVector<PollRead> m_pending; // the round's reads not yet handed out
    int m_at = 0;
    int m_endOfRound = 0;       // reads before it: every controller's Home and alarm words
    bool m_roundCounted = true; // roundsDone() counts the round in progress
    bool m_inRound = false;
    uint32_t m_nextRoundTick = 0;
    std::atomic<uint64_t> m_rounds{0};
};
