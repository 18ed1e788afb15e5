#include "displaysnapshot.h"

#include "pollplan.h"
#include "registermirror.h"

#include <atomic>

DisplaySnapshot displaySnapshot;

namespace {


// A block not read for this many of its poll cycles is no longer live.
constexpr int kStaleCycles = 3;

inline int cellIndex(int block, int cell) {
    return block * kBlockSize + cell;
}

void copyWords(const RegisterMirror &m, int block, int first, int count, int16_t *out) {
    m.copy(cellIndex(block, first), count, out);
}

// Cells [first, first + Cells) as two characters each, high byte first; the NUL after the last
// character is part of the field and never written.
template <int Cells> void copyText(const RegisterMirror &m, int block, int first, SnapshotText<Cells> &out) {
    int16_t cells[Cells];
    copyWords(m, block, first, Cells, cells);
    for (int i = 0; i < Cells; ++i) {
        const auto w = static_cast<uint16_t>(cells[i]);
        out.chars[2 * i] = static_cast<char>(w >> 8);
        out.chars[2 * i + 1] = static_cast<char>(w & 0xFF);
    }
    out.chars[2 * Cells] = '\0';
}

void takeHost(const RegisterMirror &m, HostRecord &r) {
    constexpr int block = 2;
    int16_t cells[kBlockSize];
    copyWords(m, block, 0, kBlockSize, cells);
    for (int i = 0; i < kBlockSize; ++i) {
        const bool verbatim = i <= 40 || (i >= 51 && i <= 62) || i >= 93;
        r.word[i] = verbatim ? cells[i] : 0;
    }
    for (int k = 0; k < 5; ++k) {
        const int first = 41 + 2 * k;
        r.total[k] = (static_cast<uint32_t>(static_cast<uint16_t>(cells[first])) << 16) |
                     static_cast<uint16_t>(cells[first + 1]);
    }
    for (int k = 0; k < 3; ++k)
        copyText(m, block, 63 + 10 * k, r.text[k]);
}

void takeDeviceInfo(const RegisterMirror &m, DeviceInfoRecord &r) {
    constexpr int block = 86;
    for (auto &w : r.word)
        w = 0;
    r.word[0] = m.cell(block, 0);
    r.word[12] = m.cell(block, 12);
    copyText(m, block, 1, r.text1);
    copyText(m, block, 13, r.text13);
    copyText(m, block, 15, r.text15);
    copyText(m, block, 27, r.text27);
    copyText(m, block, 37, r.text37);
    copyText(m, block, 40, r.text40);
}

void takeAlarmConfig(const RegisterMirror &m, AlarmConfigRecord &r) {
    constexpr int block = 89;
    copyWords(m, block, 0, 20, r.word);
    for (int i = 0; i < 2; ++i) {
        r.low[i] = static_cast<int8_t>(static_cast<uint16_t>(r.word[i]) & 0xFF);
        r.word[i] = 0;
    }
}

} // namespace

void takeDisplaySnapshot(DisplaySnapshot &out) {
    // One controller's mirror for the whole snapshot: the selected one when it begins.
    takeDisplaySnapshot(out, deviceAddr.load(std::memory_order_acquire));
}

void takeDisplaySnapshot(DisplaySnapshot &out, uint8_t address) {
    out.address = address;
    const RegisterMirror &m = mirrorOf(address);
    copyWords(m, 0, 0, 96, out.summary);
    copyWords(m, 1, 0, kSummaryWords - 96, out.summary + 96);
    takeHost(m, out.host);
    copyWords(m, 3, 0, 16, out.groupA);
    copyWords(m, 4, 0, 19, out.groupB);
    copyWords(m, 5, 0, 15, out.groupC);
    copyWords(m, 6, 0, 4, out.faultBits);
    for (int k = 0; k < kPackCount; ++k)
        copyWords(m, kFirstPackBlock + k, 0, kPackWords, out.pack[k]);
    takeDeviceInfo(m, out.deviceInfo);
    copyWords(m, 88, 0, 50, out.thermal);
    takeAlarmConfig(m, out.alarmConfig);
    copyWords(m, 90, 0, 10, out.cooling);
    copyWords(m, 91, 0, 3, out.misc);
    const int64_t now = mirrorClockMs();
    for (int block = 0; block < kSnapshotBlocks; ++block)
        out.live[block] = blockIsLive(m, block, now);
}

