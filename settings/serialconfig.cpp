#include "serialconfig.h"
#include "ui_serialconfig.h"

#include "registermirror.h"
#include "scandialog.h"
#include "serialsettings.h"
#include "storedsettings.h"

#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSerialPortInfo>
#include <QSpinBox>

namespace {
const char kNotPresent[] = " (not present)";
} // namespace

QString portEntryName(const QString &entry)
{
    return entry.endsWith(QLatin1String(kNotPresent)) ? entry.chopped(int(sizeof kNotPresent) - 1)
                                                     : entry;
}

QString portNameOf(const QString &entry) {
    return portEntryName(entry).section(QLatin1Char(':'), 0, 0).trimmed();
}

namespace {
// A device path the system does not enumerate but that is there (a pseudo-terminal, a link).
bool pathExists(const QString &name) {
    return name.startsWith(QLatin1Char('/')) && QFileInfo::exists(name);
}
} // namespace

serialConfig::serialConfig(QWidget *parent) : QWidget(parent), ui(new Ui::serialConfig) {
    ui->setupUi(this);
    const auto buttons = findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        connect(button, &QPushButton::clicked, this, &serialConfig::slotSerialConfigBtnClicked);
    setComConfigured(false);
    // Turning the mouse wheel over a combo box must never change the line settings.
    const auto combos = findChildren<QComboBox *>();
    for (QComboBox *combo : combos)
        combo->installEventFilter(this);
    ui->tcp_port_spin->installEventFilter(this);
    connect(ui->link_network_radio, &QRadioButton::toggled, this, &serialConfig::showLinkKind);
    showLinkKind();
}

serialConfig::~serialConfig() { delete ui; }

void serialConfig::refreshPortList(bool force) {
    // Ports the system cannot list (the built-in simulator first, then ports named on the
    // command line) are offered beside the enumerated ones.
    QStringList entries = leadingPortEntries();
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports)
        entries << info.portName() + QLatin1Char(':') + info.description();
    entries << extraPortEntries();

    if (entries.size() == knownPortCount && !force)
        return;
    // The port shown stays shown while it is there (picked or typed); otherwise the one the
    // link will use, marked when it is gone; with none chosen yet, the first.
    const QString shown = ui->com_name_cbox->currentText();
    ui->com_name_cbox->clear();
    for (const QString &entry : entries)
        ui->com_name_cbox->addItem(entry);
    knownPortCount = static_cast<uint8_t>(entries.size());
    const SerialSettings s = serialSettings();
    if (portIndex(shown) >= 0 || pathExists(portNameOf(shown)))
        selectPort(shown);
    else if (s.comConfigured)
        selectPort(s.comName);
}

int serialConfig::portIndex(const QString &entry) const {
    const QString name = portNameOf(entry);
    for (int i = 0; !name.isEmpty() && i < ui->com_name_cbox->count(); ++i)
        if (portNameOf(ui->com_name_cbox->itemText(i)) == name)
            return i;
    return -1;
}

void serialConfig::selectPort(const QString &entry) {
    const QString name = portNameOf(entry);
    if (name.isEmpty())
        return;
    QComboBox *combo = ui->com_name_cbox;
    const int listed = portIndex(entry);
    if (listed >= 0) {
        combo->setCurrentIndex(listed);
        return;
    }
    // Not listed: a path that exists (a pseudo-terminal, a link) is offered as it is; anything
    // else is shown as gone, never silently replaced by another port of the list.
    QString item = portEntryName(entry);
    if (!pathExists(name))
        item += QLatin1String(kNotPresent);
    combo->addItem(item);
    combo->setCurrentIndex(combo->count() - 1);
}

void serialConfig::showLinkKind() {
    const bool network = ui->link_network_radio->isChecked();
    // The baud rate stays: behind an RTU-over-TCP gateway it is the line's, and the answer's
    // wait follows it.
    const QList<QWidget *> serialRow = {ui->com_name_label,  ui->com_name_cbox, ui->com_refresh_btn,
                                        ui->data_bit_label,  ui->data_bit_cbox, ui->stop_bit_label,
                                        ui->stop_bit_cbox,   ui->check_bit_label,
                                        ui->check_bit_cbox};
    const QList<QWidget *> networkRow = {ui->tcp_host_label, ui->tcp_host_text, ui->tcp_port_label,
                                         ui->tcp_port_spin,  ui->framing_label, ui->framing_cbox};
    for (QWidget *w : serialRow)
        w->setVisible(!network);
    for (QWidget *w : networkRow)
        w->setVisible(network);
}

void serialConfig::showDeviceAddress(int addr) {
    ui->device_addr_text->setPlainText(QString::number(addr));
}

void serialConfig::showAlreadyComConfig()
{
    const SerialSettings s = serialSettings();
    if (!s.comConfigured)
        return;
    // A port that is gone (an adapter unplugged since it was chosen) is shown as gone, not
    // silently replaced by the first port of the list.
    selectPort(s.comName);
    (s.link == LinkKind::Network ? ui->link_network_radio : ui->link_serial_radio)
        ->setChecked(true);
    ui->tcp_host_text->setText(s.host);
    ui->tcp_port_spin->setValue(s.tcpPort);
    ui->framing_cbox->setCurrentIndex(s.framing == NetFraming::Mbap ? 0 : 1);
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

        const bool network = ui->link_network_radio->isChecked();
        const QString host = ui->tcp_host_text->text().trimmed();
        if (network && (host.isEmpty() || host.contains(QLatin1Char(' ')))) {
            QMessageBox box(QMessageBox::Information, tr("tips"),
                            tr("Enter the gateway's host name or IP address."), QMessageBox::Ok,
                            this);
            box.exec();
            return;
        }

        SerialSettings s = serialSettings();
        s.comName = ui->com_name_cbox->currentText().trimmed();
        s.link = network ? LinkKind::Network : LinkKind::Serial;
        s.host = host;
        s.tcpPort = static_cast<uint16_t>(ui->tcp_port_spin->value());
        s.framing =
            ui->framing_cbox->currentIndex() == 1 ? NetFraming::RtuOverTcp : NetFraming::Mbap;

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
    } else if (from == ui->com_refresh_btn) {
        refreshPortList(true);
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
    auto *scan =
        new ScanDialog(portEntryName(ui->com_name_cbox->currentText()),
                       ui->data_bit_cbox->currentText().toInt(), checkBit, stopBits, rates, this);
    if (ui->link_network_radio->isChecked())
        scan->useGateway(ui->tcp_host_text->text().trimmed(),
                         static_cast<uint16_t>(ui->tcp_port_spin->value()),
                         ui->framing_cbox->currentIndex() == 1 ? NetFramingKind::RtuOverTcp
                                                               : NetFramingKind::Mbap);
    scan->setAttribute(Qt::WA_DeleteOnClose);
    connect(scan, &ScanDialog::deviceChosen, this, [this](int address, int baud) {
        ui->buad_cbox->setCurrentText(QString::number(baud));
        ui->device_addr_text->setPlainText(QString::number(address));
    });
    scan->show();
}

bool serialConfig::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::Wheel &&
        (qobject_cast<QComboBox *>(watched) || watched == ui->tcp_port_spin) &&
        watched->parent() == this) {
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
