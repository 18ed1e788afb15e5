#pragma once
// Points the serial settings record at a port as "Setting" in the settings window would store
// it: 8 data bits, 1 stop bit, no parity, configured.

#include "linksetup.h"
#include "serialsettings.h"

#include <QString>

inline void useSerialLine(const QString &portPath, int baudRate = 9600) {
    SerialSettings s;
    s.comName = portPath + QStringLiteral(":Simulated controller");
    s.baudRate = baudRate;
    s.dataBits = 8;
    s.stopBits = 1.0f;
    s.checkBit = 0;
    s.comConfigured = true;
    setSerialSettings(s);
}

// What Connect has the link worker open: the record as it stands at each opening.
inline LinkSetup linkSetupFromSettings() {
    const SerialSettings s = serialSettings();
    return LinkSetup::serial(portNameOf(s), serialLineOf(s));
}
