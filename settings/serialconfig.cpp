#include "serialconfig.h"
#include "ui_serialconfig.h"

#include "registermirror.h"
#include "scandialog.h"
#include "serialsettings.h"
#include "storedsettings.h"

#include <QComboBox>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPortInfo>

namespace {
const char kNotPresent[] = " (not present)";
} // namespace

QString portEntryName(const QString &entry)
{
    return entry.endsWith(QLatin1String(kNotPresent)) ? entry.chopped(int(sizeof kNotPresent) - 1)
                                                     : entry;
}

serialConfig::serialConfig(QWidget *parent) : QWidget(parent), ui(new Ui::serialConfig)
{
    ui->setupUi(this);
    const auto buttons = findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        connect(button, &QPushButton::clicked, this, &serialConfig::slotSerialConfigBtnClicked);
    setComConfigured(false);
    // Turning the mouse wheel over a combo box must never change the line settings.
    const auto combos = findChildren<QComboBox *>();
    for (QComboBox *combo : combos)
        combo->installEventFilter(this);
}

serialConfig::~serialConfig() { delete ui; }

void serialConfig::refreshPortList()
{
    // Ports the system cannot list (the built-in simulator first, then ports named on the
    // command line) are offered beside the enumerated ones.
    QStringList entries = leadingPortEntries();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        entries << info.portName() + QLatin1Char(':') + info.description();
    entries << extraPortEntries();

    if (entries.size() == knownPortCount)
        return;
    ui->com_name_cbox->clear();
    for (const QString &entry : entries)
        ui->com_name_cbox->addItem(entry);
    knownPortCount = static_cast<uint8_t>(entries.size());
}

void serialConfig::showDeviceAddress(int addr)
{
    ui->device_addr_text->setPlainText(QString::number(addr));
}

void serialConfig::showAlreadyComConfig()
{
    const SerialSettings s = serialSettings();
    if (!s.comConfigured)
        return;
    // A port that is gone (an adapter unplugged since it was chosen) is shown as gone, not
    // silently replaced by the first port of the list.
    if (ui->com_name_cbox->findText(s.comName) < 0) {
        const QString gone = s.comName + QLatin1String(kNotPresent);
        if (ui->com_name_cbox->findText(gone) < 0)
            ui->com_name_cbox->addItem(gone);
        ui->com_name_cbox->setCurrentText(gone);
    } else {
        ui->com_name_cbox->setCurrentText(s.comName);
    }
    ui->buad_cbox->setCurrentText(QString::number(s.baudRate));
    ui->data_bit_cbox->setCurrentText(QString::number(s.dataBits));
    ui->stop_bit_cbox->setCurrentText(QString::number(static_cast<double>(s.stopBits), 'g', 6));
    switch (s.checkBit) {
    case 0:
        ui->check_bit_cbox->setCurrentText(QStringLiteral("None"));
        break;
    case 1:
        ui->check_bit_cbox->setCurrentText(QStringLiteral("Odd"));
        break;
    case 2:
        ui->check_bit_cbox->setCurrentText(QStringLiteral("Even"));
        break;
    default:
        break;
    }
}

void serialConfig::slotSerialConfigBtnClicked()
{
    QObject *from = sender();
    if (from == ui->com_set_btn) {
        // An address no controller answers to would leave the link silent: nothing is stored,
        // and the dialog stays open for the operator to correct it.
        uint8_t addr = 0;
        if (!parseDeviceAddress(ui->device_addr_text->toPlainText(), &addr)) {
            QMessageBox box(QMessageBox::Information, tr("tips"),
                            tr("The device address must be a whole number from 1 to 247, for "
                               "example 1."),
                            QMessageBox::Ok, this);
            box.exec();
            return;
        }

        SerialSettings s = serialSettings();
        s.comName = ui->com_name_cbox->currentText();

        // Every rate the list offers; a text outside it leaves the rate as it was.
        const QString baud = ui->buad_cbox->currentText();
        for (const int rate : {9600, 115200, 19200, 38400, 57600})
            if (baud == QString::number(rate))
                s.baudRate = rate;

        const QString data = ui->data_bit_cbox->currentText();
        if (data == QLatin1String("5") || data == QLatin1String("6") ||
            data == QLatin1String("7") || data == QLatin1String("8"))
            s.dataBits = static_cast<uint8_t>(data.toInt());

        const QString stop = ui->stop_bit_cbox->currentText();
        if (stop == QLatin1String("1"))
            s.stopBits = 1.0f;
        else if (stop == QLatin1String("1.5"))
            s.stopBits = 1.5f;
        else if (stop == QLatin1String("2"))
            s.stopBits = 2.0f;

        const QString parity = ui->check_bit_cbox->currentText();
        if (parity == QLatin1String("None"))
            s.checkBit = 0;
        else if (parity == QLatin1String("Odd"))
            s.checkBit = 1;
        else if (parity == QLatin1String("Even"))
            s.checkBit = 2;

        // A remembered port that is not present keeps its own name.
        s.comName = portEntryName(s.comName);
        s.comConfigured = true;
        setSerialSettings(s);
        deviceAddr.store(addr);
        storeSerialSettings(s, addr);

        QMessageBox box(QMessageBox::Information, tr("tips"), tr("Suessful"), QMessageBox::Ok,
                        this);
        box.exec();
        close();
    } else if (from == ui->com_exit_btn) {
        close();
    } else if (from == ui->find_devices_btn) {
        openScanDialog();
    }
}

void serialConfig::openScanDialog()
{
    // The framing as chosen here; the scan varies only the rate and the address.
    const QString parity = ui->check_bit_cbox->currentText();
    const int checkBit = parity == QLatin1String("Odd")    ? 1
                         : parity == QLatin1String("Even") ? 2
                                                           : 0;
    const QString stop = ui->stop_bit_cbox->currentText();
    const float stopBits = stop == QLatin1String("1.5") ? 1.5f
                           : stop == QLatin1String("2") ? 2.0f
                                                        : 1.0f;
    QList<int> rates;
    for (int i = 0; i < ui->buad_cbox->count(); ++i)
        rates << ui->buad_cbox->itemText(i).toInt();
    auto *scan = new ScanDialog(ui->com_name_cbox->currentText(),
                                ui->data_bit_cbox->currentText().toInt(), checkBit, stopBits,
                                rates, this);
    scan->setAttribute(Qt::WA_DeleteOnClose);
    connect(scan, &ScanDialog::deviceChosen, this, [this](int address, int baud) {
        ui->buad_cbox->setCurrentText(QString::number(baud));
        ui->device_addr_text->setPlainText(QString::number(address));
    });
    scan->show();
}

bool serialConfig::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox *>(watched) &&
        watched->parent() == this) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
