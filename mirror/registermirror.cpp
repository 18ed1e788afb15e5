#include "registermirror.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {
RegisterMirror mirrors[256];
} // namespace

const SelectedMirror registerMirror{};

std::atomic<uint32_t> noAnswerStreak{0};
std::atomic<uint8_t> linkHealthState{0};
std::atomic<int64_t> linkStartedAtMs{0};

std::atomic<int32_t> pollMode{0};
std::atomic<int32_t> pollPeriod{1000};
std::atomic<uint8_t> linkOp{0};
std::atomic<uint8_t> funcCode{0};
std::atomic<uint16_t> startAddr{0};
std::atomic<uint8_t> regCount{0};
std::atomic<uint8_t> readPending{0};
std::atomic<uint8_t> writePending{0};
std::atomic<uint8_t> writeListCount{0};
std::atomic<uint8_t> faultWalk{0};
std::atomic<uint8_t> faultCount{0};
std::atomic<uint8_t> faultIndex{0};
std::atomic<int32_t> respTimeout{100};
std::atomic<uint8_t> portEnabled{0};
std::atomic<uint8_t> linkRunning{0};
std::atomic<uint8_t> deviceAddr{0};

uint8_t paramEdited[kParamCount] = {};
uint32_t refreshPeriod = 1000;

namespace {

std::mutex payloadLock;
StagedWrite staged;
WriteListEntry writeList[kWriteListEntries];
uint8_t writeListAddr = 0;
uint32_t writeListGeneration = 0;

std::mutex statusLock;
char statusText[kStatusTextSize] = "Idle";
char linkProblem[2 * kStatusTextSize] = "";
std::atomic<uint32_t> statusGeneration{0};

std::mutex wakeLock;
std::condition_variable wakeSignal;
bool wakeRequested = false;

} // namespace

RegisterMirror &mirrorOf(uint8_t address) { return mirrors[address]; }

RegisterMirror &SelectedMirror::operator*() const
{
    return mirrorOf(deviceAddr.load(std::memory_order_acquire));
}

int16_t RegisterMirror::cell(int index) const
{
    if (index < 0 || index >= kMirrorCells)
        return 0;
    return m_cells[index].load(std::memory_order_relaxed);
}

void RegisterMirror::copy(int first, int n, int16_t *out) const
{
    for (int i = 0; i < n; ++i)
        out[i] = cell(first + i);
}

int RegisterMirror::land(int block, const uint8_t *data, int count)
{
    if (block < 0 || block >= kMirrorBlocks || count <= 0)
        return 0;
    const int n = std::min(count, kBlockSize);
    std::atomic<int16_t> *cells = m_cells + block * kBlockSize;
    for (int i = 0; i < n; ++i) {
        const auto word = static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1]);
        cells[i].store(static_cast<int16_t>(word), std::memory_order_relaxed);
    }
    m_used.store(true, std::memory_order_release);
    m_landedAt[block].store(mirrorClockMs(), std::memory_order_relaxed);
    m_landings[block].fetch_add(1, std::memory_order_release);
    return n;
}

