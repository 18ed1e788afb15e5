#pragma once
// Misbehaviour of the simulated controller, switched on by tests and by vaduz-sim options.

// Misbehaviour on request. All off by default.
struct SimFaults {
    int delayMs = 0;         // wait this long before answering
    bool silent = false;     // never answer
    int dropEvery = 0;       // k > 0: stay silent on every k-th request
    bool corruptCrc = false; // flip the CRC of every answer
    bool strayByte = false;  // send one extra byte before each answer
    int splitPieces = 0;     // > 1: send each answer in this many pieces ...
    int splitGapMs = 0;      //      ... with this gap between them
    int wrongAddr = 0;       // > 0: answer from this address instead of the asked one
    bool exception = false;  // answer with an exception response (function | 0x80, code 2)
    bool keepOldValues = false; // confirm every write but store nothing (values stay as they were)
    int shortBy = 0;         // > 0: read answers carry this many registers fewer than asked
    int oversizeTo = 0;      // > 0: read answers carry this many registers (CRC-correct, <= 127)
    int noiseEveryMs = 0;    // > 0: a burst of 1..8 random bytes on the line about this often,
                             //      unasked, whenever no answer is being sent
    bool hangUp = false;     // the line goes dead at the next request, which gets no answer (an
                             // adapter pulled mid-transaction); fires once, then clears itself

    // The line itself, each part on its own (all off by default).
    int paceBaud = 0;        // > 0: every byte takes its wire time at this baud rate (10 bits a
                             //      character), towards the controller and towards the host
    bool halfDuplex = false; // one shared pair (RS-485): bytes the host sends while the
                             //      controller transmits garble the rest of its answer, and
                             //      are lost themselves
    bool echo = false;       // the host's adapter echoes every byte the host sends
    bool glitch = false;     // one random byte at each bus turnaround (in front of each answer)
    int burstMs = 0;         // > 0: bytes reach the host in bursts this far apart (USB adapter)
};
