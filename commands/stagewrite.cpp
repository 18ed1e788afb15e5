#include "stagewrite.h"

#include "paramtable.h"

#include <algorithm>
#include <cstring>

namespace {

void putWord(uint8_t *out, uint16_t word) {
    out[0] = static_cast<uint8_t>(word >> 8);
    out[1] = static_cast<uint8_t>(word & 0xFF);
}

} // namespace

void fillWriteData(uint8_t *out, const void *data, uint8_t count, uint8_t kind) {
    std::memset(out, 0, kWriteDataSize);
    if (!data)
        return;
    // Never more registers than the data area holds.
    const int regs = std::min<int>(count, kWriteDataSize / 2);
    switch (kind) {
    case kDataByte:
        out[1] = *static_cast<const uint8_t *>(data);
        break;
    case kDataWord:
        putWord(out, *static_cast<const uint16_t *>(data));
        break;
    case kDataWords: {
        const auto *words = static_cast<const uint16_t *>(data);
        for (int i = 0; i < regs; ++i)
            putWord(out + 2 * i, words[i]);
        break;
    }
    case kDataDword: {
        const uint32_t value = *static_cast<const uint32_t *>(data);
        putWord(out, static_cast<uint16_t>(value >> 16));
        putWord(out + 2, static_cast<uint16_t>(value & 0xFFFF));
        break;
    }
    case kDataRaw:
        std::memcpy(out, data, static_cast<size_t>(regs) * 2);
        break;
    default:
        break;
    }
}

void stageWrite(const void *data, uint16_t start, uint8_t count, uint8_t kind) {
    uint8_t bytes[kWriteDataSize];
    fillWriteData(bytes, data, count, kind);
    stageWriteRequest(16, start, count, bytes, kWriteDataSize);
}

bool stageParamWrite(int n, const QString &text) {
    ParamWriteData w;
    if (!encodeSingleWrite(n, text, &w))
        return false;
    if (w.dataKind == kDataRaw)
        stageWrite(w.bytes, w.start, w.count, w.dataKind);
    else
        stageWrite(w.words, w.start, w.count, w.dataKind);
    return true;
}

void stageCommand(uint16_t reg) {
    const uint8_t one = 1;
    stageWrite(&one, reg, 1, kDataByte);
}
