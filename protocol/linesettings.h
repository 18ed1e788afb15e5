#pragma once
// The line parameters of a serial port as one value, and the wire times they give. The codes
// are those of the serial settings record: data bits 5 to 8, parity 0 none, 1 odd, 2 even,
// stop bits 1, 1.5 or 2; lineFrom() maps any other value as the port is set (8 data bits,
// even parity, two stop bits).

#include "linetiming.h"

#include <QString>

#include <cstdint>

struct SerialLine {
    enum Parity : uint8_t { NoParity = 0, OddParity = 1, EvenParity = 2 };
    int baudRate = 9600;
    int dataBits = 8;
    Parity parity = NoParity;
    float stopBits = 1.0f;

    // One character on the wire (start bit, data bits, parity bit, stop bits), in microseconds.
    int64_t charMicros() const;
    // "9600 8N1", "115200 7E1.5"
    QString text() const;
    bool operator==(const SerialLine &o) const {
        return baudRate == o.baudRate && dataBits == o.dataBits && parity == o.parity &&
               stopBits == o.stopBits;
    }
};

SerialLine lineFrom(int baudRate, int dataBits, int checkBit, float stopBits);
