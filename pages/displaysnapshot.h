#pragma once
// The display snapshot: the copy of the register mirror that one page pass paints from, in the
// controller's record layout. It is taken once at the start of every page pass; the page
// refreshers read only this copy, never the mirror, so every field of a pass comes from the same
// moment (a block the link worker rewrites during the copy may still mix old and new cells).
//
// Four transformations turn mirror cells into record fields:
//   verbatim      the 16-bit cell as it is;
//   unsigned 32   two cells, the lower-numbered one the high half;
//   string        two characters per cell (high byte first), ending at the first NUL;
//   low byte      the cell's low 8 bits as a signed number.

#include "registermirror.h"
#include "safetext.h"

#include <QString>

#include <cstdint>
#include <memory>

constexpr int kStackWords = 24; // stack part of the summary record (block 0 cells 0..23)
constexpr int kRackCount = 15;
constexpr int kRackWords = 9;
constexpr int kSummaryWords = kStackWords + kRackCount * kRackWords; // 159: 0:0..0:95, 1:0..1:62
constexpr int kPackCount = 15;
constexpr int kPackWords = 92;
constexpr int kFirstPackBlock = 7;
constexpr int kSnapshotBlocks = 92; // blocks 0..91 of the register mirror

// A string field of `cells` registers: up to 2 * cells characters and the terminating NUL.
template <int Cells> struct SnapshotText {
    static constexpr int kCells = Cells;
    char chars[2 * Cells + 1] = {};
    // Up to the first NUL, each byte one Latin-1 character; control characters are shown as
    // U+FFFD, so that a controller's text cannot break a line or hide part of itself.
    QString text() const {
        return printableText(
            QString::fromLatin1(chars, static_cast<int>(qstrnlen(chars, sizeof chars))));
    }
};

// Block 2: the stack controller's own record.
struct HostRecord {
    int16_t word[100] = {};   // verbatim cells 0..40, 51..62 and 93..99 (others stay 0)
    uint32_t total[5] = {};   // cells 41/42, 43/44, 45/46, 47/48, 49/50
    SnapshotText<10> text[3]; // cells 63..72, 73..82, 83..92
};

// Block 86.
struct DeviceInfoRecord {
    int16_t word[45] = {};   // verbatim cells 0 and 12 (others stay 0)
    SnapshotText<11> text1;  // cells 1..11
    SnapshotText<2> text13;  // cells 13..14
    SnapshotText<12> text15; // cells 15..26
    SnapshotText<10> text27; // cells 27..36
    SnapshotText<3> text37;  // cells 37..39
    SnapshotText<5> text40;  // cells 40..44
};

// Block 89.
struct AlarmConfigRecord {
    int8_t low[2] = {};    // cells 0 and 1, low byte signed
    int16_t word[20] = {}; // verbatim cells 2..19 (0 and 1 stay 0)
};

struct DisplaySnapshot {
    int16_t summary[kSummaryWords] = {};       // stack and rack summary
    HostRecord host;                           // block 2
    int16_t groupA[16] = {};                   // block 3
    int16_t groupB[19] = {};                   // block 4
    int16_t groupC[15] = {};                   // block 5
    int16_t faultBits[4] = {};                 // block 6
    int16_t pack[kPackCount][kPackWords] = {}; // blocks 7..21
    DeviceInfoRecord deviceInfo;               // block 86
    int16_t thermal[50] = {};                  // block 88
    AlarmConfigRecord alarmConfig;             // block 89
    int16_t cooling[10] = {};                  // block 90
    int16_t misc[3] = {};                      // block 91

    // Taken with the records: the selected controller's address (deviceAddr) and whether each
    // block's values were live then (blockIsLive at the moment of the copy).
    uint8_t address = 0;
    bool live[kSnapshotBlocks] = {};
};

// Whether the values of block on screen are live: read on the running link since its Connect,
// and not longer ago than three of the block's poll cycles (blocks read only on request stay
// live once read), by an answer that carried all the registers asked. Values that are not live
// are drawn dimmed.
bool blockIsLive(const RegisterMirror &mirror, int block, int64_t nowMs);
// The same for the selected controller's mirror.
bool blockIsLive(int block, int64_t nowMs);

// Fills every record of `out` from the register mirror, with the address and the liveness.
void takeDisplaySnapshot(DisplaySnapshot &out);
// The same for the controller at address (its own mirror), whichever is selected.
void takeDisplaySnapshot(DisplaySnapshot &out, uint8_t address);

// The snapshot the page pass of the main window paints from (GUI thread only).
extern DisplaySnapshot displaySnapshot;
// Fills displaySnapshot.
void takeDisplaySnapshot();

// Read access to one snapshot record by the cell numbers of its source block, so one formatting
// loop serves every record. Cells a record does not hold read as 0 / empty.
class SnapshotRecord {
public:
    virtual ~SnapshotRecord() = default;
    virtual uint16_t word(int cell) const = 0;
    virtual uint32_t total(int cell) const; // unsigned 32-bit field starting at cell
    virtual QString text(int cell) const;   // string field starting at cell
    virtual int lowByte(int cell) const;    // low-byte field at cell
};

// A record of verbatim words: cell i is words[i].
class WordRecord : public SnapshotRecord {
public:
    WordRecord(const int16_t *words, int count) : m_words(words), m_count(count) {}
    uint16_t word(int cell) const override;

private:
    const int16_t *m_words;
    int m_count;
};

class HostRecordView : public SnapshotRecord {
public:
    explicit HostRecordView(const HostRecord &r) : m_r(r) {}
    uint16_t word(int cell) const override;
    uint32_t total(int cell) const override;
    QString text(int cell) const override;

private:
    const HostRecord &m_r;
};

class DeviceInfoView : public SnapshotRecord {
public:
    explicit DeviceInfoView(const DeviceInfoRecord &r) : m_r(r) {}
    uint16_t word(int cell) const override;
    QString text(int cell) const override;

private:
    const DeviceInfoRecord &m_r;
};

class AlarmConfigView : public SnapshotRecord {
public:
    explicit AlarmConfigView(const AlarmConfigRecord &r) : m_r(r) {}
    uint16_t word(int cell) const override;
    int lowByte(int cell) const override;

private:
    const AlarmConfigRecord &m_r;
};

// The record of `snapshot` that holds the fields of a block's read fields: blocks 0 (the stack
// part of the summary), 2, 3, 4, 5, 86, 88, 89, 90 and 91. nullptr for any other block.
std::unique_ptr<SnapshotRecord> blockRecord(const DisplaySnapshot &snapshot, int block);
