// The receive path of a read transaction: arbitrary bytes (optionally behind the adapter's echo
// of the request) arrive in arbitrary pieces and are scanned after every piece, exactly as the
// link worker does: skipped bytes are dropped, a complete frame is taken into rxBuf, checked
// against the request and, when valid, landed into the mirror; a quiet line ends the run.
// Nothing may crash or write out of bounds; a taken frame must be whole, CRC-correct and of
// this request's shape; only the requested block's cells 0..count-1 may change, only after a
// valid answer, and they must then hold the answer's words.

#include "battertstackthread.h"
#include "framecodec.h"
#include "framing.h"
#include "receivescan.h"
#include "registermirror.h"

#include <QByteArray>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4)
        return 0;
    const uint16_t block = data[0] % 100; // 92..99 are outside the mirror
    const int count = 1 + data[1] % 127;
    const bool echo = data[2] & 1;
    const uint8_t addr = 1;

    // The mirror keeps what earlier inputs landed; `before` shadows it.
    static std::vector<int16_t> before = [] {
        std::vector<int16_t> cells(kMirrorCells);
        for (int i = 0; i < kMirrorCells; ++i) {
            cells[i] = static_cast<int16_t>(i * 7 + 3);
            setMirrorCell(i, cells[i]);
        }
        return cells;
    }();

    const Frame sent =
        RtuFraming().encode(Request::read(addr, block, static_cast<uint16_t>(count)));
    const uint8_t *request = sent.bytes;
    const int requestLength = sent.length;
    RxExpect expect;
    expect.request = request;
    expect.requestLength = requestLength;
    expect.addr = addr;
    expect.func = 4;
    expect.maxRegs = count;

    uint8_t rxBuf[kFrameBufSize] = {};
    uint16_t rxLen = 0;
    QByteArray accum;
    if (echo)
        accum.append(reinterpret_cast<const char *>(request), requestLength);
    size_t pos = 3;
    RxScan scan;
    bool quiet = false;
    for (;;) {
        const bool more = pos < size;
        if (more) {
            const size_t piece = 1 + data[pos++] % 32;
            const size_t n = std::min(piece, size - pos);
            accum.append(reinterpret_cast<const char *>(data + pos), static_cast<int>(n));
            pos += n;
        } else {
            quiet = true; // the line falls quiet after the last piece
        }
        const auto *bytes = reinterpret_cast<const uint8_t *>(accum.constData());
        scan = scanReceived(bytes, accum.size(), expect, quiet);
        if (scan.skipped < 0 || scan.skipped > accum.size() || scan.echoBytes > scan.skipped ||
            scan.skipped + scan.length > accum.size())
            abort();
        if (quiet && scan.state == RxState::Partial)
            abort(); // a quiet line leaves nothing waiting
        if (scan.state == RxState::Answer || scan.state == RxState::Foreign) {
            const uint8_t *frame = bytes + scan.skipped;
            if (!isFrameComplete(frame, scan.length) || scan.length > 5 + 2 * count)
                abort();
            if ((scan.state == RxState::Answer) != (frame[0] == addr))
                abort();
            std::memcpy(rxBuf, frame, static_cast<size_t>(scan.length));
            rxLen = static_cast<uint16_t>(scan.length);
            break;
        }
        accum.remove(0, scan.skipped);
        if (!more)
            break;
    }

    int landed = 0;
    const bool taken = scan.state == RxState::Answer;
    if (taken && rxLen >= 4 && rxBuf[0] == addr && rxBuf[1] == 4 && isFrameComplete(rxBuf, rxLen))
        landed = landReadAnswer(*registerMirror, block, count, RtuFraming().decode(rxBuf, rxLen));
    if (landed > count || (!taken && landed != 0))
        abort();

    for (int i = 0; i < kMirrorCells; ++i) {
        const bool inBlock =
            block < kMirrorBlocks && i >= block * kBlockSize && i < block * kBlockSize + landed;
        const int16_t now = mirrorCell(i);
        if (!inBlock) {
            if (now != before[i])
                abort();
            continue;
        }
        const int r = i - block * kBlockSize;
        const auto word = static_cast<int16_t>((rxBuf[3 + 2 * r] << 8) | rxBuf[4 + 2 * r]);
        if (now != word || 3 + 2 * r + 1 >= rxLen - 2)
            abort();
        before[i] = now;
    }
    return 0;
}
