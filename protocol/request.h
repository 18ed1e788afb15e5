#pragma once
// Requests and answers as values. A Request says what is asked (address, function, start,
// count, data); a framing (framing.h) turns it into the Frame that carries it on the line, and
// an Answer is what a received frame says once the framing is stripped. Pure code: no Qt, no
// I/O, no allocation.

#include <cstdint>

constexpr int kFrameBufSize = 256;
constexpr int kMaxWriteRegs = 123;

constexpr int kFunctionRead = 4;   // read input registers: start is a block number
constexpr int kFunctionWrite = 16; // write multiple registers: start is a register number
constexpr uint8_t kExceptionBit = 0x80;
// Functions this link never asks for, known so that an answer carrying one is recognised as a
// frame (and refused) rather than taken for noise.
constexpr int kFunctionReadHolding = 3;
constexpr int kFunctionWriteSingle = 6;

struct Request {
    uint8_t addr = 0;
    uint8_t function = 0;
    uint16_t start = 0;
    uint16_t count = 0;
    uint8_t data[2 * kMaxWriteRegs] = {}; // a write's register data, each high byte first

    // A read of count registers of block; a write of count registers (at most 123, more are
    // cut off) from data.
    static Request read(uint8_t addr, uint16_t block, uint16_t count);
    static Request write(uint8_t addr, uint16_t reg, const uint8_t *data, uint16_t count);

    // Either read function: its answer is a byte count and registers, not a write's echo.
    bool isRead() const { return function == kFunctionRead || function == kFunctionReadHolding; }
    // The protocol data unit: function, start, count and, for a write, byte count and data.
    // Writes at most 5 + 2 * 123 bytes to out; returns the length.
    int encodePdu(uint8_t *out) const;
};

// The bytes that carry one request on the line, built once and kept with it through its
// attempts and the matching of its answer.
struct Frame {
    uint8_t bytes[kFrameBufSize] = {};
    int length = 0;
};

// What an answer frame says, with its framing stripped; points into the frame it was decoded
// from.
struct Answer {
    uint8_t addr = 0;
    uint8_t function = 0;         // the request's function, or it with kExceptionBit set
    const uint8_t *pdu = nullptr; // from the function byte on, without the framing's trailer
    int pduLength = 0;

    bool isException() const { return (function & kExceptionBit) != 0; }
    uint8_t exceptionCode() const { return isException() && pduLength >= 2 ? pdu[1] : 0; }
    // A read answer's register data (each high byte first) and how many whole registers the
    // frame carries after its byte-count field, whatever that field says.
    const uint8_t *registerData() const { return pdu + 2; }
    int registersCarried() const { return pduLength > 2 ? (pduLength - 2) / 2 : 0; }
};

// Why a frame that came back for a request is not its answer.
enum class AnswerFault : uint8_t {
    None,
    OtherUnit,     // from another address or unit
    OtherFunction, // neither the function asked nor its exception
    ByteCount,     // a read answer's byte count disagrees with its data or the count asked
    OtherEcho,     // a write answer echoes another register or count
};

// The one check of an answer against its request, whatever framing carried it: the address,
// the function or its exception (two bytes), a read answer's byte count (whole registers, at
// least one and no more than asked, and exactly the data that follows), a write answer's echo
// of the register and count written.
AnswerFault checkAnswer(const Request &request, const Answer &answer);
// "another address", "another function", "wrong byte count", "echo of another register or count"
const char *answerFaultName(AnswerFault fault);
