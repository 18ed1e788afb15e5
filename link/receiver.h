#pragma once
// The receive side of a transaction on a real line, as pure functions over the bytes gathered
// since the request went out: skip the local echo of the request, skip bytes that cannot begin
// the expected answer (glitches at the bus turnaround, noise, the tail of a late answer), find
// the complete answer and tell how long the line may still take. No Qt, no I/O, no allocation:
// the link worker and the fuzzer share them.

#include <cstdint>

// What the bytes received so far are expected to answer.
struct RxExpect {
    const uint8_t *request = nullptr; // the request as sent (its echo is skipped)
    int requestLength = 0;
    uint8_t addr = 0;  // address asked
    uint8_t func = 0;  // function asked; an exception answer carries func | 0x80
    int maxRegs = 0;   // a read answer may bring 1..maxRegs registers
};

enum class RxState {
    Waiting,  // nothing that could begin the answer yet (all skipped)
    Partial,  // the answer (or the echo) has begun and is incomplete
    Answer,   // a complete, CRC-correct frame answering this request (or its exception)
    Foreign,  // a complete, CRC-correct answer of this function from another address
};

struct RxScan {
    RxState state = RxState::Waiting;
    int skipped = 0;    // leading bytes that are no part of the answer: may be dropped
    int echoBytes = 0;  // of them, whole echoes of the request
    int length = 0;     // Answer, Foreign: the frame's length, starting at `skipped`
};

// Scans length bytes received for the request e. With lineQuiet set (the line has been quiet
// past the inter-byte gap), an incomplete run can no longer grow into the answer: its first
// byte is skipped and the scan goes on behind it, and a run that is a prefix of the request is
// no longer held for a possible echo.
RxScan scanReceived(const uint8_t *bytes, int length, const RxExpect &e, bool lineQuiet);

// Line timing, in microseconds: one character (start bit, data bits, parity bit, stop bits)
// at the baud rate; n characters on the wire.
int64_t charMicros(int baud, int dataBits, bool parity, float stopBits);
inline int64_t wireMicros(int64_t charUs, int n) { return charUs * n; }

// How long an attempt waits, counted from the moment the request has left the port.
struct RxTiming {
    int64_t firstByteUs = 0; // for the answer's first byte
    int64_t gapUs = 0;       // longest pause inside an answer
    int64_t totalUs = 0;     // longest wait for a whole answer
};
// respTimeoutMs for the first byte; then a gap limit of a few characters but at least 20 ms
// (USB adapters deliver in bursts); in all, respTimeoutMs plus the wire time of the largest
// answer (maxAnswerBytes) plus a margin.
RxTiming attemptTiming(int respTimeoutMs, int64_t charUs, int maxAnswerBytes);
