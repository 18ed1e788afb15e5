#include "serialsettings.h"

#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

uint8_t knownPortCount = 0;

namespace {
QMutex recordLock;
SerialSettings record;
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
        extraPorts.prepend(entry);
    else
        extraPorts.append(entry);
}

QStringList extraPortEntries() { return extraPorts; }
