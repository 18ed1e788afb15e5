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
