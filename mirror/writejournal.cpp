#include "writejournal.h"

#include "registermirror.h"

#include <deque>
#include <mutex>

namespace {

std::mutex journalLock;
std::deque<WriteOutcome> journal;
uint64_t nextSeq = 1;

// Held while the sink is called and while it is changed, so that a sink is never called after
// it was removed. The sink only formats and appends a line: it never calls back in here.
std::mutex sinkLock;
WriteOutcomeSink *outcomeSink = nullptr;

} // namespace

void setWriteOutcomeSink(WriteOutcomeSink *sink) {
    std::lock_guard<std::mutex> guard(sinkLock);
    outcomeSink = sink;
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
    std::lock_guard<std::mutex> guard(sinkLock);
    if (outcomeSink)
        outcomeSink->writeNoted(w);
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
