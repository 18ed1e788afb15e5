#include "loggerround.h"

#include "registermirror.h"
#include "systick.h"

#include <algorithm>

namespace {

// Ticks are unsigned and wrap: a is at or after b when the signed difference says so.
bool reached(uint32_t now, uint32_t due) { return static_cast<int32_t>(now - due) >= 0; }

// As many registers as the pages read: the Data page's blocks 100, the Pack page's 92, the
// identity block as the Settings cycle reads it.
constexpr uint8_t kDataRegs = 100;
constexpr uint8_t kPackRegs = 92;
constexpr int kIdentityBlock = 86;

} // namespace

QVector<PollRead> loggerReads(uint8_t addr, bool withData, bool withPack) {
    QVector<PollRead> reads;
    auto add = [&](int block, int count) {
        PollRead r;
        r.addr = addr;
        r.function = kFunctionRead;
        r.block = static_cast<uint16_t>(block);
        r.count = static_cast<uint8_t>(count);
        reads << r;
    };
    for (const PlanRead &r : kBusReads)
        add(r.block, r.count);
    int blocks[16];
    if (withData) {
        for (int i = 0, n = pageBlocks(kModeData, blocks); i < n; ++i)
            add(blocks[i], kDataRegs);
        for (const PlanRead &r : kSettingsCycle)
            if (r.block == kIdentityBlock)
                add(r.block, r.count);
    }
    if (withPack)
        for (int i = 0, n = pageBlocks(kModePack, blocks); i < n; ++i)
            add(blocks[i], kPackRegs);
    return reads;
}

LoggerRound::LoggerRound(const QVector<int> &addresses, const LoggerPeriods &periods)
    : m_periods(periods) {
    m_periods.roundMs = std::max(1, m_periods.roundMs);
    for (int a : addresses) {
        Slot s;
        s.account.addr = static_cast<uint8_t>(a);
        m_slots.push_back(s);
    }
}

std::vector<BusController> LoggerRound::controllers() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<BusController> out;
    for (const Slot &s : m_slots)
        out.push_back(s.account);
    return out;
}

void LoggerRound::enter(int64_t) {
    // The link (re)started: a fresh round at once, every slower read due in it.
    std::lock_guard<std::mutex> guard(m_lock);
    const uint32_t now = currentTick();
    m_inRound = false;
    m_pending.clear();
    m_nextRoundTick = now;
    for (Slot &s : m_slots) {
        s.dataDueTick = now;
        s.packDueTick = now;
    }
}

LoggerRound::Slot *LoggerRound::slotFor(uint8_t addr) {
    for (Slot &s : m_slots)
        if (s.account.addr == addr)
            return &s;
    return nullptr;
}

void LoggerRound::beginRound(uint32_t now) {
    m_pending.clear();
    m_at = 0;
    // Every controller's Home record and alarm words first: the round ends with them, so that
    // what is published after it is never held back by the slower blocks, which follow in the
    // round's tail before the next round begins.
    QVector<PollRead> tail;
    for (Slot &s : m_slots) {
        if (s.account.backedOff(now))
            continue;
        const bool data = reached(now, s.dataDueTick);
        const bool pack = reached(now, s.packDueTick);
        const QVector<PollRead> reads = loggerReads(s.account.addr, data, pack);
        m_pending += reads.mid(0, kBusReadsPerController);
        tail += reads.mid(kBusReadsPerController);
        if (data)
            s.dataDueTick = now + static_cast<uint32_t>(std::max(1, m_periods.dataMs));
        if (pack)
            s.packDueTick = now + static_cast<uint32_t>(std::max(1, m_periods.packMs));
    }
    m_endOfRound = m_pending.size();
    m_pending += tail;
    m_inRound = true;
    m_roundCounted = false;
    // Rounds keep their rhythm; a round that ran long is followed by the next at once, never
    // by a burst of rounds to catch up.
    m_nextRoundTick = reached(now, m_nextRoundTick + m_periods.roundMs)
                          ? now + static_cast<uint32_t>(m_periods.roundMs)
                          : m_nextRoundTick + static_cast<uint32_t>(m_periods.roundMs);
}

int LoggerRound::periodMs() const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_inRound)
        return 1; // the round's reads go out back to back
    const int32_t wait = static_cast<int32_t>(m_nextRoundTick - currentTick());
    return std::max(1, wait);
}

bool LoggerRound::next(PollRead *read) {
    std::lock_guard<std::mutex> guard(m_lock);
    const uint32_t now = currentTick();
    if (!m_inRound) {
        if (!reached(now, m_nextRoundTick))
            return false;
        beginRound(now);
    }
    while (m_at < m_pending.size()) {
        endRoundAt(m_endOfRound);
        const PollRead r = m_pending.at(m_at++);
        Slot *s = slotFor(r.addr);
        // A controller that failed earlier in this round is not asked again until its back-off
        // has passed.
        if (s && s->account.backedOff(now))
            continue;
        if (s)
            ++s->account.asked;
        *read = r;
        return true;
    }
    endRoundAt(m_pending.size());
    m_inRound = false;
    return false;
}

void LoggerRound::endRoundAt(int position) {
    // Under m_lock. Counted once per round, when the reads up to position have been handed
    // out and answered (or skipped).
    if (!m_roundCounted && m_at >= position) {
        m_roundCounted = true;
        m_rounds.fetch_add(1, std::memory_order_acq_rel);
    }
}

void LoggerRound::done(const PollRead &read, int landed) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (Slot *s = slotFor(read.addr))
        noteBusOutcome(s->account, landed >= 0, currentTick());
    // The round ends with the outcome of its last Home or alarm read, not a pass later.
    if (m_inRound) {
        endRoundAt(m_endOfRound);
        if (m_at >= m_pending.size())
            m_inRound = false;
    }
}
