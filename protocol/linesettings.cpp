#include "linesettings.h"

#include <algorithm>

int64_t SerialLine::charMicros() const {
    return ::charMicros(baudRate, dataBits, parity != NoParity, stopBits);
}

QString SerialLine::text() const {
    const char parityLetter = parity == NoParity ? 'N' : parity == OddParity ? 'O' : 'E';
    return QStringLiteral("%1 %2%3%4")
        .arg(baudRate)
        .arg(dataBits)
        .arg(QLatin1Char(parityLetter))
        .arg(stopBits == 1.5f ? QStringLiteral("1.5") : QString::number(int(stopBits)));
}

SerialLine lineFrom(int baudRate, int dataBits, int checkBit, float stopBits) {
    SerialLine line;
    line.baudRate = baudRate;
    line.dataBits = dataBits >= 5 && dataBits <= 7 ? dataBits : 8;
    line.parity = checkBit == 0   ? SerialLine::NoParity
                  : checkBit == 1 ? SerialLine::OddParity
                                  : SerialLine::EvenParity;
    line.stopBits = stopBits == 1.0f ? 1.0f : stopBits == 1.5f ? 1.5f : 2.0f;
    return line;
}
