#include "portfollow.h"

#include <QSerialPortInfo>

#include <mutex>

namespace {

std::mutex g_lock; // the lister and the move report
PortLister g_lister;
QString g_moved;

} // namespace

bool PortIdentity::isNamed(const QString &portName) const {
    return !portName.isEmpty() && (portName == name || portName == location);
}

bool PortIdentity::sameDevice(const PortIdentity &other) const {
    return hasUsbIds && other.hasUsbIds && vendor == other.vendor && product == other.product &&
           serialNumber == other.serialNumber;
}

QList<PortIdentity> listedPorts() {
    PortLister lister;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        lister = g_lister;
    }
    if (lister)
        return lister();
    QList<PortIdentity> out;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        PortIdentity p;
        p.name = info.portName();
        p.location = info.systemLocation();
        p.hasUsbIds = info.hasVendorIdentifier() && info.hasProductIdentifier();
        p.vendor = info.vendorIdentifier();
        p.product = info.productIdentifier();
        p.serialNumber = info.serialNumber();
        out << p;
    }
    return out;
}

void setPortLister(PortLister lister) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_lister = std::move(lister);
}

PortIdentity identityOf(const QString &portName, const QList<PortIdentity> &listed) {
    for (const PortIdentity &p : listed)
        if (p.isNamed(portName))
            return p;
    PortIdentity p;
    p.name = p.location = portName;
    return p;
}

PortIdentity replugTarget(const PortIdentity &lost, const QList<PortIdentity> &listed) {
    if (!lost.hasUsbIds)
        return PortIdentity();
    const PortIdentity *found = nullptr;
    for (const PortIdentity &p : listed) {
        // Back under its own name: nothing to follow.
        if (p.isNamed(lost.name) || p.isNamed(lost.location))
            return PortIdentity();
        if (!p.sameDevice(lost))
            continue;
        // Two adapters alike (no serial numbers to tell them apart): none is taken.
        if (found)
            return PortIdentity();
        found = &p;
    }
    return found ? *found : PortIdentity();
}

QString nameLike(const PortIdentity &p, const QString &usedName) {
    return usedName.startsWith(QLatin1Char('/')) || usedName.startsWith(QLatin1Char('\\'))
               ? p.location
               : p.name;
}

void notePortMoved(const QString &portName) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_moved = portName;
}

QString takePortMoved() {
    std::lock_guard<std::mutex> guard(g_lock);
    QString out;
    out.swap(g_moved);
    return out;
}

QString AdapterFollower::follow(const QString &from) {
    const PortIdentity target = replugTarget(opened_, listedPorts());
    if (target.name.isEmpty())
        return QString();
    if (from_.isEmpty())
        from_ = from;
    name_ = nameLike(target, from);
    opened_ = target;
    note_ = QStringLiteral("Moved from %1 to %2: the adapter came back under another name.")
                .arg(from, name_)
                .toUtf8();
    return name_;
}
