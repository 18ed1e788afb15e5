#include "storedsettings.h"

#include "registermirror.h"
#include "safetext.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSet>
#include <QSettings>

#include <atomic>
#include <limits>

namespace {

Q_LOGGING_CATEGORY(lcSettings, "vaduz.settings", QtInfoMsg)

std::atomic<bool> g_enabled{false};

QSettings store() {
    return QSettings(QStringLiteral("Kelvane"), QStringLiteral("Vaduz"));
}

// The settings file is edited by hand at times, and may be damaged: each remembered value is
// taken only when the settings window (or the export) could have stored it.
constexpr int kMaxPortEntryLength = 256;
constexpr int kMaxFolderLength = 4096;

// A text of at most maxLength characters without control characters (a list, which an
// unquoted comma in the file makes, is no text).
bool acceptText(const QVariant &raw, int maxLength, QVariant *taken) {
    if (raw.userType() != QMetaType::QString && raw.userType() != QMetaType::QByteArray)
        return false;
    const QString text = raw.toString();
    if (text.isEmpty() || text.size() > maxLength || printableText(text) != text)
        return false;
    *taken = text;
    return true;
}

// A whole number written as such ("9600", not "9600.5", "0x2580" or "9600 baud") from lowest
// to highest.
bool acceptWhole(const QVariant &raw, int lowest, int highest, QVariant *taken) {
    bool ok = false;
    const int v = raw.toString().toInt(&ok, 10);
    if (!ok || v < lowest || v > highest)
        return false;
    *taken = v;
    return true;
}

bool acceptPort(const QVariant &raw, QVariant *taken) {
    return acceptText(raw, kMaxPortEntryLength, taken);
}

bool acceptFolder(const QVariant &raw, QVariant *taken) {
    return acceptText(raw, kMaxFolderLength, taken);
}

bool acceptBaud(const QVariant &raw, QVariant *taken) {
    return acceptWhole(raw, 1, std::numeric_limits<int>::max(), taken) &&
           offeredBaudRates().contains(taken->toInt());
}

bool acceptDataBits(const QVariant &raw, QVariant *taken) {
    return acceptWhole(raw, 5, 8, taken);
}

bool acceptStopBits(const QVariant &raw, QVariant *taken) {
    bool ok = false;
    const double v = raw.toString().toDouble(&ok);
    if (!ok || (v != 1.0 && v != 1.5 && v != 2.0))
        return false;
    *taken = v;
    return true;
}

bool acceptParity(const QVariant &raw, QVariant *taken) {
    return acceptWhole(raw, 0, 2, taken);
}

bool acceptAddress(const QVariant &raw, QVariant *taken) {
    return acceptWhole(raw, 1, 247, taken);
}

// A host name or address (at most 253 characters, as DNS allows).
bool acceptHost(const QVariant &raw, QVariant *taken) {
    if (raw.toString().isEmpty()) { // stored while the serial port was chosen
        *taken = QString();
        return true;
    }
    return acceptText(raw, 253, taken) && !taken->toString().contains(QLatin1Char(' '));
}

bool acceptTcpPort(const QVariant &raw, QVariant *taken) {
    return acceptWhole(raw, 1, 65535, taken);
}

bool acceptFraming(const QVariant &raw, QVariant *taken) {
    NetFraming framing;
    if (!parseFraming(raw.toString(), &framing))
        return false;
    *taken = raw.toString();
    return true;
}

bool acceptLinkKind(const QVariant &raw, QVariant *taken) {
    const QString kind = raw.toString();
    if (kind != QLatin1String("serial") && kind != QLatin1String("network"))
        return false;
    *taken = kind;
    return true;
}

struct SettingRule {
    const char *key;
    bool (*accept)(const QVariant &raw, QVariant *taken);
    QVariant fallback; // taken when the value is missing or refused
};

const SettingRule kRules[] = {
    {"serial/port", acceptPort, QString()},     {"serial/baud", acceptBaud, 9600},
    {"serial/dataBits", acceptDataBits, 8},     {"serial/stopBits", acceptStopBits, 1.0},
    {"serial/parity", acceptParity, 0},         {"serial/address", acceptAddress, 0},
    {"serial/link", acceptLinkKind, QStringLiteral("serial")},
    {"serial/host", acceptHost, QString()},
    {"serial/tcpPort", acceptTcpPort, kDefaultTcpPort},
    {"serial/framing", acceptFraming, QStringLiteral("mbap")},
    {"export/folder", acceptFolder, QString()},
};

// The value under rule's key, or its fallback. A refused value is logged once per process
// (the export folder is read at every export).
QVariant checkedValue(const QSettings &s, const SettingRule &rule) {
    const QString key = QLatin1String(rule.key);
    if (!s.contains(key))
        return rule.fallback;
    const QVariant raw = s.value(key);
    QVariant taken;
    if (rule.accept(raw, &taken))
        return taken;
    static QSet<QString> logged;
    const QString what = key + QLatin1Char('=') + raw.toString();
    if (!logged.contains(what)) {
        logged.insert(what);
        qCWarning(lcSettings).noquote()
            << "Settings file" << s.fileName() << ": refused" << key << "="
            << printableText(raw.toString()).left(80) << "(not a value the program offers);"
            << "using"
            << (rule.fallback.isNull() ? QStringLiteral("none") : rule.fallback.toString());
    }
    return rule.fallback;
}

QVariant checkedValue(const QSettings &s, const char *key) {
    for (const SettingRule &rule : kRules)
        if (qstrcmp(rule.key, key) == 0)
            return checkedValue(s, rule);
    return QVariant();
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
    const QSettings s = store();
    const QString port = checkedValue(s, "serial/port").toString();
    if (!port.isEmpty()) {
        out.serial.comName = port;
        out.serial.baudRate = checkedValue(s, "serial/baud").toInt();
        out.serial.dataBits = static_cast<uint8_t>(checkedValue(s, "serial/dataBits").toInt());
        out.serial.stopBits = checkedValue(s, "serial/stopBits").toFloat();
        out.serial.checkBit = static_cast<uint8_t>(checkedValue(s, "serial/parity").toInt());
        out.serial.comConfigured = true;
    }
    // The gateway is kept beside the serial port: switching back and forth loses neither.
    out.serial.host = checkedValue(s, "serial/host").toString();
    out.serial.tcpPort = static_cast<uint16_t>(checkedValue(s, "serial/tcpPort").toInt());
    NetFraming framing = NetFraming::Mbap;
    parseFraming(checkedValue(s, "serial/framing").toString(), &framing);
    out.serial.framing = framing;
    if (checkedValue(s, "serial/link").toString() == QLatin1String("network") &&
        !out.serial.host.isEmpty()) {
        out.serial.link = LinkKind::Network;
        if (out.serial.baudRate == 0) {
            // The line behind the gateway, for the RTU wait rule, until one is chosen.
            out.serial.baudRate = checkedValue(s, "serial/baud").toInt();
            out.serial.dataBits = 8;
            out.serial.stopBits = 1.0f;
        }
        out.serial.comConfigured = true;
    }
    out.deviceAddr = static_cast<uint8_t>(checkedValue(s, "serial/address").toInt());
    out.exportFolder = checkedValue(s, "export/folder").toString();
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

void storeBusAddresses(const QString &addresses) {
    if (storedSettingsEnabled())
        store().setValue(QStringLiteral("bus/addresses"), addresses);
}

QString storedBusAddresses() {
    return storedSettingsEnabled() ? store().value(QStringLiteral("bus/addresses")).toString()
                                   : QString();
}

void storeOperatorName(const QString &name) {
    if (storedSettingsEnabled())
        store().setValue(QStringLiteral("audit/operator"), name.trimmed());
}

QString storedOperatorName() {
    return storedSettingsEnabled() ? store().value(QStringLiteral("audit/operator")).toString()
                                   : QString();
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
