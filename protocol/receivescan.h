#pragma once
// The receive side of a transaction on a real line, as pure functions over the bytes gathered
// since the request went out: skip the local echo of the request, skip bytes that cannot begin
// the expected answer (glitches at the bus turnaround, noise, the tail of a late answer), find
// the complete answer and tell how long the line may still take. No Qt, no I/O, no allocation:
// the link worker and the fuzzer share them.

#include "request.h"

#include <cstdint>

// What the bytes received so far are expected to answer.
struct RxExpect {
    const uint8_t *request = nullptr; // the request as sent (its echo is skipped)
    int requestLength = 0;
    uint8_t addr = 0; // address asked
    uint8_t func = 0; // function asked; an exception answer carries func | 0x80
    int maxRegs = 0;  // a read answer may bring 1..maxRegs registers
};

enum class RxState {
    Waiting, // nothing that could begin the answer yet (all skipped)
    Partial, // the answer (or the echo) has begun and is incomplete
    Answer,  // a complete, CRC-correct frame from the address asked (the answer check decides)
    Foreign, // a complete, CRC-correct frame from another address
};

struct RxScan {
    RxState state = RxState::Waiting;
    int skipped = 0;   // leading bytes that are no part of the answer: may be dropped
    int echoBytes = 0; // of them, whole echoes of the request
    int length = 0;    // Answer, Foreign: the frame's length, starting at `skipped`
    // Partial: the run begins with the address and function asked (the answer's header, or
    // the echo's). Such a run is worth waiting for through a pause; the CRC still decides.
    bool ownStart = false;
    // Whole, CRC-correct frames from the address asked that were skipped because they answer
    // no such request (another function, a byte count it cannot carry, another write's echo),
    // and what the last of them got wrong by the answer check.
    int refused = 0;
    AnswerFault refusedFault = AnswerFault::None;
};

// Scans length bytes received for the request e. With lineQuiet set (the line has been quiet
// past the inter-byte gap), an incomplete run can no longer grow into the answer: its first
// byte is skipped and the scan goes on behind it, and a run that is a prefix of the request is
// no longer held for a possible echo.
RxScan scanReceived(const uint8_t *bytes, int length, const RxExpect &e, bool lineQuiet);
