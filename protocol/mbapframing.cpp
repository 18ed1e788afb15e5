#include "mbapframing.h"

Frame MbapFraming::encode(const Request &request) {
    ++tid_;
    Frame f;
    f.bytes[0] = static_cast<uint8_t>(tid_ >> 8);
    f.bytes[1] = static_cast<uint8_t>(tid_ & 0xFF);
    f.bytes[2] = 0;
    f.bytes[3] = 0;
    f.bytes[6] = request.addr;
    const int pdu = request.encodePdu(f.bytes + kMbapHeaderBytes);
    f.bytes[4] = static_cast<uint8_t>((pdu + 1) >> 8);
    f.bytes[5] = static_cast<uint8_t>((pdu + 1) & 0xFF);
    f.length = kMbapHeaderBytes + pdu;
    return f;
}

RxScan MbapFraming::scan(const uint8_t *bytes, int length, const Request &request,
                         const Frame &sent, bool) const {
    RxScan s;
    int at = 0;
    for (;;) {
        const uint8_t *p = bytes + at;
        const int left = length - at;
        s.skipped = at;
        if (left <= 0) {
            s.state = RxState::Waiting;
            return s;
        }
        if (left < kMbapHeaderBytes + 1) {
            s.state = RxState::Partial;
            s.ownStart = left >= 2 && p[0] == sent.bytes[0] && p[1] == sent.bytes[1];
            return s;
        }
        const int adu = 6 + ((p[4] << 8) | p[5]);
        if (p[2] != 0 || p[3] != 0 || adu < 8 || adu > 6 + kMbapMaxLength) {
            s.skipped = length;
            s.state = RxState::Waiting;
            return s;
        }
        if (left < adu) {
            s.state = RxState::Partial;
            s.ownStart = p[0] == sent.bytes[0] && p[1] == sent.bytes[1];
            return s;
        }
        if (p[0] != sent.bytes[0] || p[1] != sent.bytes[1]) {
            at += adu; // another transaction's answer: late, and dropped
            continue;
        }
        s.length = adu;
        s.state = p[6] == request.addr ? RxState::Answer : RxState::Foreign;
        return s;
    }
}

Answer MbapFraming::decode(const uint8_t *frame, int length) const {
    Answer a;
    if (length < kMbapHeaderBytes + 1)
        return a;
    a.addr = frame[6];
    a.function = frame[7];
    a.pdu = frame + kMbapHeaderBytes;
    a.pduLength = length - kMbapHeaderBytes;
    return a;
}

int MbapFraming::maxAnswerBytes(const Request &request) const {
    // A read's byte count and whole block, or a write's echo of register and count.
    return kMbapHeaderBytes + (request.isRead() ? 2 + 2 * request.count : 5);
}
