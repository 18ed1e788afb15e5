#pragma once
// The simulated controller on a pseudo-terminal, run in-process on its own thread (tests, the
// built-in demo) or by vaduz-sim. The program opens slavePath() like any serial port.
//
// This header is the contract the link tests and the application use; sim/ owns it.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include "simfaults.h"

#include <cstdint>
#include <memory>

struct SimRequest {
    QByteArray frame;        // the request bytes as received
    qint64 msSinceStart = 0; // when its last byte arrived (monotonic ms since start())
    bool garbled = false;    // sent at a baud rate other than the controller's: garbage to it,
                             // never answered
};

class PtySimulator {
public:
    static constexpr int kMaxLoggedRequests = 10000;

    PtySimulator();
    ~PtySimulator(); // stops the thread and closes the pseudo-terminal

    // Opens a new pseudo-terminal pair and starts answering on it. False on failure.
    bool start();
    // Answers on an existing serial device or pty slave instead (vaduz-sim --device); the line
    // is set to raw mode at baud when it is a terminal. False on failure.
    bool startOnDevice(const QString &devicePath, int baud = 9600);
    void stop();
    bool isRunning() const;
    // The slave path to open as a serial port, e.g. /dev/pts/5.
    QString slavePath() const;

    // Answers only to this address (default 1), or to every address 1..deviceCount when
    // answerAll is set.
    void setAddress(uint8_t addr);
    void setAnswerAll(bool all);
    void setDistinct(bool distinct);
    void setDeviceCount(uint8_t n); // reported in cell 2:17 (low byte)
    // The baud rate the controller's receiver is set to: a program whose port is set to another
    // rate is not understood (the controller sees garbage and stays silent). 0 (default): any
    // rate is understood. Only on a pseudo-terminal, where the program's rate can be read.
    void setBaudRate(int baud);
    int baudRate() const;
    // A request that reaches this controller but cannot be served (unknown function, block
    // out of range, malformed write) gets an exception response (default) or silence.
    void setBadRequestReply(bool exception);

    // Misbehaviour, and the line between the program and the controller (instant unless its
    // parts are set: see simline.h). Takes effect for bytes the program sends from now on.
    void setFaults(const SimFaults &faults);
    SimFaults faults() const;

    // Registers of the simulated controller (block 0..91, reg 0..99).
    int16_t reg(int block, int reg) const;
    void setReg(int block, int reg, int16_t value);
    // Freezes the slowly changing live values so tests can compare exact cells.
    void setFrozen(bool frozen);
    // Controller reboot: every block back to zero (then live values resume unless frozen).
    void resetRegisters();
    // The controller's clock (set by writing the date-time parameter 74..79).
    QDateTime clock() const;
    // Last raw value written to register n by function 16 (0 if never written).
    uint16_t writtenRegister(int n) const;

    // Every complete request received (valid CRC or not), in order; and clearing it. The log
    // keeps the latest kMaxLoggedRequests.
    QList<SimRequest> requests() const;
    void clearRequests();
    // Counters: requests received, answers sent.
    int requestCount() const;
    int answerCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
