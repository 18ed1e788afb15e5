#pragma once
// Hand-over from the link worker to the window's audit log: every function-16 transaction the
// worker finishes is noted here with its outcome, and the window takes the notes in order.

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
    std::string failure; // "no answer", "exception 2 (illegal data address)", ...
};

// Worker: notes one write. The journal keeps the latest kWriteJournalSize notes.
constexpr int kWriteJournalSize = 1024;
void noteWriteOutcome(uint8_t addr, uint16_t start, uint8_t count, const uint8_t *data,
                      bool confirmed, const char *failure);
// Notes newer than *seq, oldest first; *seq becomes the newest one's number.
std::vector<WriteOutcome> writeOutcomesSince(uint64_t *seq);
// Number of the newest note (0 before the first).
uint64_t lastWriteOutcomeSeq();
