#pragma once
// What the link is started on, handed in by whoever connects it: the port and its line
// settings, and optionally another kind of port, framing and timing than a serial line's.

#include "framing.h"
#include "linesettings.h"
#include "linkport.h"
#include "transaction.h"

#include <QString>

#include <functional>
#include <memory>

struct LinkSetup {
    static LinkSetup serial(const QString &portName, const SerialLine &line) {
        LinkSetup s;
        s.portName = portName;
        s.line = line;
        return s;
    }

    QString portName; // the port's own name ("/dev/ttyUSB0", "COM3"), no description
    // The link as the operator sees it where it is no serial port of its own name
    // ("10.0.0.5:502 (Modbus TCP)"); empty: portName, or the port's description.
    QString name;
    SerialLine line;
    // Another port than the serial line above (a network socket, a test's fake port), made in
    // the worker's thread when the link starts.
    std::function<std::unique_ptr<LinkPort>()> makePort;
    // Another framing than RTU.
    std::function<std::unique_ptr<Framing>()> makeFraming;
    // Another timing than the serial line's (respTimeoutMs to the first byte, character
    // times), from the response time-out and the largest answer the request can get.
    std::function<TransactionTiming(int respTimeoutMs, int maxAnswerBytes)> timing;
};
