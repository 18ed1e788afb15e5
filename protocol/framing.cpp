#include "framing.h"

#include "framecodec.h"

namespace {
constexpr int kCrcBytes = 2;
constexpr int kExceptionAnswerBytes = 5;
} // namespace

Frame RtuFraming::encode(const Request &request) {
    Frame f;
    f.bytes[0] = request.addr;
    const int pdu = request.encodePdu(f.bytes + 1);
    const uint16_t crc = crc16(0xFFFF, f.bytes, 1 + pdu);
    f.bytes[1 + pdu] = static_cast<uint8_t>(crc & 0xFF);
    f.bytes[2 + pdu] = static_cast<uint8_t>(crc >> 8);
    f.length = 1 + pdu + kCrcBytes;
    return f;
}

RxScan RtuFraming::scan(const uint8_t *bytes, int length, const Request &request, const Frame &sent,
                        bool lineQuiet) const {
    RxExpect e;
    e.request = sent.bytes;
    e.requestLength = sent.length;
    e.addr = request.addr;
    e.func = request.function;
    e.maxRegs = request.isRead() ? request.count : 0;
    return scanReceived(bytes, length, e, lineQuiet);
}

Answer RtuFraming::decode(const uint8_t *frame, int length) const {
    Answer a;
    if (length < 1 + kCrcBytes + 1)
        return a;
    a.addr = frame[0];
    a.function = frame[1];
    a.pdu = frame + 1;
    a.pduLength = length - 1 - kCrcBytes;
    return a;
}

int RtuFraming::maxAnswerBytes(const Request &request) const {
    // A read's whole block, or a write's echo of register and count.
    return request.isRead() ? 5 + 2 * request.count : 8;
}

bool RtuFraming::damagedAnswer(const uint8_t *skipped, int length, const Frame &sent) const {
    // A run that begins as this request's answer (its address, its function or exception) and
    // is long enough to be one failed its CRC; anything else was noise the scan stepped over.
    return length >= kExceptionAnswerBytes && skipped[0] == sent.bytes[0] &&
           (skipped[1] == sent.bytes[1] || skipped[1] == (sent.bytes[1] | kExceptionBit));
}
