#include "writejournal.h"

#include "registermirror.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

std::mutex journalLock;
std::deque<WriteOutcome> journal;
uint64_t nextSeq = 1;

// The sink is called without the lock held (it writes a file and may emit a signal); removing
// it waits until no call is in progress, so a sink is never called after it was removed.
std::mutex sinkLock;
std::condition_variable sinkIdle;
WriteOutcomeSink *outcomeSink = nullptr;
int sinkCalls = 0;

} // namespace

void setWriteOutcomeSink(WriteOutcomeSink *sink) {
    std::lock_guard<std::mutex> guard(sinkLock);
    outcomeSink = sink;
}

void removeWriteOutcomeSink(WriteOutcomeSink *sink) {
    std::unique_lock<std::mutex> lock(sinkLock);
    sinkIdle.wait(lock, [] { return sinkCalls == 0; });
    if (outcomeSink == sink)
        outcomeSink = nullptr;
}

void noteWriteOutcome(WriteOutcome w) {
    w.atMs = mirrorClockMs();
    {
        std::lock_guard<std::mutex> guard(journalLock);
        w.seq = nextSeq++;
        journal.push_back(w);
        while (journal.size() > static_cast<size_t>(kWriteJournalSize))
            journal.pop_front();
    }
    WriteOutcomeSink *sink = nullptr;
    {
        std::lock_guard<std::mutex> guard(sinkLock);
        sink = outcomeSink;
        if (sink)
            ++sinkCalls;
    }
    if (!sink)
        return;
    sink->writeNoted(w);
    std::lock_guard<std::mutex> guard(sinkLock);
    if (--sinkCalls == 0)
        sinkIdle.notify_all();
}

void noteWriteOutcome(uint8_t addr, uint16_t start, uint8_t count, const uint8_t *data,
                      bool confirmed, const char *failure, const char *link) {
    WriteOutcome w;
    w.addr = addr;
    w.start = start;
    w.count = count;
    if (data)
        w.data.assign(data, data + 2 * count);
    w.confirmed = confirmed;
    w.failure = failure ? failure : "";
    w.link = link ? link : "";
    noteWriteOutcome(std::move(w));
}

std::vector<WriteOutcome> writeOutcomesSince(uint64_t *seq) {
    std::lock_guard<std::mutex> guard(journalLock);
    std::vector<WriteOutcome> out;
    for (const WriteOutcome &w : journal)
        if (w.seq > *seq)
            out.push_back(w);
    if (!journal.empty())
        *seq = journal.back().seq;
    return out;
}

uint64_t lastWriteOutcomeSeq() {
    std::lock_guard<std::mutex> guard(journalLock);
    return nextSeq - 1;
}
