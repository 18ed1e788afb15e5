#include "serialsettings.h"

#include <QStringList>

#include <mutex>

uint8_t knownPortCount = 0;

namespace {
// A std::mutex rather than QMutex: ThreadSanitizer sees its hand-over between the settings
// window and the link worker.
std::mutex recordLock;
SerialSettings record;
QStringList leadingPorts;
QStringList extraPorts;
} // namespace

SerialSettings serialSettings() {
    std::lock_guard<std::mutex> guard(recordLock);
    return record;
}

SerialLine serialLineOf(const SerialSettings &settings) {
    return lineFrom(settings.baudRate, settings.dataBits, settings.checkBit, settings.stopBits);
}

QString portNameOf(const SerialSettings &settings) {
    return settings.comName.split(QLatin1Char(':')).first();
}

void setSerialSettings(const SerialSettings &settings) {
    std::lock_guard<std::mutex> guard(recordLock);
    record = settings;
}

void setComConfigured(bool configured) {
    std::lock_guard<std::mutex> guard(recordLock);
    record.comConfigured = configured;
}

bool comConfigured() {
    std::lock_guard<std::mutex> guard(recordLock);
    return record.comConfigured;
}

bool parseDeviceAddress(const QString &text, uint8_t *out) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 3)
        return false;
    for (const QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const int value = t.toInt();
    if (value < 1 || value > 247)
        return false;
    *out = static_cast<uint8_t>(value);
    return true;
}

bool parseHostPort(const QString &text, QString *host, uint16_t *port) {
    const QString t = text.trimmed();
    QString h = t;
    QString p;
    if (t.startsWith(QLatin1Char('['))) {
        const int close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        h = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return false;
        p = rest.mid(1);
        if (rest.startsWith(QLatin1Char(':')) && p.isEmpty())
            return false;
    } else if (t.count(QLatin1Char(':')) == 1) {
        h = t.section(QLatin1Char(':'), 0, 0);
        p = t.section(QLatin1Char(':'), 1);
        if (p.isEmpty())
            return false;
    }
    if (h.isEmpty() || h.contains(QLatin1Char(' ')))
        return false;
    uint16_t value = kDefaultTcpPort;
    if (!p.isEmpty()) {
        bool ok = false;
        const int n = p.toInt(&ok);
        if (!ok || n < 1 || n > 65535)
            return false;
        value = static_cast<uint16_t>(n);
    }
    *host = h;
    *port = value;
    return true;
}

bool parseFraming(const QString &text, NetFraming *framing) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("mbap"))
        *framing = NetFraming::Mbap;
    else if (t == QLatin1String("rtu"))
        *framing = NetFraming::RtuOverTcp;
    else
        return false;
    return true;
}

QString framingText(NetFraming framing) {
    return framing == NetFraming::Mbap ? QStringLiteral("Modbus TCP")
                                       : QStringLiteral("RTU over TCP");
}

QString linkTargetText(const SerialSettings &settings) {
    if (settings.link == LinkKind::Network)
        return QStringLiteral("%1:%2 (%3)")
            .arg(settings.host.contains(QLatin1Char(':'))
                     ? QLatin1Char('[') + settings.host + QLatin1Char(']')
                     : settings.host)
            .arg(settings.tcpPort)
            .arg(framingText(settings.framing));
    return settings.comName.section(QLatin1Char(':'), 0, 0);
}

void addExtraPort(const QString &path, const QString &description, bool first) {
    const QString entry = path + QLatin1Char(':') + description;
    if (first)
        leadingPorts.append(entry);
    else
        extraPorts.append(entry);
}

QStringList leadingPortEntries() {
    return leadingPorts;
}

QStringList extraPortEntries() {
    return extraPorts;
}

void clearExtraPorts() {
    leadingPorts.clear();
    extraPorts.clear();
}

const QList<int> &offeredBaudRates() {
    static const QList<int> rates{9600, 115200, 19200, 38400, 57600};
    return rates;
}
