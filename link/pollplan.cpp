#include "pollplan.h"

#include "registermirror.h"

std::atomic<uint8_t> dataToggle{0};
std::atomic<uint8_t> settingsStep{0};
std::atomic<uint8_t> packStep{0};

const PlanRead kSettingsCycle[kSettingsCycleLength] = {
    {3, 20}, {4, 20}, {5, 15}, {86, 50}, {88, 50}, {89, 20}, {90, 10}, {91, 3},
};

namespace {

constexpr int kDataRegs = 100;
constexpr int kFaultPageBlock = 6;
constexpr int kFaultPageRegs = 5;
constexpr int kPackFirstBlock = 7;
constexpr int kPackCount = 15; // blocks 7..21, then one pass without a read
constexpr int kPackRegs = 92;
constexpr int kNormalPeriod = 500;
constexpr int kPackPeriod = 200;

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

PlanStep planStep(const PlanState &state) {
    PlanStep step;
    step.next = state;
    PlanState &next = step.next;
    const auto read = [&step](int block, int count) {
        step.read = true;
        step.what = {static_cast<uint8_t>(block), static_cast<uint8_t>(count)};
    };
    switch (state.mode) {
    case kModeHome:
        read(kHomeBlock, kDataRegs);
        break;
    case kModeData:
        read(state.dataToggle == 0 ? 1 : 0, kDataRegs);
        next.dataToggle = state.dataToggle == 0 ? 1 : 0;
        break;
    case kModeSettings: {
        const uint8_t at = state.settingsStep < kSettingsCycleLength ? state.settingsStep : 0;
        read(kSettingsCycle[at].block, kSettingsCycle[at].count);
        next.settingsStep = static_cast<uint8_t>((at + 1) % kSettingsCycleLength);
        break;
    }
    case kModeFault:
        if (!state.faultWalk) {
            read(kFaultPageBlock, kFaultPageRegs);
        } else if (state.faultIndex > state.faultCount ||
                   state.faultIndex > kFaultRecordLastBlock - kFaultRecordFirstBlock) {
            // Every record 0..faultCount has been read (or the next one would lie past the
            // last record block): the walk is over, this pass reads nothing and the page's own
            // read resumes at the normal period.
            next.faultWalk = false;
            step.walkEnded = true;
        } else {
            read(kFaultRecordFirstBlock + state.faultIndex, kFaultRecordRegs);
        }
        break;
    case kModePack:
        if (state.packStep < kPackCount) {
            read(kPackFirstBlock + state.packStep, kPackRegs);
            next.packStep = static_cast<uint8_t>(state.packStep + 1);
        } else {
            next.packStep = 0; // one pass without a read, then round again
        }
        break;
    default:
        break; // a page without a plan reads nothing
    }
    return step;
}

void pollPlan(int mode) {
    PlanState state;
    state.mode = mode;
    state.dataToggle = dataToggle.load();
    state.settingsStep = settingsStep.load();
    state.packStep = packStep.load();
    state.faultWalk = faultWalk.load() != 0;
    state.faultIndex = faultIndex.load();
    state.faultCount = faultCount.load();
    const PlanStep step = planStep(state);
    dataToggle.store(step.next.dataToggle);
    settingsStep.store(step.next.settingsStep);
    packStep.store(step.next.packStep);
    funcCode.store(kFunctionRead);
    if (step.read) {
        startAddr.store(step.what.block);
        regCount.store(step.what.count);
    }
    if (step.walkEnded) {
        faultWalk.store(0);
        pollPeriod.store(kNormalPeriod);
    }
    readPending.store(step.read ? 1 : 0);
}
