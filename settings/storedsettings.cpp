#include "storedsettings.h"

#include "registermirror.h"

#include <QDir>
#include <QSettings>

#include <atomic>

namespace {

std::atomic<bool> g_enabled{false};

QSettings store() {
    return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Vaduz"));
}

} // namespace

void enableStoredSettings(bool on) {
    g_enabled.store(on);
}

bool storedSettingsEnabled() {
    return g_enabled.load();
}

StoredSettings loadStoredSettings() {
    StoredSettings out;
    if (!storedSettingsEnabled())
        return out;
    QSettings s = store();
    s.beginGroup(QStringLiteral("serial"));
    const QString port = s.value(QStringLiteral("port")).toString();
    const int baud = s.value(QStringLiteral("baud"), 9600).toInt();
    const int dataBits = s.value(QStringLiteral("dataBits"), 8).toInt();
    const double stopBits = s.value(QStringLiteral("stopBits"), 1.0).toDouble();
    const int parity = s.value(QStringLiteral("parity"), 0).toInt();
    const int addr = s.value(QStringLiteral("address"), 0).toInt();
    const bool network = s.value(QStringLiteral("link")).toString() == QLatin1String("network");
    const QString host = s.value(QStringLiteral("host")).toString();
    const int tcpPort = s.value(QStringLiteral("tcpPort"), kDefaultTcpPort).toInt();
    NetFraming framing = NetFraming::Mbap;
    parseFraming(s.value(QStringLiteral("framing")).toString(), &framing);
    s.endGroup();
    // Only what the settings window itself could have stored is taken.
    if (!port.isEmpty()) {
        out.serial.comName = port;
        out.serial.baudRate = baud;
        out.serial.dataBits = static_cast<uint8_t>(dataBits >= 5 && dataBits <= 8 ? dataBits : 8);
        out.serial.stopBits = stopBits == 1.5 ? 1.5f : stopBits == 2.0 ? 2.0f : 1.0f;
        out.serial.checkBit = static_cast<uint8_t>(parity >= 0 && parity <= 2 ? parity : 0);
        out.serial.comConfigured = baud > 0;
    }
    // The gateway is kept beside the serial port: switching back and forth loses neither.
    out.serial.host = host.trimmed();
    out.serial.tcpPort =
        static_cast<uint16_t>(tcpPort >= 1 && tcpPort <= 65535 ? tcpPort : kDefaultTcpPort);
    out.serial.framing = framing;
    if (network && !out.serial.host.isEmpty()) {
        out.serial.link = LinkKind::Network;
        if (out.serial.baudRate == 0) {
            // The line behind the gateway, for the RTU wait rule, until one is chosen.
            out.serial.baudRate = baud > 0 ? baud : 9600;
            out.serial.dataBits = 8;
            out.serial.stopBits = 1.0f;
        }
        out.serial.comConfigured = true;
    }
    if (addr >= 1 && addr <= 247)
        out.deviceAddr = static_cast<uint8_t>(addr);
    out.exportFolder = s.value(QStringLiteral("export/folder")).toString();
    return out;
}

bool applyStoredSettings() {
    const StoredSettings stored = loadStoredSettings();
    if (stored.deviceAddr != 0)
        deviceAddr.store(stored.deviceAddr);
    if (!stored.serial.comConfigured)
        return stored.deviceAddr != 0;
    setSerialSettings(stored.serial);
    return true;
}

void storeSerialSettings(const SerialSettings &settings, uint8_t deviceAddress) {
    if (!storedSettingsEnabled())
        return;
    QSettings s = store();
    s.beginGroup(QStringLiteral("serial"));
    s.setValue(QStringLiteral("port"), settings.comName);
    s.setValue(QStringLiteral("baud"), settings.baudRate);
    s.setValue(QStringLiteral("dataBits"), settings.dataBits);
    s.setValue(QStringLiteral("stopBits"), static_cast<double>(settings.stopBits));
    s.setValue(QStringLiteral("parity"), settings.checkBit);
    s.setValue(QStringLiteral("address"), deviceAddress);
    s.setValue(QStringLiteral("link"), settings.link == LinkKind::Network
                                           ? QStringLiteral("network")
                                           : QStringLiteral("serial"));
    s.setValue(QStringLiteral("host"), settings.host);
    s.setValue(QStringLiteral("tcpPort"), settings.tcpPort);
    s.setValue(QStringLiteral("framing"), settings.framing == NetFraming::Mbap
                                              ? QStringLiteral("mbap")
                                              : QStringLiteral("rtu"));
    s.endGroup();
}

void storeDeviceAddress(uint8_t deviceAddress) {
    if (storedSettingsEnabled())
        store().setValue(QStringLiteral("serial/address"), deviceAddress);
}

void storeExportFolder(const QString &folder) {
    if (storedSettingsEnabled())
        store().setValue(QStringLiteral("export/folder"), folder);
}

QString exportFolderToOffer() {
    const QString folder = loadStoredSettings().exportFolder;
    return !folder.isEmpty() && QDir(folder).exists() ? folder : QStringLiteral(".");
}

ScanChoices loadScanChoices() {
    ScanChoices out;
    if (!storedSettingsEnabled())
        return out;
    QSettings s = store();
    for (const QVariant &rate : s.value(QStringLiteral("scan/rates")).toList())
        if (rate.toInt() > 0)
            out.rates << rate.toInt();
    out.stopAtFirst = s.value(QStringLiteral("scan/stopAtFirst"), false).toBool();
    return out;
}

void storeScanChoices(const ScanChoices &choices) {
    if (!storedSettingsEnabled())
        return;
    QVariantList rates;
    for (const int rate : choices.rates)
        rates << rate;
    QSettings s = store();
    s.setValue(QStringLiteral("scan/rates"), rates);
    s.setValue(QStringLiteral("scan/stopAtFirst"), choices.stopAtFirst);
}

QList<int> rememberedRateFirst(QList<int> rates) {
    const StoredSettings stored = loadStoredSettings();
    const int remembered = stored.serial.comConfigured ? stored.serial.baudRate : 0;
    if (rates.removeAll(remembered) > 0)
        rates.prepend(remembered);
    return rates;
}
