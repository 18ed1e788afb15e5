#include "serialsettings.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

uint8_t knownPortCount = 0;

namespace {
QMutex recordLock;
SerialSettings record;
QStringList leadingPorts;
QStringList extraPorts;
} // namespace

SerialSettings serialSettings()
{
    QMutexLocker guard(&recordLock);
    return record;
}

void setSerialSettings(const SerialSettings &settings)
{
    QMutexLocker guard(&recordLock);
    record = settings;
}

void setComConfigured(bool configured)
{
    QMutexLocker guard(&recordLock);
    record.comConfigured = configured;
}

bool comConfigured()
{
    QMutexLocker guard(&recordLock);
    return record.comConfigured;
}

void addExtraPort(const QString &path, const QString &description, bool first)
{
    const QString entry = path + QLatin1Char(':') + description;
    if (first)
        leadingPorts.append(entry);
    else
        extraPorts.append(entry);
}

QStringList leadingPortEntries() { return leadingPorts; }

QStringList extraPortEntries() { return extraPorts; }

void clearExtraPorts()
{
    leadingPorts.clear();
    extraPorts.clear();
}
