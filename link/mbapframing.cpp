#include "mbapframing.h"

#include "framecodec.h"

QByteArray MbapFraming::encode(const uint8_t *rtu, int length) {
    if (length < 4)
        return QByteArray();
    ++tid_;
    const int pduAndUnit = length - 2; // the CRC stays behind
    QByteArray adu;
    adu.reserve(6 + pduAndUnit);
    adu.append(static_cast<char>(tid_ >> 8)).append(static_cast<char>(tid_ & 0xFF));
    adu.append('\0').append('\0');
    adu.append(static_cast<char>(pduAndUnit >> 8)).append(static_cast<char>(pduAndUnit & 0xFF));
    adu.append(reinterpret_cast<const char *>(rtu), pduAndUnit);
    return adu;
}

MbapFraming::Take MbapFraming::take(QByteArray &received, QByteArray *rtu) const {
    if (received.size() < kMbapHeaderBytes)
        return Take::Waiting;
    const auto *p = reinterpret_cast<const uint8_t *>(received.constData());
    const int length = (p[4] << 8) | p[5];
    if (p[2] != 0 || p[3] != 0 || length < 2 || length > kMbapMaxLength)
        return Take::Broken;
    if (received.size() < 6 + length)
        return Take::Waiting;
    const uint16_t tid = static_cast<uint16_t>((p[0] << 8) | p[1]);
    if (tid != tid_) {
        received.remove(0, 6 + length);
        return Take::Stale;
    }
    QByteArray frame = received.mid(6, length);
    received.remove(0, 6 + length);
    const uint16_t crc =
        crc16(0xFFFF, reinterpret_cast<const uint8_t *>(frame.constData()), frame.size());
    frame.append(static_cast<char>(crc & 0xFF)).append(static_cast<char>(crc >> 8));
    *rtu = frame;
    return Take::Answer;
}
