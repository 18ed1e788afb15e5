#include "request.h"

#include <algorithm>
#include <cstring>

Request Request::read(uint8_t addr, uint16_t block, uint16_t count) {
    Request r;
    r.addr = addr;
    r.function = kFunctionRead;
    r.start = block;
    r.count = count;
    return r;
}

Request Request::write(uint8_t addr, uint16_t reg, const uint8_t *data, uint16_t count) {
    Request r;
    r.addr = addr;
    r.function = kFunctionWrite;
    r.start = reg;
    r.count = std::min<uint16_t>(count, kMaxWriteRegs);
    if (r.count > 0)
        std::memcpy(r.data, data, 2u * r.count);
    return r;
}

int Request::encodePdu(uint8_t *out) const {
    out[0] = function;
    out[1] = static_cast<uint8_t>(start >> 8);
    out[2] = static_cast<uint8_t>(start & 0xFF);
    out[3] = static_cast<uint8_t>(count >> 8);
    out[4] = static_cast<uint8_t>(count & 0xFF);
    if (function != kFunctionWrite)
        return 5;
    const int n = 2 * std::min<int>(count, kMaxWriteRegs);
    out[5] = static_cast<uint8_t>(n);
    std::memcpy(out + 6, data, static_cast<size_t>(n));
    return 6 + n;
}

AnswerFault checkAnswer(const Request &request, const Answer &answer) {
    if (!answer.pdu || answer.pduLength < 1 || answer.addr != request.addr)
        return AnswerFault::OtherUnit;
    const uint8_t *pdu = answer.pdu;
    if (answer.function == (request.function | kExceptionBit))
        return answer.pduLength == 2 ? AnswerFault::None : AnswerFault::ByteCount;
    if (answer.function != request.function)
        return AnswerFault::OtherFunction;
    if (request.function == kFunctionWrite) {
        const bool echoes = answer.pduLength == 5 && ((pdu[1] << 8) | pdu[2]) == request.start &&
                            ((pdu[3] << 8) | pdu[4]) == request.count;
        return echoes ? AnswerFault::None : AnswerFault::OtherEcho;
    }
    if (answer.pduLength < 2)
        return AnswerFault::ByteCount;
    const int byteCount = pdu[1];
    const bool fits = byteCount >= 2 && byteCount % 2 == 0 && byteCount <= 2 * request.count &&
                      answer.pduLength == 2 + byteCount;
    return fits ? AnswerFault::None : AnswerFault::ByteCount;
}

const char *answerFaultName(AnswerFault fault) {
    switch (fault) {
    case AnswerFault::None:
        return "";
    case AnswerFault::OtherUnit:
        return "another address";
    case AnswerFault::OtherFunction:
        return "another function";
    case AnswerFault::ByteCount:
        return "wrong byte count";
    case AnswerFault::OtherEcho:
        return "echo of another register or count";
    }
    return "";
}
