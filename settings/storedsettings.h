#pragma once
// Settings kept between runs (QSettings, per user): the serial line, the device address and
// the folder the fault log was last exported to. Only the program turns the store on; tests
// that build windows leave the operator's settings alone unless they point the store at a
// temporary location first.

#include "serialsettings.h"

#include <QList>
#include <QString>

#include <cstdint>

void enableStoredSettings(bool on);
bool storedSettingsEnabled();

struct StoredSettings {
    SerialSettings serial; // comConfigured is set when a port was stored
    uint8_t deviceAddr = 0; // 0 when none was stored
    QString exportFolder;
};
StoredSettings loadStoredSettings();

// Puts the stored serial settings into the record and the stored address into deviceAddr;
// false (nothing changed) when nothing was stored or the store is off.
bool applyStoredSettings();

void storeSerialSettings(const SerialSettings &settings, uint8_t deviceAddress);
void storeDeviceAddress(uint8_t deviceAddress);
void storeExportFolder(const QString &folder);
// The folder to offer for an export: the last one used, "." when none.
QString exportFolderToOffer();
// The Bus window's controllers as the operator last typed them ("1-8"; empty when none).
void storeBusAddresses(const QString &addresses);
QString storedBusAddresses();
// The operator's name the audit log puts beside the login name (empty when none was set).
void storeOperatorName(const QString &name);
QString storedOperatorName();

// The device scan's choices: the rates ticked (empty when none were stored) and whether it
// stops at the first controller found.
struct ScanChoices {
    QList<int> rates;
    bool stopAtFirst = false;
};
ScanChoices loadScanChoices();
void storeScanChoices(const ScanChoices &choices);
// rates with the stored serial rate (the one the link last used) moved to the front: a
// controller is most likely still there.
QList<int> rememberedRateFirst(QList<int> rates);
