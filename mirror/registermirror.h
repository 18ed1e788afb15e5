#pragma once
// The register mirror: the last value read for every register of blocks 0-91, and the
// shared link state through which the GUI thread hands work to the link worker.
//
// Cross-thread rules: every flag and word is a std::atomic. Payloads (a staged write, a
// write list) are filled under a small lock and released by the flag stored after them;
// the worker takes a copy of a payload under the same lock before it uses it, so a later
// staging can never change a frame that is being sent.

#include <atomic>
#include <cstddef>
#include <cstdint>

constexpr int kMirrorBlocks = 92;
constexpr int kBlockSize = 100;
constexpr int kMirrorCells = kMirrorBlocks * kBlockSize;

// ---------------------------------------------------------------------------------------------
// Register mirror: 9200 signed 16-bit cells of one controller, index = block * 100 + register.
// Written only by the link worker, with the answers of the controller it belongs to; relaxed
// atomics make each cell's access well defined, and a page that copies a block while it is
// rewritten may see old and new cells side by side.
class RegisterMirror {
public:
    // Value of one cell; 0 for an index outside the mirror.
    int16_t cell(int index) const;
    int16_t cell(int block, int reg) const { return cell(block * kBlockSize + reg); }
    // Copies cells [first, first + n) into out (cells outside the mirror read as 0).
    void copy(int first, int n, int16_t *out) const;
    // Stores count big-endian words from data into block's cells 0..count-1. Words that would
    // fall outside the block are not stored. Returns the number of cells written.
    int land(int block, const uint8_t *data, int count);
    // Number of reads landed in block since start (wrapping; 0 for a block outside the
    // mirror). A cell is 0 both before its first read and when the controller reports 0;
    // comparing this count with one taken earlier tells whether the block has been read since.
    uint32_t landings(int block) const;
    // When block was last landed, on the steady clock of mirrorClockMs (0: never).
    int64_t landedAtMs(int block) const;
    // Worker, before landing a read of block: whether the answer carried fewer registers than
    // asked. The pages show a block whose last read was short as not live.
    void setShort(int block, bool shortAnswer);
    bool landedShort(int block) const;
    // Test helper and simulator reset: sets one cell.
    void setCell(int index, int16_t value);
    // Every cell back to 0 and every block to never landed (landing counts keep counting).
    void clear();
    // Whether anything was ever stored in this mirror.
    bool used() const { return m_used.load(std::memory_order_acquire); }

private:
    // No initialisers: the mirrors live in static storage, zero from the start, and a mirror
    // no controller ever answered for costs no memory.
    std::atomic<int16_t> m_cells[kMirrorCells];
    std::atomic<uint32_t> m_landings[kMirrorBlocks];
    std::atomic<int64_t> m_landedAt[kMirrorBlocks];
    std::atomic<bool> m_short[kMirrorBlocks];
    std::atomic<bool> m_used;
};

// Every device address (0..255) has a mirror of its own for the life of the process: answers of
// the controller at one address never land in another's.
RegisterMirror &mirrorOf(uint8_t address);

// `registerMirror` is the selected controller's mirror, the one at deviceAddr: the pages, the
// export and the write paths read it (registerMirror->cell(2, 17)).
struct SelectedMirror {
    RegisterMirror &operator*() const;
    RegisterMirror *operator->() const { return &**this; }
};
extern const SelectedMirror registerMirror;

// Controller facts read from a mirror, named once: the Home block (the controller's own record)
// and the number of controllers on the line it reports (low byte of its register 17).
constexpr int kHomeBlock = 2;
constexpr int kDeviceCountReg = 17;
inline int deviceCount(const RegisterMirror &mirror)
{
    return mirror.cell(kHomeBlock, kDeviceCountReg) & 0xFF;
}

// The selected controller's cells and landings (registerMirror's).
int16_t mirrorCell(int index);
inline int16_t mirrorCell(int block, int reg) { return mirrorCell(block * kBlockSize + reg); }
void copyMirror(int first, int n, int16_t *out);
int landRegisters(int block, const uint8_t *data, int count);
uint32_t blockLandings(int block);
int64_t blockLandedAtMs(int block);
void setBlockShort(int block, bool shortAnswer);
bool blockLandedShort(int block);
void setMirrorCell(int index, int16_t value);
// Milliseconds on a steady clock (never 0 once the process runs); the landing stamps use it.
int64_t mirrorClockMs();
// Clears every mirror that was used (start-up state; used by tests).
void clearMirror();

// ---------------------------------------------------------------------------------------------
// Shared link state.
extern std::atomic<int32_t> pollMode;     // 0 Home, 1 Data, 2 Settings, 3 Fault, 4 Pack
extern std::atomic<int32_t> pollPeriod;   // ms
extern std::atomic<uint8_t> linkOp;       // 0 poll, 1 staged write, 2 list to addr, 3 list to all
extern std::atomic<uint8_t> funcCode;     // function code of the request in progress (worker)
extern std::atomic<uint16_t> startAddr;   // address field of the request in progress (worker)
extern std::atomic<uint8_t> regCount;     // register count of the request in progress (worker)
extern std::atomic<uint8_t> readPending;
extern std::atomic<uint8_t> writePending;
extern std::atomic<uint8_t> writeListCount;
extern std::atomic<uint8_t> faultWalk;
extern std::atomic<uint8_t> faultCount;
extern std::atomic<uint8_t> faultIndex;
extern std::atomic<int32_t> respTimeout;  // ms per attempt
extern std::atomic<uint8_t> portEnabled;
extern std::atomic<uint8_t> linkRunning;
// The selected controller's address: the pages show its mirror, and the page's reads, staged
// writes and lists are sent to it. Written only where the operator chooses the controller.
extern std::atomic<uint8_t> deviceAddr;

