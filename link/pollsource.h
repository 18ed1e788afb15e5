#pragma once
// Poll sources: what the link worker reads when nothing else is staged. The worker asks its
// source for each read in turn, one per period; the read carries the address it goes to, and
// its answer lands in that address's mirror.
//
//   PageFollower   the page on screen (pollMode) of the selected controller: the pages' plans
//   ReadListSource a fixed list of blocks of one address, read once each (a parameter read),
//                  handed over from the GUI thread through queueReadList()
//
// A headless schedule or a round over several addresses is one more class of the same shape.

#include "pollplan.h"

#include <atomic>
#include <cstdint>

struct PollRead {
    uint8_t addr = 0;
    uint8_t function = kFunctionRead;
    uint16_t block = 0;
    uint8_t count = 0;
};

class PollSource {
public:
    virtual ~PollSource() = default;
    // Changes whenever the source wants a fresh start: the worker then drops pending input,
    // restarts its poll timer and calls enter() with the phase it saw.
    virtual int64_t phase() const = 0;
    virtual void enter(int64_t phase) { (void)phase; }
    // Period between two passes, ms.
    virtual int periodMs() const = 0;
    // One pass: true with the read to perform, false for a pass without a read.
    virtual bool next(PollRead *read) = 0;
    // The worker's account of a read this source asked for: registers landed, or -1.
    virtual void done(const PollRead &read, int landed) {
        (void)read;
        (void)landed;
    }
};

// The pages' plans, following pollMode for the controller at deviceAddr. Its passes are those of
// pollPlan(): the same frames in the same order at the same periods.
class PageFollower : public PollSource {
public:
    int64_t phase() const override;
    void enter(int64_t phase) override;
    int periodMs() const override;
    bool next(PollRead *read) override;
    void done(const PollRead &read, int landed) override;

private:
    int32_t m_mode = -1;
};

// ---------------------------------------------------------------------------------------------
// Read list: blocks of one address to be read once each, ahead of the page's plan.
constexpr int kReadListEntries = 16;
constexpr int kReadListPeriodMs = 500;

// GUI: hands a list to the worker (replacing any list not yet done) and wakes it; returns the
// list's generation. n is clamped to kReadListEntries.
uint32_t queueReadList(uint8_t addr, const PlanRead *reads, int n);
// GUI: drops the list of generation (a newer list stays); the page's plan resumes.
void cancelReadList(uint32_t generation);
// Which entries of the list of generation have landed (bit i: entry i); 0 for an older list.
uint32_t readListLanded(uint32_t generation);

// The worker's side of the read list: the next entry not yet landed, in turn.
class ReadListSource : public PollSource {
public:
    // Whether a list is waiting to be read.
    bool active() const;
    int64_t phase() const override;
    int periodMs() const override { return kReadListPeriodMs; }
    bool next(PollRead *read) override;
    void done(const PollRead &read, int landed) override;

private:
    uint32_t m_generation = 0;
    int m_next = 0;
};
