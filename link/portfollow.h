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

// One link's following of its adapter: the identity its port had when it last opened and,
// once the adapter came back under another name, that name. Used by the link's thread only.
class AdapterFollower {
public:
    void reset() { *this = AdapterFollower(); }
    // The name to open for the name the setup gives: the followed one while the setup still
    // names the adapter's old name.
    QString nameFor(const QString &setupName) const {
        return !name_.isEmpty() && setupName == from_ ? name_ : setupName;
    }
    // The port named name has opened: its identity as listed now is the one to follow.
    void opened(const QString &name) { opened_ = identityOf(name, listedPorts()); }
    // The port named from failed to open: the name the adapter that last opened came back
    // under, or an empty name when it is not listed under another name.
    QString follow(const QString &from);
    // Why the link uses another port than the setup names (for the tooltip); empty if it does not.
    const QByteArray &note() const { return note_; }

private:
    PortIdentity opened_;
    QString from_; // the name the setup gives the followed adapter
    QString name_; // the name it came back under
    QByteArray note_;
};

// The link tells the window that it moved to another port (the window remembers the new
// name); the window takes it. Any thread.
void notePortMoved(const QString &portName);
QString takePortMoved();
