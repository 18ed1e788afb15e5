#include "simframer.h"

#include "framecodec.h"

namespace {

bool crcOk(const uint8_t *p, int len) {
    if (len < 4)
        return false;
    const uint16_t crc = crc16(0xFFFF, p, len - 2);
    return (crc & 0xFF) == p[len - 2] && (crc >> 8) == p[len - 1];
}

} // namespace

int SimFramer::expectedLength(const uint8_t *p, int len) {
    if (len < 2)
        return 0;
    switch (p[1]) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
        return 8;
    case 15:
    case 16:
        return len < 7 ? 0 : 9 + p[6];
    default:
        return -1;
    }
}

QList<QByteArray> SimFramer::feed(const uint8_t *bytes, int length, Clock::time_point now) {
    QList<QByteArray> out;
    if (length <= 0)
        return out;
    // A quiet gap before these bytes ends the previous run first.
    if (hasBytes() && now >= gapDeadline())
        out += expire(now);
    run_.append(reinterpret_cast<const char *>(bytes), length);
    last_ = now;
    split(out);
    if (run_.size() > kMaxRunBytes) {
        out.append(run_);
        run_.clear();
    }
    return out;
}

QList<QByteArray> SimFramer::expire(Clock::time_point now) {
    QList<QByteArray> out;
    if (hasBytes() && now >= gapDeadline()) {
        out.append(run_);
        run_.clear();
    }
    return out;
}

void SimFramer::split(QList<QByteArray> &out) {
    while (!run_.isEmpty()) {
        const auto *p = reinterpret_cast<const uint8_t *>(run_.constData());
        const int size = run_.size();
        const int n = expectedLength(p, size);
        if (n > 0 && size >= n && crcOk(p, n)) {
            out.append(run_.left(n));
            run_.remove(0, n);
            continue;
        }
        if (n < 0 && crcOk(p, size)) {
            out.append(run_);
            run_.clear();
            return;
        }
        // Still a possible request in progress: wait for more bytes.
        if (n == 0 || (n > 0 && size < n))
            return;
        // The bytes at the front are no request: look for a complete one further on and
        // split the garbage in front of it off as a frame of its own.
        int found = -1;
        for (int i = 1; i + 4 <= size && found < 0; ++i) {
            const int m = expectedLength(p + i, size - i);
            if (m > 0 && i + m <= size && crcOk(p + i, m))
                found = i;
        }
        if (found < 0)
            return;
        out.append(run_.left(found));
        run_.remove(0, found);
    }
}
