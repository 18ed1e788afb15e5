#pragma once
// The poll plan: which register block the link reads next for the page on screen. Each page
// (pollMode) has its own fixed cycle of block reads, one read per poll period. The plan only
// fills the request fields of the shared link state (funcCode, startAddr, regCount,
// readPending); the link worker performs the read.

#include "request.h"

#include <atomic>
#include <cstdint>

// Position of each cyclic plan. Advanced by the link worker, reset on entry into its mode and
// by resetPollPlan() at start-up.
extern std::atomic<uint8_t> dataToggle;   // mode 1: 0 block 1 is next, 1 block 0 is next
extern std::atomic<uint8_t> settingsStep; // mode 2: position 0-7 in the Settings cycle
extern std::atomic<uint8_t> packStep;     // mode 4: position 0-15 in the Pack cycle

constexpr int kModeHome = 0;
constexpr int kModeData = 1;
constexpr int kModeSettings = 2;
constexpr int kModeFault = 3;
constexpr int kModePack = 4;

constexpr int kFaultRecordFirstBlock = 22;
constexpr int kFaultRecordLastBlock = 85;
constexpr int kFaultRecordRegs = 32;
constexpr int kWalkPeriod = 300;

struct PlanRead {
    uint8_t block;
    uint8_t count;
};
// The Settings page reads these blocks in turn.
constexpr int kSettingsCycleLength = 8;
extern const PlanRead kSettingsCycle[kSettingsCycleLength];

// Puts every plan position back to its start (the window calls this once at start-up).
void resetPollPlan();

// Mode entry, done by the worker when pollMode changes: sets pollPeriod to the mode's period
// (500 ms, 200 ms for Pack) and resets that mode's position. Unknown modes change nothing.
void enterPollMode(int mode);

// How often the plan reads block while its page is shown: the period of one full cycle of the
// page's plan, in ms (Home 500, Data 1000, Settings 4000, Fault 500, Pack 3200); 0 for blocks
// read only on request (fault records) or never.
int blockPollCycleMs(int block);
// The blocks the page of mode shows values from (at most 16; returns how many).
int pageBlocks(int mode, int *blocks);

// Where a page's plan stands: its mode, its cycle positions and the fault-record walk.
struct PlanState {
    int mode = kModeHome;
    uint8_t dataToggle = 0;
    uint8_t settingsStep = 0;
    uint8_t packStep = 0;
    bool faultWalk = false;
    uint8_t faultIndex = 0;
    uint8_t faultCount = 0;
};
// One pass of a plan: the read it asks for (none for a pass without a read), the state after it,
// and whether the pass ended a fault-record walk (the period goes back to 500 ms).
struct PlanStep {
    bool read = false;
    PlanRead what{0, 0};
    PlanState next;
    bool walkEnded = false;
};
// The plan as a pure function of its state.
PlanStep planStep(const PlanState &state);

// One pass of the plan for mode on the shared link state: sets readPending (1 when a read is
// due, 0 for a pass without a read), funcCode, startAddr and regCount, and advances the mode's
// position. A fault-record walk in progress (faultWalk) replaces the Fault page's own read and
// ends itself once every record has been read.
void pollPlan(int mode);
