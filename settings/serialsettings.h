#pragma once
// The serial settings record: written by the settings window, read by the link worker when it
// opens the port. The device address lives with the shared link state (deviceAddr), the selected
// controller that the pages show.

#include "linesettings.h"

#include <QList>
#include <QString>

#include <cstdint>

// How the controller is reached: a local serial port, or a serial-to-Ethernet gateway.
enum class LinkKind : uint8_t { Serial, Network };
// Over the network: Modbus TCP (MBAP header, unit identifier = device address) or the serial
// line's RTU frames, CRC included, passed through a transparent gateway.
enum class NetFraming : uint8_t { Mbap, RtuOverTcp };
constexpr uint16_t kDefaultTcpPort = 502;

struct SerialSettings {
    QString comName;       // full port entry text: "name:description"
    int32_t baudRate = 0;  // 9600, 115200, 19200, 38400 or 57600; 0 until configured
    uint8_t dataBits = 0;  // 5..8; 0 until configured
    float stopBits = 0.0f; // 1.0, 1.5, 2.0; 0.0 until configured
    uint8_t checkBit = 0;  // 0 None, 1 Odd, 2 Even
    bool comConfigured = false;
    LinkKind link = LinkKind::Serial;
    QString host; // the gateway's host name or address
    uint16_t tcpPort = kDefaultTcpPort;
    NetFraming framing = NetFraming::Mbap;
};

// "HOST" or "HOST:PORT" (an IPv6 address in brackets: "[::1]:502"); the port 1-65535, 502 when
// not given. False (outputs untouched) for an empty host or a port that is no port.
bool parseHostPort(const QString &text, QString *host, uint16_t *port);
// "mbap" or "rtu" (any case); false otherwise.
bool parseFraming(const QString &text, NetFraming *framing);
// "Modbus TCP" or "RTU over TCP", as the settings window offers them.
QString framingText(NetFraming framing);
// What the link will talk to, for the operator: "/dev/ttyUSB0" or "10.0.0.5:502 (Modbus TCP)".
QString linkTargetText(const SerialSettings &settings);

// Thread-safe copy of the record (Connect hands it to the link worker).
SerialSettings serialSettings();
// The record's line settings as the port is set: data bits 5, 6, 7 or else 8; stop bits 1, 1.5
// or else 2; parity 0 none, 1 odd, else even.
SerialLine serialLineOf(const SerialSettings &settings);
// The port's own name: comName up to its first colon ("name:description").
QString portNameOf(const SerialSettings &settings);
void setSerialSettings(const SerialSettings &settings);
void setComConfigured(bool configured);
bool comConfigured();

// The controller's address from operator text: a whole number from 1 to 247 (blanks and line
// breaks around it ignored). 0 is the broadcast address, which no controller answers, and
// 248-255 are reserved; anything else is no address. False (out untouched) when refused.
bool parseDeviceAddress(const QString &text, uint8_t *out);

// Number of serial ports seen at the last port-list refresh (GUI thread only).
extern uint8_t knownPortCount;

// Extra port entries appended after the enumerated ports ("path:description"), for ports the
// operating system does not list: pseudo-terminals, socat links, the built-in simulator (which
// is put first). GUI thread only.
void addExtraPort(const QString &path, const QString &description, bool first = false);
// Entries to list before the system's ports, and after them.
QStringList leadingPortEntries();
QStringList extraPortEntries();
void clearExtraPorts();

// The baud rates the settings window offers, in its order.
const QList<int> &offeredBaudRates();
