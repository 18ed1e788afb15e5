#pragma once
// Wire times and the waits of an attempt, in microseconds. Pure code.

#include <cstdint>

// Line timing, in microseconds: one character (start bit, data bits, parity bit, stop bits)
// at the baud rate; n characters on the wire.
int64_t charMicros(int baud, int dataBits, bool parity, float stopBits);
inline int64_t wireMicros(int64_t charUs, int n) {
    return charUs * n;
}

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
