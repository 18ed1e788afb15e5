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
