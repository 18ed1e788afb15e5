#include "pollplan.h"

#include "registermirror.h"

std::atomic<uint8_t> dataToggle{0};
std::atomic<uint8_t> settingsStep{0};
std::atomic<uint8_t> packStep{0};

const PlanRead kSettingsCycle[kSettingsCycleLength] = {
    {3, 20}, {4, 20}, {5, 15}, {86, 50}, {88, 50}, {89, 20}, {90, 10}, {91, 3},
};

namespace {

constexpr int kHomeBlock = 2;
constexpr int kDataRegs = 100;
constexpr int kFaultPageBlock = 6;
constexpr int kFaultPageRegs = 5;
constexpr int kPackFirstBlock = 7;
constexpr int kPackCount = 15; // blocks 7..21, then one pass without a read
constexpr int kPackRegs = 92;
constexpr int kNormalPeriod = 500;
constexpr int kPackPeriod = 200;

void request(int block, int count) {
    startAddr.store(static_cast<uint16_t>(block));
    regCount.store(static_cast<uint8_t>(count));
}

} // namespace

int blockPollCycleMs(int block) {
    if (block == kHomeBlock || block == kFaultPageBlock)
        return kNormalPeriod;
    if (block == 0 || block == 1)
        return 2 * kNormalPeriod;
    for (const PlanRead &read : kSettingsCycle)
        if (read.block == block)
            return kSettingsCycleLength * kNormalPeriod;
    if (block >= kPackFirstBlock && block < kPackFirstBlock + kPackCount)
        return (kPackCount + 1) * kPackPeriod;
    return 0;
}

int pageBlocks(int mode, int *blocks) {
    int n = 0;
    switch (mode) {
    case kModeHome:
        blocks[n++] = kHomeBlock;
        break;
    case kModeData:
        blocks[n++] = 0;
        blocks[n++] = 1;
        break;
    case kModeSettings:
        for (const PlanRead &read : kSettingsCycle)
            blocks[n++] = read.block;
        break;
    case kModeFault:
        blocks[n++] = kFaultPageBlock;
        break;
    case kModePack:
        for (int k = 0; k < kPackCount; ++k)
            blocks[n++] = kPackFirstBlock + k;
        break;
    default:
        break;
    }
    return n;
}

void resetPollPlan() {
    dataToggle.store(0);
    settingsStep.store(0);
    packStep.store(0);
}

void enterPollMode(int mode) {
    switch (mode) {
    case kModeHome:
    case kModeFault:
        pollPeriod.store(kNormalPeriod);
        break;
    case kModeData:
        pollPeriod.store(kNormalPeriod);
        dataToggle.store(0);
        break;
    case kModeSettings:
        pollPeriod.store(kNormalPeriod);
        settingsStep.store(0);
        break;
    case kModePack:
        pollPeriod.store(kPackPeriod);
        packStep.store(0);
        break;
    default:
        break;
    }
}

void pollPlan(int mode) {
    readPending.store(1);
    funcCode.store(kFunctionRead);

    switch (mode) {
    case kModeHome:
        request(kHomeBlock, kDataRegs);
        break;
    case kModeData:
        if (dataToggle.load() == 0) {
            request(1, kDataRegs);
            dataToggle.store(1);
        } else {
            request(0, kDataRegs);
            dataToggle.store(0);
        }
        break;
    case kModeSettings: {
        uint8_t step = settingsStep.load();
        if (step >= kSettingsCycleLength)
            step = 0;
        request(kSettingsCycle[step].block, kSettingsCycle[step].count);
        settingsStep.store(static_cast<uint8_t>((step + 1) % kSettingsCycleLength));
        break;
    }
    case kModeFault:
        if (faultWalk.load() == 0) {
            request(kFaultPageBlock, kFaultPageRegs);
        } else if (faultIndex.load() > faultCount.load() ||
                   faultIndex.load() > kFaultRecordLastBlock - kFaultRecordFirstBlock) {
            // Every record 0..faultCount has been read (or the next one would lie past the
            // last record block): the walk is over, this pass reads nothing and the page's own
            // read resumes at the normal period.
            regCount.store(kFaultRecordRegs);
            readPending.store(0);
            faultWalk.store(0);
            pollPeriod.store(kNormalPeriod);
        } else {
            request(kFaultRecordFirstBlock + faultIndex.load(), kFaultRecordRegs);
        }
        break;
    case kModePack: {
        const uint8_t step = packStep.load();
        regCount.store(kPackRegs);
        if (step < kPackCount) {
            startAddr.store(static_cast<uint16_t>(kPackFirstBlock + step));
            packStep.store(static_cast<uint8_t>(step + 1));
        } else {
            readPending.store(0);
            packStep.store(0);
        }
        break;
    }
    default:
        // A page without a plan reads nothing.
        readPending.store(0);
        break;
    }
}
