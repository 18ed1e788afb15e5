// The remembered settings file is read as untrusted input: each value the settings window
// could not have stored falls back to its default, and is logged once.

#include "serialsettings.h"
#include "storedsettings.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

int g_warnings = 0;
QtMessageHandler g_previous = nullptr;

void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (type == QtWarningMsg && QLatin1String(context.category) == QLatin1String("vaduz.settings"))
        ++g_warnings;
    g_previous(type, context, text);
}

// What loadStoredSettings made of one field.
QString field(const StoredSettings &s, const QString &name) {
    if (name == QLatin1String("port"))
        return s.serial.comName;
    if (name == QLatin1String("configured"))
        return s.serial.comConfigured ? QStringLiteral("yes") : QStringLiteral("no");
    if (name == QLatin1String("baud"))
        return QString::number(s.serial.baudRate);
    if (name == QLatin1String("dataBits"))
        return QString::number(s.serial.dataBits);
    if (name == QLatin1String("stopBits"))
        return QString::number(double(s.serial.stopBits));
    if (name == QLatin1String("parity"))
        return QString::number(s.serial.checkBit);
    if (name == QLatin1String("address"))
        return QString::number(s.deviceAddr);
    return s.exportFolder;
}

} // namespace

class tst_StoredSettings : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        enableStoredSettings(true);
        g_previous = qInstallMessageHandler(countWarnings);
    }
    void cleanupTestCase() {
        qInstallMessageHandler(g_previous);
        enableStoredSettings(false);
    }
    void onlyOfferedValuesAreTaken_data();
    void onlyOfferedValuesAreTaken();
    void aRefusedValueIsLoggedOnce();

private:
    // A fresh settings file holding a good line, with key set to value.
    void writeSettings(const QString &key, const QVariant &value) {
        m_home = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home->path());
        QSettings s(QStringLiteral("Kelvane"), QStringLiteral("Vaduz"));
        s.setValue(QStringLiteral("serial/port"), QStringLiteral("/dev/ttyUSB0:USB Serial"));
        s.setValue(QStringLiteral("serial/baud"), 19200);
        s.setValue(QStringLiteral("serial/dataBits"), 7);
        s.setValue(QStringLiteral("serial/stopBits"), 2.0);
        s.setValue(QStringLiteral("serial/parity"), 1);
        s.setValue(QStringLiteral("serial/address"), 12);
        s.setValue(QStringLiteral("export/folder"), m_home->path());
        if (!key.isEmpty())
            s.setValue(key, value);
    }
    std::unique_ptr<QTemporaryDir> m_home;
};

void tst_StoredSettings::onlyOfferedValuesAreTaken_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("loaded");

    const auto row = [](const char *name, const char *key, const QVariant &value, const char *field,
                        const QString &loaded) {
        QTest::newRow(name) << QString::fromLatin1(key) << value << QString::fromLatin1(field)
                            << loaded;
    };
    row("offered rate kept", "serial/baud", 115200, "baud", "115200");
    row("rate not offered", "serial/baud", 12345, "baud", "9600");
    row("rate at int max", "serial/baud", QStringLiteral("2147483647"), "baud", "9600");
    row("rate beyond int", "serial/baud", QStringLiteral("99999999999"), "baud", "9600");
    row("negative rate", "serial/baud", -9600, "baud", "9600");
    row("rate with a fraction", "serial/baud", QStringLiteral("9600.5"), "baud", "9600");
    row("rate in hex", "serial/baud", QStringLiteral("0x2580"), "baud", "9600");
    row("rate as text", "serial/baud", QStringLiteral("fast"), "baud", "9600");
    row("data bits 5 kept", "serial/dataBits", 5, "dataBits", "5");
    row("data bits 4", "serial/dataBits", 4, "dataBits", "8");
    row("data bits 9", "serial/dataBits", 9, "dataBits", "8");
    row("stop bits 1.5 kept", "serial/stopBits", 1.5, "stopBits", "1.5");
    row("stop bits 1.25", "serial/stopBits", 1.25, "stopBits", "1");
    row("stop bits 3", "serial/stopBits", 3, "stopBits", "1");
    row("stop bits as text", "serial/stopBits", QStringLiteral("two"), "stopBits", "1");
    row("parity even kept", "serial/parity", 2, "parity", "2");
    row("parity 3", "serial/parity", 3, "parity", "0");
    row("parity negative", "serial/parity", -1, "parity", "0");
    row("address 247 kept", "serial/address", 247, "address", "247");
    row("address 0 (broadcast)", "serial/address", 0, "address", "0");
    row("address 248", "serial/address", 248, "address", "0");
    row("address 300", "serial/address", 300, "address", "0");
    row("port kept", "", QVariant(), "port", "/dev/ttyUSB0:USB Serial");
    row("port too long", "serial/port", QString(300, QLatin1Char('p')), "configured", "no");
    row("port with a control character", "serial/port", QStringLiteral("/dev/tty\x1b[2JUSB0"),
        "configured", "no");
    row("port with a line break", "serial/port", QStringLiteral("COM1\nCOM2"), "port", "");
    row("port as a list", "serial/port", QStringList{"COM1", "COM2"}, "configured", "no");
    row("folder with a control character", "export/folder", QStringLiteral("/tmp/\x07x"), "folder",
        "");
}

void tst_StoredSettings::onlyOfferedValuesAreTaken() {
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(QString, field);
    QFETCH(QString, loaded);
    writeSettings(key, value);
    QCOMPARE(::field(loadStoredSettings(), field), loaded);
}

void tst_StoredSettings::aRefusedValueIsLoggedOnce() {
    writeSettings(QStringLiteral("serial/baud"), 31337);
    g_warnings = 0;
    const StoredSettings first = loadStoredSettings();
    const StoredSettings second = loadStoredSettings();
    QCOMPARE(g_warnings, 1);
    // The rest of the line is kept, and the link opens at a rate the program offers.
    QCOMPARE(second.serial.baudRate, 9600);
    QCOMPARE(int(second.serial.dataBits), 7);
    QVERIFY(second.serial.comConfigured);
    QVERIFY(offeredBaudRates().contains(first.serial.baudRate));
}

QTEST_GUILESS_MAIN(tst_StoredSettings)
#include "tst_storedsettings.moc"
