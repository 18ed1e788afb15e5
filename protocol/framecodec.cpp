#include "framecodec.h"

#include <algorithm>
#include <cstring>

namespace {

// LOW[i]: table entry for byte value i; HIGH[i]: entry for byte value 16 * i. By linearity
// LOW[x & 15] ^ HIGH[x >> 4] is the full 256-entry table's entry for x.
constexpr uint16_t kCrcLow[16] = {0x0000, 0xC0C1, 0xC181, 0x0140, 0xC301, 0x03C0, 0x0280, 0xC241,
                                  0xC601, 0x06C0, 0x0780, 0xC741, 0x0500, 0xC5C1, 0xC481, 0x0440};
constexpr uint16_t kCrcHigh[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00, 0x2800, 0xE401,
                                   0xA001, 0x6C00, 0x7800, 0xB401, 0x5000, 0x9C01, 0x8801, 0x4400};

} // namespace

uint16_t crc16(uint16_t initial, const uint8_t *bytes, int length) {
    uint16_t crc = initial;
    for (int i = 0; i < length; ++i) {
        const uint8_t x = static_cast<uint8_t>((crc ^ bytes[i]) & 0xFF);
        crc = static_cast<uint16_t>(kCrcLow[x & 0x0F] ^ kCrcHigh[x >> 4] ^ (crc >> 8));
    }
    return crc;
}

bool isFrameComplete(const uint8_t *bytes, int length) {
    if (length <= 3)
        return false;
    const uint16_t crc = crc16(0xFFFF, bytes, length - 2);
    const uint16_t got = static_cast<uint16_t>(bytes[length - 2] | (bytes[length - 1] << 8));
    return crc == got;
}

