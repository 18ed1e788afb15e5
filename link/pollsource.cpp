#include "pollsource.h"

#include "registermirror.h"

#include <algorithm>
#include <mutex>

int64_t PageFollower::phase() const { return pollMode.load(std::memory_order_acquire); }

void PageFollower::enter(int64_t phase) {
    m_mode = static_cast<int32_t>(phase);
    enterPollMode(m_mode);
}

int PageFollower::periodMs() const { return std::max<int32_t>(1, pollPeriod.load()); }

bool PageFollower::next(PollRead *read) {
    pollPlan(m_mode);
    if (readPending.load(std::memory_order_acquire) != 1)
        return false;
    read->addr = deviceAddr.load(std::memory_order_acquire);
    read->function = funcCode.load();
    read->block = startAddr.load();
    read->count = regCount.load();
    return true;
}

void PageFollower::done(const PollRead &read, int landed) {
    // A fault record counts as read only when it is this walk's next record of the selected
    // controller and arrived whole; reads of other pages' blocks while the walk is paused do
    // not advance it.
    if (faultWalk.load() == 1 && landed == read.count && read.addr == deviceAddr.load() &&
        read.block == kFaultRecordFirstBlock + faultIndex.load())
        faultIndex.fetch_add(1);
}

// ---------------------------------------------------------------------------------------------

namespace {

std::mutex listLock;
// Written under listLock; atomics so that the worker's every step can ask whether a list waits
// without taking the lock.
std::atomic<uint32_t> listGeneration{0};
std::atomic<bool> listActive{false};
uint8_t listAddr = 0;
int listSize = 0;
PlanRead listReads[kReadListEntries];
std::atomic<uint32_t> landedGeneration{0};
std::atomic<uint32_t> landedMask{0};

} // namespace

uint32_t queueReadList(uint8_t addr, const PlanRead *reads, int n) {
    uint32_t generation = 0;
    {
        std::lock_guard<std::mutex> guard(listLock);
        listSize = std::max(0, std::min(n, kReadListEntries));
        std::copy(reads, reads + listSize, listReads);
        listAddr = addr;
        listActive = listSize > 0;
        generation = ++listGeneration;
        landedMask.store(0, std::memory_order_relaxed);
        landedGeneration.store(generation, std::memory_order_release);
    }
    wakeLinkWorker();
    return generation;
}

void cancelReadList(uint32_t generation) {
    {
        std::lock_guard<std::mutex> guard(listLock);
        if (generation != listGeneration)
            return;
        listActive = false;
    }
    wakeLinkWorker();
}

uint32_t readListLanded(uint32_t generation) {
    std::lock_guard<std::mutex> guard(listLock);
    return landedGeneration.load(std::memory_order_acquire) == generation
               ? landedMask.load(std::memory_order_acquire)
               : 0;
}

bool ReadListSource::active() const { return listActive.load(std::memory_order_acquire); }

int64_t ReadListSource::phase() const { return listGeneration.load(std::memory_order_acquire); }

bool ReadListSource::next(PollRead *read) {
    std::lock_guard<std::mutex> guard(listLock);
    if (!listActive)
        return false;
    if (m_generation != listGeneration) {
        m_generation = listGeneration;
        m_next = 0;
    }
    const uint32_t landed = landedMask.load(std::memory_order_acquire);
    // The entries not yet landed in turn, so that one block that fails does not hold up the rest.
    for (int k = 0; k < listSize; ++k) {
        const int i = (m_next + k) % listSize;
        if (landed & (1u << i))
            continue;
        m_next = (i + 1) % listSize;
        read->addr = listAddr;
        read->function = kFunctionRead;
        read->block = listReads[i].block;
        read->count = listReads[i].count;
        return true;
    }
    return false;
}

void ReadListSource::done(const PollRead &read, int landed) {
    if (landed < 0)
        return;
    std::lock_guard<std::mutex> guard(listLock);
    if (m_generation != listGeneration || read.addr != listAddr)
        return;
    for (int i = 0; i < listSize; ++i)
        if (listReads[i].block == read.block)
            landedMask.fetch_or(1u << i, std::memory_order_acq_rel);
    // Every block read: the page's plan resumes at once.
    if (landedMask.load(std::memory_order_acquire) == (1u << listSize) - 1)
        listActive = false;
}