bool blockIsLive(int block, int64_t nowMs) { return blockIsLive(*registerMirror, block, nowMs); }

bool blockIsLive(const RegisterMirror &m, int block, int64_t nowMs) {
    if (!linkRunning.load(std::memory_order_acquire))
        return false;
    const int64_t landed = m.landedAtMs(block);
    if (landed == 0 || landed < linkStartedAtMs.load(std::memory_order_acquire) ||
        m.landedShort(block))
        return false;
    const int cycle = blockPollCycleMs(block);
    return cycle == 0 || nowMs - landed <= int64_t(kStaleCycles) * cycle;
}

void takeDisplaySnapshot() { takeDisplaySnapshot(displaySnapshot); }

// ---------------------------------------------------------------------------------------------

uint32_t SnapshotRecord::total(int) const {
    return 0;
}
QString SnapshotRecord::text(int) const {
    return {};
}
int SnapshotRecord::lowByte(int cell) const {
    return static_cast<int8_t>(word(cell) & 0xFF);
}

uint16_t WordRecord::word(int cell) const {
    return (cell >= 0 && cell < m_count) ? static_cast<uint16_t>(m_words[cell]) : 0;
}

uint16_t HostRecordView::word(int cell) const {
    return (cell >= 0 && cell < 100) ? static_cast<uint16_t>(m_r.word[cell]) : 0;
}

uint32_t HostRecordView::total(int cell) const {
    if (cell < 41 || cell > 49 || (cell - 41) % 2 != 0)
        return 0;
    return m_r.total[(cell - 41) / 2];
}

QString HostRecordView::text(int cell) const {
    if (cell < 63 || cell > 83 || (cell - 63) % 10 != 0)
        return {};
    return m_r.text[(cell - 63) / 10].text();
}

uint16_t DeviceInfoView::word(int cell) const {
    return (cell >= 0 && cell < 45) ? static_cast<uint16_t>(m_r.word[cell]) : 0;
}

QString DeviceInfoView::text(int cell) const {
    switch (cell) {
    case 1:
        return m_r.text1.text();
    case 13:
        return m_r.text13.text();
    case 15:
        return m_r.text15.text();
    case 27:
        return m_r.text27.text();
    case 37:
        return m_r.text37.text();
    case 40:
        return m_r.text40.text();
    default:
        return {};
    }
}

uint16_t AlarmConfigView::word(int cell) const {
    return (cell >= 0 && cell < 20) ? static_cast<uint16_t>(m_r.word[cell]) : 0;
}

int AlarmConfigView::lowByte(int cell) const {
    return (cell == 0 || cell == 1) ? m_r.low[cell] : 0;
}

std::unique_ptr<SnapshotRecord> blockRecord(const DisplaySnapshot &s, int block) {
    switch (block) {
    case 0:
        return std::make_unique<WordRecord>(s.summary, kStackWords);
    case 2:
        return std::make_unique<HostRecordView>(s.host);
    case 3:
        return std::make_unique<WordRecord>(s.groupA, 16);
    case 4:
        return std::make_unique<WordRecord>(s.groupB, 19);
    case 5:
        return std::make_unique<WordRecord>(s.groupC, 15);
    case 86:
        return std::make_unique<DeviceInfoView>(s.deviceInfo);
    case 88:
        return std::make_unique<WordRecord>(s.thermal, 50);
    case 89:
        return std::make_unique<AlarmConfigView>(s.alarmConfig);
    case 90:
        return std::make_unique<WordRecord>(s.cooling, 10);
    case 91:
        return std::make_unique<WordRecord>(s.misc, 3);
    default:
        return nullptr;
    }
}
