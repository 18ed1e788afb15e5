#pragma once
// Hand-over from the link worker to the audit log: every function-16 transaction the worker
// finishes is noted here with its outcome, at the moment the outcome is known, and handed at once
// (in the noting thread) to the audit log's writer, so that no later consumer can miss it.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct WriteOutcome {
    uint64_t seq = 0;
    int64_t atMs = 0; // mirrorClockMs when the transaction ended
    uint8_t addr = 0;
    uint16_t start = 0;
    uint8_t count = 0;
    std::vector<uint8_t> data; // count * 2 bytes, wire order
    bool confirmed = false;
    bool cancelled = false; // the operator answered No: nothing was sent
    std::string failure;    // "no answer", "exception 2 (illegal data address)", ...
    std::string link;       // the link as the operator sees it: "/dev/ttyUSB0", "host:502 (...)"
};

// Takes each outcome in the thread that notes it (the link worker for a transaction, the window
// for a cancelled command), before the worker goes on to its next transaction.
class WriteOutcomeSink {
public:
    virtual ~WriteOutcomeSink() = default;
    virtual void writeNoted(const WriteOutcome &outcome) = 0;
};
// The one sink, in place of any other.
void setWriteOutcomeSink(WriteOutcomeSink *sink);
// Removes sink when it is the one set, after every call in progress has returned: no call
// reaches it afterwards.
void removeWriteOutcomeSink(WriteOutcomeSink *sink);

// Notes one outcome: seq and atMs are stamped here. The journal keeps the latest
// kWriteJournalSize notes for a look back; the sink gets every one.
constexpr int kWriteJournalSize = 1024;
void noteWriteOutcome(WriteOutcome outcome);
// The same for a write of count registers from data (wire order).
void noteWriteOutcome(uint8_t addr, uint16_t start, uint8_t count, const uint8_t *data,
                      bool confirmed, const char *failure, const char *link = "");
// Notes newer than *seq still in the journal, oldest first; *seq becomes the newest one's number.
std::vector<WriteOutcome> writeOutcomesSince(uint64_t *seq);
// Number of the newest note (0 before the first).
uint64_t lastWriteOutcomeSeq();
