#include "registermirror.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

std::atomic<int16_t> registerMirror[kMirrorCells];

namespace {
std::atomic<uint32_t> landings[kMirrorBlocks];
std::atomic<int64_t> landedAt[kMirrorBlocks];
std::atomic<bool> landedShort[kMirrorBlocks];
} // namespace

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
uint32_t writeListGeneration = 0;

std::mutex statusLock;
char statusText[kStatusTextSize] = "Idle";
char linkProblem[2 * kStatusTextSize] = "";
std::atomic<uint32_t> statusGeneration{0};

std::mutex wakeLock;
std::condition_variable wakeSignal;
bool wakeRequested = false;

} // namespace

int16_t mirrorCell(int index)
{
    if (index < 0 || index >= kMirrorCells)
        return 0;
    return registerMirror[index].load(std::memory_order_relaxed);
}

void copyMirror(int first, int n, int16_t *out)
{
    for (int i = 0; i < n; ++i)
        out[i] = mirrorCell(first + i);
}

int landRegisters(int block, const uint8_t *data, int count)
{
    if (block < 0 || block >= kMirrorBlocks || count <= 0)
        return 0;
    const int n = std::min(count, kBlockSize);
    std::atomic<int16_t> *cells = registerMirror + block * kBlockSize;
    for (int i = 0; i < n; ++i) {
        const auto word = static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1]);
        cells[i].store(static_cast<int16_t>(word), std::memory_order_relaxed);
    }
    landedAt[block].store(mirrorClockMs(), std::memory_order_relaxed);
    landings[block].fetch_add(1, std::memory_order_release);
    return n;
}

int64_t mirrorClockMs()
{
    using namespace std::chrono;
    // Offset by one, so that a stamp of 0 always means "never".
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() + 1;
}

int64_t blockLandedAtMs(int block)
{
    if (block < 0 || block >= kMirrorBlocks)
        return 0;
    return landedAt[block].load(std::memory_order_relaxed);
}

void setBlockShort(int block, bool shortAnswer)
{
    if (block >= 0 && block < kMirrorBlocks)
        landedShort[block].store(shortAnswer, std::memory_order_relaxed);
}

bool blockLandedShort(int block)
{
    return block >= 0 && block < kMirrorBlocks &&
           landedShort[block].load(std::memory_order_relaxed);
}

uint32_t blockLandings(int block)
{
    if (block < 0 || block >= kMirrorBlocks)
        return 0;
    return landings[block].load(std::memory_order_acquire);
}

void setMirrorCell(int index, int16_t value)
{
    if (index >= 0 && index < kMirrorCells)
        registerMirror[index].store(value, std::memory_order_relaxed);
}

void clearMirror()
{
    for (auto &cell : registerMirror)
        cell.store(0, std::memory_order_relaxed);
    for (auto &stamp : landedAt)
        stamp.store(0, std::memory_order_relaxed);
}

void stageWriteRequest(uint8_t func, uint16_t start, uint8_t count, const uint8_t *data,
                       int dataLen)
{
    count = static_cast<uint8_t>(std::min<int>(count, kWriteDataSize / 2));
    {
        std::lock_guard<std::mutex> guard(payloadLock);
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

void queueWriteList(const WriteListEntry *entries, int n, uint8_t op)
{
    n = std::max(0, std::min(n, kWriteListEntries));
    // linkOp is stored under the lock too: the worker finishing the previous run either sees
    // this list (and leaves linkOp naming it) or finishes before it is queued.
    std::lock_guard<std::mutex> guard(payloadLock);
    for (int i = 0; i < n; ++i) {
        writeList[i] = entries[i];
        writeList[i].count = std::min<uint8_t>(writeList[i].count, kWriteListMaxRegs);
    }
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

int takeWriteList(WriteListEntry *out, uint32_t *generation)
{
    std::lock_guard<std::mutex> guard(payloadLock);
    const int n = std::min<int>(writeListCount.load(std::memory_order_relaxed), kWriteListEntries);
    std::copy(writeList, writeList + n, out);
    if (generation)
        *generation = writeListGeneration;
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