int64_t mirrorClockMs()
{
    using namespace std::chrono;
    // Offset by one, so that a stamp of 0 always means "never".
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

int64_t RegisterMirror::landedAtMs(int block) const
{
    if (block < 0 || block >= kMirrorBlocks)
        return 0;
    return m_landedAt[block].load(std::memory_order_relaxed);
}

void RegisterMirror::setShort(int block, bool shortAnswer)
{
    if (block >= 0 && block < kMirrorBlocks)
        m_short[block].store(shortAnswer, std::memory_order_relaxed);
}

bool RegisterMirror::landedShort(int block) const
{
    return block >= 0 && block < kMirrorBlocks && m_short[block].load(std::memory_order_relaxed);
}

uint32_t RegisterMirror::landings(int block) const
{
    if (block < 0 || block >= kMirrorBlocks)
        return 0;
    return m_landings[block].load(std::memory_order_acquire);
}

void RegisterMirror::setCell(int index, int16_t value)
{
    if (index >= 0 && index < kMirrorCells) {
        m_cells[index].store(value, std::memory_order_relaxed);
        m_used.store(true, std::memory_order_release);
    }
}

void RegisterMirror::clear()
{
    for (auto &cell : m_cells)
        cell.store(0, std::memory_order_relaxed);
    for (auto &stamp : m_landedAt)
        stamp.store(0, std::memory_order_relaxed);
    for (auto &mark : m_short)
        mark.store(false, std::memory_order_relaxed);
}

int16_t mirrorCell(int index) { return registerMirror->cell(index); }
void copyMirror(int first, int n, int16_t *out) { registerMirror->copy(first, n, out); }
int landRegisters(int block, const uint8_t *data, int count)
{
    return registerMirror->land(block, data, count);
}
uint32_t blockLandings(int block) { return registerMirror->landings(block); }
int64_t blockLandedAtMs(int block) { return registerMirror->landedAtMs(block); }
void setBlockShort(int block, bool shortAnswer) { registerMirror->setShort(block, shortAnswer); }
bool blockLandedShort(int block) { return registerMirror->landedShort(block); }
void setMirrorCell(int index, int16_t value) { registerMirror->setCell(index, value); }

void clearMirror()
{
    for (RegisterMirror &mirror : mirrors)
        if (mirror.used())
            mirror.clear();
}

void stageWriteRequest(uint8_t func, uint16_t start, uint8_t count, const uint8_t *data,
                       int dataLen)
{
    count = static_cast<uint8_t>(std::min<int>(count, kWriteDataSize / 2));
    {
        std::lock_guard<std::mutex> guard(payloadLock);
        staged.addr = deviceAddr.load(std::memory_order_acquire);
        staged.func = func;
        staged.start = start;
        staged.count = count;
        std::memset(staged.data, 0, sizeof staged.data);
        if (data && dataLen > 0)
            std::memcpy(staged.data, data, static_cast<size_t>(std::min(dataLen, kWriteDataSize)));
        writePending.store(1, std::memory_order_release);
        // A queued list would be lost if linkOp named the write instead: the worker ends a
        // write by setting linkOp to 0. Left at 2 or 3, the list runs first and the worker
        // turns to the pending write when the list is done. Always a read-modify-write, so
        // the worker ending the list either sees writePending or leaves 0 for this to raise.
        uint8_t op = linkOp.load(std::memory_order_relaxed);
        while (!linkOp.compare_exchange_weak(op, op == 0 ? uint8_t(1) : op,
                                             std::memory_order_acq_rel)) {
        }
    }
    wakeLinkWorker();
}

StagedWrite takeStagedWrite()
{
    std::lock_guard<std::mutex> guard(payloadLock);
    return staged;
}

void queueWriteList(const WriteListEntry *entries, int n, uint8_t op, int addr)
{
    const uint8_t to = addr < 0 ? deviceAddr.load(std::memory_order_acquire)
                                : static_cast<uint8_t>(addr);
    n = std::max(0, std::min(n, kWriteListEntries));
    // linkOp is stored under the lock too: the worker finishing the previous run either sees
    // this list (and leaves linkOp naming it) or finishes before it is queued.
    std::lock_guard<std::mutex> guard(payloadLock);
    for (int i = 0; i < n; ++i) {
        writeList[i] = entries[i];
        writeList[i].count = std::min<uint8_t>(writeList[i].count, kWriteListMaxRegs);
    }
    writeListAddr = to;
    writeListCount.store(static_cast<uint8_t>(n), std::memory_order_relaxed);
    ++writeListGeneration;
    linkOp.store(op, std::memory_order_release);
    wakeLinkWorker();
}

void discardStagedRequests()
{
    std::lock_guard<std::mutex> guard(payloadLock);
    writePending.store(0, std::memory_order_relaxed);
    writeListCount.store(0, std::memory_order_relaxed);
    ++writeListGeneration;
    linkOp.store(0, std::memory_order_release);
}

int takeWriteList(WriteListEntry *out, uint32_t *generation, uint8_t *addr)
{
    std::lock_guard<std::mutex> guard(payloadLock);
    const int n = std::min<int>(writeListCount.load(std::memory_order_relaxed), kWriteListEntries);
    std::copy(writeList, writeList + n, out);
    if (generation)
        *generation = writeListGeneration;
    if (addr)
        *addr = writeListAddr;
    return n;
}

bool finishWriteList(uint32_t generation, uint8_t op)
{
    std::lock_guard<std::mutex> guard(payloadLock);
    if (generation != writeListGeneration)
        return false;
    writeListCount.store(0, std::memory_order_relaxed);
    // A single write staged while the list was queued or ran left linkOp naming the list and
    // waits in writePending: it is next. (Staging takes the same lock, so it cannot slip in
    // between.)
    const uint8_t next = writePending.load(std::memory_order_acquire) == 1 ? 1 : 0;
    linkOp.compare_exchange_strong(op, next, std::memory_order_acq_rel);
    return true;
}

void setStatusText(const char *text)
{
    std::lock_guard<std::mutex> guard(statusLock);
    std::memset(statusText, 0, sizeof statusText);
    if (text)
        std::strncpy(statusText, text, kStatusTextSize - 1);
    statusGeneration.fetch_add(1, std::memory_order_release);
}

void setLinkProblem(const char *text)
{
    std::lock_guard<std::mutex> guard(statusLock);
    std::memset(linkProblem, 0, sizeof linkProblem);
    if (text)
        std::strncpy(linkProblem, text, sizeof linkProblem - 1);
}

int readLinkProblem(char *out)
{
    std::lock_guard<std::mutex> guard(statusLock);
    const size_t len = strnlen(linkProblem, sizeof linkProblem - 1);
    std::memcpy(out, linkProblem, len);
    out[len] = '\0';
    return static_cast<int>(len);
}

void wakeLinkWorker()
{
    {
        std::lock_guard<std::mutex> guard(wakeLock);
        wakeRequested = true;
    }
    wakeSignal.notify_one();
}

void sleepLinkWorker(int ms)
{
    std::unique_lock<std::mutex> lock(wakeLock);
    wakeSignal.wait_for(lock, std::chrono::milliseconds(std::max(0, ms)),
                        [] { return wakeRequested; });
    wakeRequested = false;
}

int readStatusText(char *out)
{
    std::lock_guard<std::mutex> guard(statusLock);
    const size_t len = strnlen(statusText, kStatusTextSize - 1);
    std::memcpy(out, statusText, len);
    out[len] = '\0';
    return static_cast<int>(len);
}

uint32_t statusTextGeneration() { return statusGeneration.load(std::memory_order_acquire); }

void resetLinkState()
{
    pollMode = 0;
    pollPeriod = 1000;
    linkOp = 0;
    funcCode = 0;
    startAddr = 0;
    regCount = 0;
    readPending = 0;
    writePending = 0;
    faultWalk = 0;
    faultCount = 0;
    faultIndex = 0;
    respTimeout = 100;
    {
        std::lock_guard<std::mutex> guard(payloadLock);
        staged = StagedWrite{};
        for (auto &entry : writeList)
            entry = WriteListEntry{};
        writeListCount = 0;
    }
    std::memset(paramEdited, 0, sizeof paramEdited);
    refreshPeriod = 1000;
    noAnswerStreak = 0;
    linkHealthState = 0;
    setLinkProblem("");
    setStatusText("Idle");
}