// Parameters edited by the operator since they were last queued (GUI thread only).
constexpr int kParamCount = 85;
extern uint8_t paramEdited[kParamCount];

// Page pass period of the refresh cycle (GUI thread only).
extern uint32_t refreshPeriod;

// ---------------------------------------------------------------------------------------------
// Staged single write (linkOp 1).
constexpr int kWriteDataSize = 256;
struct StagedWrite {
    uint8_t addr = 0; // the selected controller when it was staged
    uint8_t func = 16;
    uint16_t start = 0;
    uint8_t count = 0;
    uint8_t data[kWriteDataSize] = {};
};
// GUI: stores the payload with the selected controller's address (deviceAddr now), then sets
// writePending = 1 and linkOp = 1 (in that order). A list
// queued or running (linkOp 2 or 3) keeps linkOp: the worker performs the write when the list
// is done. count is clamped so that count * 2 bytes fit the data buffer.
void stageWriteRequest(uint8_t func, uint16_t start, uint8_t count, const uint8_t *data,
                       int dataLen);
// Worker: copies the staged payload.
StagedWrite takeStagedWrite();

// ---------------------------------------------------------------------------------------------
// Write list (linkOp 2 and 3).
constexpr int kWriteListEntries = 85;
constexpr int kWriteListDataSize = 51;
constexpr int kWriteListMaxRegs = 25;
struct WriteListEntry {
    uint16_t reg = 0;
    uint8_t count = 0;                      // 1..25
    uint8_t data[kWriteListDataSize] = {};  // count * 2 bytes, wire order
};
static_assert(sizeof(WriteListEntry) == 54, "write list entry is 54 bytes");
// GUI: stores entries[0..n), the list's address and writeListCount = n, then linkOp = op (2 or
// 3). n is clamped to 85 and each entry's count to 25. The address is the controller the list
// goes to (op 2), or the one whose device count gives the addresses 1..N (op 3); -1 names the
// selected controller (deviceAddr now).
void queueWriteList(const WriteListEntry *entries, int n, uint8_t op, int addr = -1);
// Worker: copies the queued list into out (room for 85 entries); returns the entry count. The
// list's generation (counted by every queueWriteList) goes to *generation and its address to
// *addr when given.
int takeWriteList(WriteListEntry *out, uint32_t *generation = nullptr, uint8_t *addr = nullptr);
// Worker, at the end of a list run of operation op: when no list has been queued since the one
// of this generation was taken, sets writeListCount to 0 and linkOp from op back to 0 (or to 1
// when a single write is pending) and returns true. Otherwise leaves both alone, so the newer list is run next, and returns false.
bool finishWriteList(uint32_t generation, uint8_t op);

// GUI, while the worker is stopped (Connect): drops a staged write and a queued list that were
// left from before (writePending, writeListCount and linkOp back to 0), so nothing staged earlier
// goes out on the new link.
void discardStagedRequests();

// ---------------------------------------------------------------------------------------------
// Status text: zero-terminated 8-bit text of at most 127 bytes.
constexpr int kStatusTextSize = 128;
void setStatusText(const char *text);
// Copies the current text (up to its first zero byte) into out, zero-terminated; returns its
// length. out must hold kStatusTextSize bytes.
int readStatusText(char *out);
// Counts every setStatusText call; lets the GUI skip repainting an unchanged status.
uint32_t statusTextGeneration();

// ---------------------------------------------------------------------------------------------
// Link health, beside the status text: written by the worker, read by the window.
// Transactions in a row that got no answer at all (reset by any answer).
extern std::atomic<uint32_t> noAnswerStreak;
// The state behind the status text (the link's health state, 0 Idle), for the window's colour.
extern std::atomic<uint8_t> linkHealthState;
// When the link was last started by Connect (mirrorClockMs; 0 before the first Connect).
// Values landed before it are not live on this link.
extern std::atomic<int64_t> linkStartedAtMs;
// Why the port could not be opened, in plain words ("" when it opened or was never tried).
void setLinkProblem(const char *text);
int readLinkProblem(char *out); // out holds kStatusTextSize * 2 bytes

// ---------------------------------------------------------------------------------------------
// The link worker sleeps between its steps until its next deadline or until the GUI has staged
// something for it: every staging (a write, a list, a page change, a fault walk, Disconnect)
// wakes it. stageWriteRequest and queueWriteList wake it themselves.
void wakeLinkWorker();
// Worker: returns once woken (at once if woken since the last call) or after at most ms.
void sleepLinkWorker(int ms);

// ---------------------------------------------------------------------------------------------
// Resets the shared link state to its start-up values ("Idle", pollPeriod 1000, respTimeout
// 100, faultCount/faultIndex/writeListCount 0, paramEdited cleared, refreshPeriod 1000, ...).
// Does not touch the mirror, deviceAddr or linkRunning/portEnabled.
void resetLinkState();
