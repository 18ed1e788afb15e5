#pragma once
// Following a USB serial adapter that was unplugged and plugged back: it often returns under
// another name (ttyUSB0 -> ttyUSB1, COM5 -> COM7). The adapter's USB vendor, product and
// serial number stay, so the port that now carries the lost port's identity is where the
// controller went. The system's list of ports is reached through one seam, so that a test can
// offer ports of its own.

#include <QList>
#include <QString>

#include <functional>

struct PortIdentity {
    QString name;     // as the system names it: "ttyUSB0", "COM5"
    QString location; // its path: "/dev/ttyUSB0" (the name again where there is no path)
    bool hasUsbIds = false;
    quint16 vendor = 0;
    quint16 product = 0;
    QString serialNumber;

    // The port named name (either form).
    bool isNamed(const QString &portName) const;
    // The same adapter: both carry USB ids, and vendor, product and serial number agree.
    bool sameDevice(const PortIdentity &other) const;
};

using PortLister = std::function<QList<PortIdentity>()>;
// The system's serial ports now (QSerialPortInfo), or what a lister set here returns.
QList<PortIdentity> listedPorts();
// Replaces the system's list (tests); an empty function restores it.
void setPortLister(PortLister lister);

// The listed port named portName; only the name when it is not listed.
PortIdentity identityOf(const QString &portName, const QList<PortIdentity> &listed);

// Where the adapter of lost came back: the one listed port with its identity under another
// name. None (an empty name) when lost carries no USB identity, is itself listed again, or no
// port or more than one matches.
PortIdentity replugTarget(const PortIdentity &lost, const QList<PortIdentity> &listed);
// The name to open p by, in the form usedName has (a path stays a path).
QString nameLike(const PortIdentity &p, const QString &usedName);

// The link tells the window that it moved to another port (the window remembers the new
// name); the window takes it. Any thread.
void notePortMoved(const QString &portName);
QString takePortMoved();
