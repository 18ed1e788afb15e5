#pragma once
// The plain bitwise CRC-16/MODBUS (reflected polynomial 0xA001, initial 0xFFFF), one bit at a
// time: an independent reference for the table-driven codes under test.

#include <QByteArray>

#include <cstdint>

inline uint16_t referenceCrc(const QByteArray &bytes) {
    uint16_t crc = 0xFFFF;
    for (char c : bytes) {
        crc ^= static_cast<uint8_t>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}
