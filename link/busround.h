#pragma once
// The bus round: every listed controller's Home record (block 2) and alarm words (block 6) in
// turn, fitted in between the reads of the page's plan for the selected controller. After every
// pageShare page passes, one bus read goes out at once; the page's reads keep their period. A
// controller that does not answer is asked again after 5 s, then every 30 s while it stays
// silent, so that a dead address cannot eat the line.

#include "pollsource.h"

#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct BusController {
    uint8_t addr = 0;
    uint64_t asked = 0;
    uint64_t answered = 0;
    uint64_t noAnswer = 0;
    int failuresInRow = 0;
    uint32_t retryAtTick = 0; // backed off until this tick (while failuresInRow > 0)
    bool backedOff(uint32_t nowTick) const;
};

// The reads of one controller in the round, in order.
constexpr int kBusReadsPerController = 2;
constexpr PlanRead kBusReads[kBusReadsPerController] = {{2, 100}, {6, 5}};
constexpr uint32_t kBusFirstRetryMs = 5000;
constexpr uint32_t kBusLaterRetryMs = 30000;

// The round's order as a pure function: the first position from cursor on (position =
// controller index * 2 + read) whose controller is not backed off at nowTick, going round once;
// -1 when every controller is backed off (or none is listed).
int nextBusPosition(const std::vector<BusController> &controllers, int cursor, uint32_t nowTick);
// A controller's account after one of its reads: answered, or not (then backed off).
void noteBusOutcome(BusController &controller, bool answered, uint32_t nowTick);

// What the overview says of a controller: answering (its Home record read when due), stale
// (not read for more than 3 s past the round's length), no answer (its last read failed),
// backed off (silent, asked again later) or not read yet.
enum class BusState { Waiting, Live, Stale, NoAnswer, BackedOff };
constexpr int64_t kBusStaleMs = 3000;
// homeLandedAtMs: when its Home block last landed (mirrorClockMs; 0 never); roundMs: how long
// one round over every controller takes.
BusState busState(const BusController &controller, int64_t homeLandedAtMs, int64_t nowMs,
                  uint32_t nowTick, int64_t roundMs);
const char *busStateText(BusState state); // "live", "stale", "no answer", "backed off", "waiting"

// "1-8", "1,3,5-7": addresses 1..247 in the order given, each once; false for anything else.
bool parseBusAddresses(const QString &text, QVector<int> *addresses);

class BusRound : public PollSource {
public:
    // page: the source the round fits in with (the page follower); pageShare page passes per
    // bus read (at least 1).
    explicit BusRound(std::unique_ptr<PollSource> page, int pageShare = 1);

    // The controllers of the round (any thread); an address listed before keeps its account.
    // An empty list: the page's plan alone, as without a round.
    void setAddresses(const QVector<int> &addresses);
    void setPageShare(int pageShare);
    // A copy of every listed controller's account (any thread).
    std::vector<BusController> controllers() const;

    int64_t phase() const override { return m_page->phase(); }
    void enter(int64_t phase) override;
    int periodMs() const override;
    bool next(PollRead *read) override;
    void done(const PollRead &read, int landed) override;

private:
    std::unique_ptr<PollSource> m_page;
    mutable std::mutex m_lock;
    std::vector<BusController> m_controllers;
    int m_pageShare = 1;
    int m_cursor = 0;
    int m_pagePasses = 0;      // page passes since the last bus read
    bool m_owed = false;       // a bus read goes out at the next step
    bool m_lastWasBus = false; // the read handed out last is the round's
    uint32_t m_pageDueTick = 0;
    uint32_t m_lastPassTick = 0;
};
