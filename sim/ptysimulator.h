#pragma once
// The simulated controller on a pseudo-terminal, run in-process on its own thread (tests, the
// built-in demo) or by vaduz-sim. The program opens slavePath() like any serial port.
//
// This header is the contract the link tests and the application use; sim/ owns it.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

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
    int shortBy = 0;         // > 0: read answers carry this many registers fewer than asked
    int oversizeTo = 0;      // > 0: read answers carry this many registers (CRC-correct)
};

struct SimRequest {
    QByteArray frame;        // the request bytes as received
    qint64 msSinceStart = 0; // when it was received (monotonic ms since start())
};

class PtySimulator
{
public:
    PtySimulator();
    ~PtySimulator(); // stops the thread and closes the pseudo-terminal

    // Opens a new pseudo-terminal pair and starts answering on it. False on failure.
    bool start();
    void stop();
    bool isRunning() const;
    // The slave path to open as a serial port, e.g. /dev/pts/5.
    QString slavePath() const;

    // Answers only to this address (default 1), or to every address 1..deviceCount when
    // answerAll is set.
    void setAddress(uint8_t addr);
    void setAnswerAll(bool all);
    void setDeviceCount(uint8_t n); // reported in cell 2:17 (low byte)

    void setFaults(const SimFaults &faults);
    SimFaults faults() const;

    // Registers of the simulated controller (block 0..91, reg 0..99).
    int16_t reg(int block, int reg) const;
    void setReg(int block, int reg, int16_t value);
    // Freezes the slowly changing live values so tests can compare exact cells.
    void setFrozen(bool frozen);
    // Controller reboot: every block back to zero (then live values resume unless frozen).
    void resetRegisters();

    // Every complete request received (valid CRC or not), in order; and clearing it.
    QList<SimRequest> requests() const;
    void clearRequests();
    // Counters: requests received, answers sent.
    int requestCount() const;
    int answerCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
