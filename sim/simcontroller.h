#pragma once
// The controller's side of the protocol as a pure request handler: the 92 register blocks, a
// slowly changing live model of the battery stack, and respond(request) -> answer. No I/O and
// no threads of its own: the caller feeds it whole request frames and advances its clock.
// Not thread-safe; PtySimulator serialises every call.

#include "simfaults.h"

#include <QByteArray>
#include <QDateTime>

#include <array>
#include <cstdint>
#include <random>

class SimController {
public:
    static constexpr int kBlocks = 92;
    static constexpr int kBlockRegs = 100;
    static constexpr int kMaxReadRegs = 100;
    static constexpr int kMaxWriteRegs = 123;
    static constexpr int kRackCount = 15;
    static constexpr int kPackCount = 15;
    static constexpr int kFaultRecords = 64; // blocks 22..85
    static constexpr int kParamRegs = 256;   // register numbers a write may address (0..255)

    // What a request that reached this controller but cannot be served gets: an exception
    // response (the Modbus way) or silence. A bad CRC or another address always gets silence.
    enum class BadRequestReply { Exception, Silence };

    // Modbus exception codes used in answers.
    enum ExceptionCode : uint8_t {
        IllegalFunction = 1,
        IllegalDataAddress = 2,
        IllegalDataValue = 3,
    };

    explicit SimController(uint32_t seed = 20240501u);

    void setAddress(uint8_t addr);
    uint8_t address() const { return addr_; }
    // Answer every address 1..deviceCount() instead of address() only.
    void setAnswerAll(bool all) { answerAll_ = all; }
    bool answerAll() const { return answerAll_; }
    // With answerAll: every other address answers as a controller of its own, its SOC, total
    // voltage, stack power and alarm words apart from this one's by its address.
    void setDistinct(bool distinct) { distinct_ = distinct; }
    // The device count, reported in cell 2:17 (writable as parameter 2).
    void setDeviceCount(uint8_t n);
    uint8_t deviceCount() const { return deviceCount_; }
    bool answersTo(uint8_t addr) const;

    void setBadRequestReply(BadRequestReply reply) { badReply_ = reply; }
    BadRequestReply badRequestReply() const { return badReply_; }

    // Faults that change the answer's bytes: exception, shortBy, oversizeTo, wrongAddr,
    // corruptCrc, strayByte. Timing faults (delay, silence, drops, split) belong to the transport.
    void setFaults(const SimFaults &faults) { faults_ = faults; }
    const SimFaults &faults() const { return faults_; }

    // Handles one whole request frame. Returns the answer bytes, or an empty array for
    // silence. Safe on any input.
    QByteArray respond(const QByteArray &request);
    QByteArray respond(const uint8_t *request, int length);

    // Moves the live model on by ms milliseconds (clock, currents, SOC, temperatures, alarms).
    // Does nothing to the registers while frozen, except the clock keeps counting.
    void advance(int ms);
    void setFrozen(bool frozen) { frozen_ = frozen; }
    bool isFrozen() const { return frozen_; }

    // Register cell of block 0..91, reg 0..99; 0 outside.
    int16_t reg(int block, int reg) const;
    void setReg(int block, int reg, int16_t value);
    // Controller reboot: every block back to zero; the live cells come back at the next
    // advance() unless frozen.
    void resetRegisters();

    // Last raw value written to register n (0..255) by function 16; 0 if never written.
    uint16_t writtenRegister(int n) const;

    // The controller's clock: a wall-clock date and time without a time zone (started from the
    // local time), second resolution in the registers. clock() returns it as local time.
    QDateTime clock() const;
    void setClock(const QDateTime &when);

    // Number of read and write requests served (answered or executed).
    int readsServed() const { return readsServed_; }
    int writesServed() const { return writesServed_; }

private:
    // The clock held as UTC, so that no time-zone lookup (not thread-safe in the C library)
    // runs on the simulator's thread.
    QDateTime civilClock() const;
    QByteArray exceptionAnswer(uint8_t addr, uint8_t func, uint8_t code) const;
    QByteArray badRequest(uint8_t addr, uint8_t func, uint8_t code) const;
    QByteArray finish(QByteArray answer) const;
    int16_t distinctValue(uint8_t addr, int index, int16_t value) const;
    QByteArray handleRead(uint8_t addr, const uint8_t *req, int len);
    QByteArray handleWrite(uint8_t addr, const uint8_t *req, int len, bool broadcast);
    // Stores count words (host order) written at register start. False when a value is refused
    // (an impossible date); nothing is stored then.
    bool applyWrite(int start, const uint16_t *words, int count);
    void applyParameter(int n, uint16_t value);
    void applyCommand(int n, uint16_t value);
    void applyFactoryDefaults();
    void writeStaticCells();
    void writeClockCells();
    void writeFaultRecords();
    void updateLive();
    void setCell(int block, int reg, int value);
    void setString(int block, int reg, int regs, const char *text);

    std::array<int16_t, kBlocks * kBlockRegs> cells_{};
    std::array<uint16_t, kParamRegs> written_{};
    SimFaults faults_;
    BadRequestReply badReply_ = BadRequestReply::Exception;
    uint8_t addr_ = 1;
    uint8_t deviceCount_ = 1;
    bool answerAll_ = false;
    bool distinct_ = false;
    bool frozen_ = false;
    int readsServed_ = 0;
    int writesServed_ = 0;

    // Live model.
    std::mt19937 rng_;
    qint64 clockMs_ = 0;    // the clock's date and time as if it were UTC, in ms
    double modelSec_ = 0.0; // model time
    double soc_ = 62.0;     // %
    double current_ = 0.0;  // A, + charge, - discharge
    double ambient_ = 24.0; // deg C
    double chargeKWh_ = 81234.5;
    double dischargeKWh_ = 78012.3;
    bool relayClosed_ = true;
    bool shutDown_ = false;
    double nextAlarmSec_ = 20.0;
    std::array<std::array<int8_t, 52>, kPackCount> cellOffset_{};
    std::array<std::array<int8_t, 26>, kPackCount> tempOffset_{};
    std::array<int8_t, kRackCount> rackOffset_{};
};
