#include "receivescan.h"

#include "framecodec.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kExceptionLength = 5;
constexpr int kWriteAnswerLength = 8;

// Length of the frame that starts at p, from its own header, when it begins an answer or
// another Modbus answer the peer may send instead (an exception, a register read of either
// function, a write's echo); 0 when more bytes are needed to tell; -1 when these bytes cannot
// begin such a frame. Whether the frame answers the request is the answer check's to say.
// *doubtful: a read answer of the function asked whose byte count it could not carry (odd, none,
// more than asked): taken as a frame only when it is already whole with its CRC, and otherwise
// a place to resynchronise at, so that noise never holds the wait.
int answerLength(const uint8_t *p, int available, const RxExpect &e, bool *doubtful) {
    *doubtful = false;
    if (available < 2)
        return 0;
    if (p[1] & kExceptionBit)
        return kExceptionLength;
    if (p[1] == kFunctionWrite || p[1] == kFunctionWriteSingle)
        return kWriteAnswerLength;
    if (p[1] != kFunctionRead && p[1] != kFunctionReadHolding)
        return -1;
    if (available < 3)
        return 0;
    const int byteCount = p[2];
    *doubtful =
        p[1] == e.func && (byteCount < 2 || byteCount % 2 != 0 || byteCount > 2 * e.maxRegs);
    return byteCount + 5;
}

bool crcHolds(const uint8_t *p, int length) {
    const uint16_t crc = crc16(0xFFFF, p, length - 2);
    return p[length - 2] == (crc & 0xFF) && p[length - 1] == (crc >> 8);
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

        bool doubtful = false;
        const int frameLength = answerLength(p, available, e, &doubtful);
        if (frameLength < 0 ||
            (doubtful && (available < frameLength || !crcHolds(p, frameLength)))) {
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
            scan.ownStart = available >= 2 && p[0] == e.addr &&
                            (p[1] == e.func || p[1] == (e.func | kExceptionBit));
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
        scan.state = RxState::Answer;
        scan.skipped = pos;
        scan.length = frameLength;
        return scan;
    }
    scan.skipped = pos;
    return scan;
}
