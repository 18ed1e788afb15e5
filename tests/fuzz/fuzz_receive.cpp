// The receive path of a read transaction: arbitrary bytes arrive in arbitrary pieces at the
// accumulator, which is tested as one run after every piece, exactly as the link worker does;
// a complete frame is checked against the request and, when valid, landed into the mirror.
// Nothing may crash or write out of bounds; only the requested block's cells 0..count-1 may
// change, only after a valid answer, and they must then hold the answer's words.

#include "framecodec.h"
#include "registermirror.h"

#include <QByteArray>

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const uint16_t block = data[0] % 100; // 92..99 are outside the mirror
    const int count = 1 + data[1] % 127;
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

    resetFrameBuffers();
    QByteArray accum;
    size_t pos = 2;
    RxRun state = RxRun::Incomplete;
    while (pos < size && state == RxRun::Incomplete) {
        const size_t piece = 1 + data[pos++] % 32;
        const size_t n = std::min(piece, size - pos);
        accum.append(reinterpret_cast<const char *>(data + pos), static_cast<int>(n));
        pos += n;
        state = acceptReceivedRun(reinterpret_cast<const uint8_t *>(accum.constData()),
                                  accum.size(), rxBuf, &rxLen);
        if (rxLen > kFrameBufSize)
            abort();
    }

    int landed = 0;
    if (state == RxRun::Complete && checkResponseFor(rxBuf, rxLen, addr, 4) == 0)
        landed = landReadResponse(block, count, rxBuf, rxLen);
    if (landed > count || (state != RxRun::Complete && landed != 0))
        abort();

    for (int i = 0; i < kMirrorCells; ++i) {
        const bool inBlock = block < kMirrorBlocks && i >= block * kBlockSize &&
                             i < block * kBlockSize + landed;
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
