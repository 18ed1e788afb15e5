#include "receivescan.h"

#include "framecodec.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kExceptionLength = 5;
constexpr int kWriteAnswerLength = 8;

// Length of the answer of function func (or its exception) that starts at p, from its own
// header; 0 when more bytes are needed to tell; -1 when these bytes cannot begin such an answer.
int answerLength(const uint8_t *p, int available, const RxExpect &e) {
    if (available < 2)
        return 0;
    if (p[1] == (e.func | kExceptionBit))
        return kExceptionLength;
    if (p[1] != e.func)
        return -1;
    if (e.func == kFunctionWrite)
        return kWriteAnswerLength;
    if (available < 3)
        return 0;
    // A read answer brings whole registers, at least one and never more than asked.
    const int byteCount = p[2];
    if (byteCount < 2 || byteCount % 2 != 0 || byteCount > 2 * e.maxRegs)
        return -1;
    return byteCount + 5;
}

bool crcHolds(const uint8_t *p, int length) {
    const uint16_t crc = crc16(0xFFFF, p, length - 2);
    return p[length - 2] == (crc & 0xFF) && p[length - 1] == (crc >> 8);
}

// Length of a whole frame at p from the address asked that a peer may send instead of the
// answer (any exception, a register read of either function, a write's echo), or 0.
int otherFrameLength(const uint8_t *p, int available, const RxExpect &e) {
    if (available < 4 || p[0] != e.addr)
        return 0;
    int length = 0;
    if (p[1] & kExceptionBit)
        length = 5;
    else if (p[1] == kFunctionWrite || p[1] == kFunctionWriteSingle)
        length = kWriteAnswerLength;
    else if (p[1] == kFunctionRead || p[1] == kFunctionReadHolding)
        length = p[2] + 5;
    return length > 0 && available >= length && crcHolds(p, length) ? length : 0;
}

// Steps over a frame that is no answer to e, with the answer check's name for its fault.
AnswerFault refusal(const uint8_t *p, int length, const RxExpect &e) {
    Request asked;
    asked.addr = e.addr;
    asked.function = e.func;
    asked.count = static_cast<uint16_t>(e.maxRegs);
    if (e.requestLength >= 6) {
        asked.start = static_cast<uint16_t>((e.request[2] << 8) | e.request[3]);
        asked.count = static_cast<uint16_t>((e.request[4] << 8) | e.request[5]);
    }
    Answer a;
    a.addr = p[0];
    a.function = p[1];
    a.pdu = p + 1;
    a.pduLength = length - 3;
    return checkAnswer(asked, a);
}

} // namespace

RxScan scanReceived(const uint8_t *bytes, int length, const RxExpect &e, bool lineQuiet) {
    RxScan scan;
    int pos = 0;
    while (pos < length) {
        const uint8_t *p = bytes + pos;
        const int available = length - pos;

        // The adapter's echo of the request: skipped whole; a beginning of it is held until
        // the rest comes or the line falls quiet.
        if (e.requestLength > 0) {
            const int n = std::min(available, e.requestLength);
            if (std::memcmp(p, e.request, static_cast<size_t>(n)) == 0) {
                if (n == e.requestLength) {
                    pos += n;
                    scan.echoBytes += n;
                    continue;
                }
                if (!lineQuiet) {
                    scan.state = RxState::Partial;
                    scan.skipped = pos;
                    scan.ownStart = n >= 2;
                    return scan;
                }
            }
        }

        const int frameLength = answerLength(p, available, e);
        const int other = frameLength < 0 ? otherFrameLength(p, available, e) : 0;
        if (other > 0) {
            ++scan.refused;
            scan.refusedFault = refusal(p, other, e);
            pos += other;
            continue;
        }
        if (frameLength < 0) {
            ++pos; // cannot begin an answer of this function: resynchronise one byte later
            continue;
        }
        if (frameLength == 0 || available < frameLength) {
            if (lineQuiet) {
                ++pos; // the line went quiet inside it: it never completes
                continue;
            }
            scan.state = RxState::Partial;
            scan.skipped = pos;
            scan.ownStart = available >= 2 && p[0] == e.addr;
            return scan;
        }
        if (!crcHolds(p, frameLength)) {
            ++pos;
            continue;
        }
        if (p[0] != e.addr) {
            scan.state = RxState::Foreign;
            scan.skipped = pos;
            scan.length = frameLength;
            return scan;
        }
        // A write's answer names the register and count it confirms: the echo of another
        // write (a late answer to an earlier request) is no answer to this one.
        if (p[1] == kFunctionWrite && e.requestLength >= 6 &&
            std::memcmp(p + 2, e.request + 2, 4) != 0) {
            ++scan.refused;
            scan.refusedFault = AnswerFault::OtherEcho;
            pos += frameLength;
            continue;
        }
        scan.state = RxState::Answer;
        scan.skipped = pos;
        scan.length = frameLength;
        return scan;
    }
    scan.skipped = pos;
    return scan;
}
