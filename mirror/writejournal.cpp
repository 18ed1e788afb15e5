#include "writejournal.h"

#include "registermirror.h"

#include <deque>
#include <mutex>

namespace {

std::mutex journalLock;
std::deque<WriteOutcome> journal;
uint64_t nextSeq = 1;

} // namespace

void noteWriteOutcome(uint8_t addr, uint16_t start, uint8_t count, const uint8_t *data,
                      bool confirmed, const char *failure) {
    WriteOutcome w;
    w.atMs = mirrorClockMs();
    w.addr = addr;
    w.start = start;
    w.count = count;
    if (data)
        w.data.assign(data, data + 2 * count);
    w.confirmed = confirmed;
    w.failure = failure ? failure : "";
    std::lock_guard<std::mutex> guard(journalLock);
    w.seq = nextSeq++;
    journal.push_back(std::move(w));
    while (journal.size() > static_cast<size_t>(kWriteJournalSize))
        journal.pop_front();
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
