#include "scandialog.h"

#include "storedsettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char kRedText[] = "color: #c0392b;";
const char kGreenText[] = "color: #1e8449;";

enum Column { AddressColumn, BaudColumn, AnswerColumn, UseColumn, ColumnCount };

} // namespace

ScanDialog::ScanDialog(const QString &portEntry, int dataBits, int checkBit, float stopBits,
                       const QList<int> &rates, QWidget *parent)
    : QDialog(parent), portName_(portEntry.split(QLatin1Char(':')).first()), dataBits_(dataBits),
      checkBit_(checkBit), stopBits_(stopBits) {
    setObjectName(QStringLiteral("scan_dialog"));
    setWindowTitle(tr("Find devices"));
    // No connecting while the scan holds the port: the whole program waits for this window.
    setWindowModality(Qt::ApplicationModal);

    auto *layout = new QVBoxLayout(this);
    const QString parity = checkBit == 0   ? tr("no parity")
                           : checkBit == 1 ? tr("odd parity")
                                           : tr("even parity");
    auto *portLabel = new QLabel(
        portName_.isEmpty() ? tr("No port chosen.")
                            : tr("Port %1: %2 data bits, %3, %4 stop bits.")
                                  .arg(portName_)
                                  .arg(dataBits)
                                  .arg(parity)
                                  .arg(QString::number(static_cast<double>(stopBits), 'g', 6)),
        this);
    portLabel->setObjectName(QStringLiteral("scan_port_label"));
    portLabel_ = portLabel;
    layout->addWidget(portLabel);
    layout->addWidget(new QLabel(
        tr("Each address is asked for one register of block 2. Nothing is written."), this));

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Baud rates:"), this), 0, 0);
    auto *rateRow = new QHBoxLayout;
    // The ticks of the last scan, every rate when none were kept.
    const ScanChoices remembered = loadScanChoices();
    for (const int rate : rates) {
        auto *box = new QCheckBox(QString::number(rate), this);
        box->setObjectName(QStringLiteral("scan_baud_%1").arg(rate));
        box->setChecked(remembered.rates.isEmpty() || remembered.rates.contains(rate));
        box->setProperty("baud", rate);
        rateBoxes_ << box;
        rateRow->addWidget(box);
    }
    rateRow->addStretch();
    grid->addLayout(rateRow, 0, 1);

    grid->addWidget(new QLabel(tr("Addresses:"), this), 1, 0);
    auto *rangeRow = new QHBoxLayout;
    firstSpin_ = new QSpinBox(this);
    firstSpin_->setObjectName(QStringLiteral("scan_first_spin"));
    lastSpin_ = new QSpinBox(this);
    lastSpin_->setObjectName(QStringLiteral("scan_last_spin"));
    for (QSpinBox *spin : {firstSpin_, lastSpin_})
        spin->setRange(kScanFirstAddress, kScanLastAddress);
    firstSpin_->setValue(kScanFirstAddress);
    lastSpin_->setValue(kScanLastAddress);
    rangeRow->addWidget(new QLabel(tr("from"), this));
    rangeRow->addWidget(firstSpin_);
    rangeRow->addWidget(new QLabel(tr("to"), this));
    rangeRow->addWidget(lastSpin_);
    rangeRow->addStretch();
    grid->addLayout(rangeRow, 1, 1);
    stopAtFirstBox_ = new QCheckBox(tr("Stop at the first device found"), this);
    stopAtFirstBox_->setObjectName(QStringLiteral("scan_stop_at_first"));
    stopAtFirstBox_->setChecked(remembered.stopAtFirst);
    grid->addWidget(stopAtFirstBox_, 2, 1);
    layout->addLayout(grid);

    estimateLabel_ = new QLabel(this);
    estimateLabel_->setObjectName(QStringLiteral("scan_estimate_label"));
    estimateLabel_->setWordWrap(true);
    layout->addWidget(estimateLabel_);

    noteLabel_ = new QLabel(this);
    noteLabel_->setObjectName(QStringLiteral("scan_note_label"));
    noteLabel_->setWordWrap(true);
    noteLabel_->setStyleSheet(QLatin1String(kRedText));
    layout->addWidget(noteLabel_);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("scan_progress"));
    progress_->setRange(0, 1);
    progress_->setValue(0);
    layout->addWidget(progress_);
    statusLabel_ = new QLabel(tr("Not started."), this);
    statusLabel_->setObjectName(QStringLiteral("scan_status_label"));
    layout->addWidget(statusLabel_);

    results_ = new QTableWidget(0, ColumnCount, this);
    results_->setObjectName(QStringLiteral("scan_results"));
    results_->setHorizontalHeaderLabels({tr("Address"), tr("Baud"), tr("Answer"), QString()});
    results_->verticalHeader()->hide();
    results_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    results_->setSelectionMode(QAbstractItemView::NoSelection);
    results_->horizontalHeader()->setSectionResizeMode(AnswerColumn, QHeaderView::Stretch);
    layout->addWidget(results_, 1);

    auto *buttons = new QHBoxLayout;
    startButton_ = new QPushButton(tr("Start"), this);
    startButton_->setObjectName(QStringLiteral("scan_start_btn"));
    stopButton_ = new QPushButton(tr("Stop"), this);
    stopButton_->setObjectName(QStringLiteral("scan_stop_btn"));
    closeButton_ = new QPushButton(tr("Close"), this);
    closeButton_->setObjectName(QStringLiteral("scan_close_btn"));
    for (QPushButton *b : {startButton_, stopButton_, closeButton_}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    buttons->insertStretch(2);
    layout->addLayout(buttons);
    connect(startButton_, &QPushButton::clicked, this, &ScanDialog::startScan);
    connect(stopButton_, &QPushButton::clicked, this, &ScanDialog::stopScan);
    connect(closeButton_, &QPushButton::clicked, this, &ScanDialog::reject);

    for (QCheckBox *box : rateBoxes_)
        connect(box, &QCheckBox::toggled, this, &ScanDialog::updateEstimate);
    for (QSpinBox *spin : {firstSpin_, lastSpin_})
        connect(spin, QOverload<int>::of(&QSpinBox::valueChanged), this,
                &ScanDialog::updateEstimate);
    connect(&scan_, &DeviceScan::progress, this, &ScanDialog::showProgress);
    connect(&scan_, &DeviceScan::deviceFound, this, &ScanDialog::addFound);
    connect(&scan_, &DeviceScan::scanFinished, this, &ScanDialog::finish);

    resize(560, 520);
    updateEstimate();
    updateState();
}

ScanDialog::~ScanDialog() {
    scan_.stopScan();
    scan_.wait();
}

void ScanDialog::useGateway(const QString &host, uint16_t tcpPort, NetFramingKind framing) {
    host_ = host;
    tcpPort_ = tcpPort;
    framing_ = framing;
    portName_ = host.isEmpty() ? QString() : QStringLiteral("%1:%2").arg(host).arg(tcpPort);
    portLabel_->setText(tr("Gateway %1 (%2).")
                            .arg(portName_, framing == NetFramingKind::Mbap
                                                ? QStringLiteral("Modbus TCP")
                                                : QStringLiteral("RTU over TCP")));
    for (QCheckBox *box : rateBoxes_)
        box->hide();
    updateEstimate();
}

ScanPlan ScanDialog::plan() const {
    ScanPlan p;
    if (!host_.isEmpty()) {
        p.host = host_;
        p.tcpPort = tcpPort_;
        p.framing = framing_;
        p.firstAddress = firstSpin_->value();
        p.lastAddress = lastSpin_->value();
        return p;
    }
    p.portName = portName_;
    for (const QCheckBox *box : rateBoxes_)
        if (box->isChecked())
            p.baudRates << box->property("baud").toInt();
    p.baudRates = rememberedRateFirst(p.baudRates);
    p.firstAddress = firstSpin_->value();
    p.lastAddress = lastSpin_->value();
    p.dataBits = dataBits_;
    p.checkBit = checkBit_;
    p.stopBits = stopBits_;
    return p;
}

void ScanDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    updateState();
}

void ScanDialog::startScan() {
    if (scan_.isScanning())
        return;
    updateState();
    const ScanPlan p = plan();
    if (!startButton_->isEnabled() || !scan_.startScan(p)) {
        updateState();
        return;
    }
    ScanChoices choices;
    for (const QCheckBox *box : rateBoxes_)
        if (box->isChecked())
            choices.rates << box->property("baud").toInt();
    choices.stopAtFirst = stopAtFirstBox_->isChecked();
    storeScanChoices(choices);
    foundCount_ = 0;
    results_->setRowCount(0);
    progress_->setRange(0, p.addressCount() * std::max(1, int(p.baudRates.size())));
    progress_->setValue(0);
    statusLabel_->setStyleSheet(QString());
    statusLabel_->setText(tr("Opening %1 ...").arg(portName_));
    updateState();
}

void ScanDialog::stopScan() {
    scan_.stopScan();
}

void ScanDialog::reject() {
    scan_.stopScan();
    scan_.wait();
    QDialog::reject();
}

void ScanDialog::updateState() {
    const bool running = scan_.isScanning();
    const ScanPlan p = plan();
    QString note;
    if (DeviceScan::linkConnected())
        note = tr("Disconnect first: a scan cannot run while the link is connected.");
    else if (portName_.isEmpty())
        note = tr("Choose a port first.");
    else if (p.baudRates.isEmpty() && !p.network())
        note = tr("Choose at least one baud rate.");
    else if (p.firstAddress > p.lastAddress)
        note = tr("The first address must not be above the last.");
    setNote(note);
    startButton_->setEnabled(!running && note.isEmpty());
    stopButton_->setEnabled(running);
    for (QCheckBox *box : rateBoxes_)
        box->setEnabled(!running);
    stopAtFirstBox_->setEnabled(!running);
    firstSpin_->setEnabled(!running);
    lastSpin_->setEnabled(!running);
}

namespace {

QString durationText(int64_t micros) {
    const int64_t seconds = (micros + 500000) / 1000000;
    if (seconds < 1)
        return ScanDialog::tr("under 1 s");
    if (seconds < 60)
        return ScanDialog::tr("about %1 s").arg(seconds);
    if (seconds % 60 == 0)
        return ScanDialog::tr("about %1 min").arg(seconds / 60);
    return ScanDialog::tr("about %1 min %2 s").arg(seconds / 60).arg(seconds % 60);
}

} // namespace

void ScanDialog::updateEstimate() {
    const ScanPlan p = plan();
    if (p.network() && p.addressCount() > 0) {
        estimateLabel_->setText(tr("A pass over unit identifiers %1 to %2 takes %3 when none "
                                   "answers.")
                                    .arg(p.firstAddress)
                                    .arg(p.lastAddress)
                                    .arg(durationText(scanPlanMicros(p))));
    } else if (p.baudRates.isEmpty() || p.addressCount() == 0) {
        estimateLabel_->clear();
    } else {
        // The slowest rate chosen, when no controller answers: the longest a pass can take.
        const int slowest = *std::min_element(p.baudRates.begin(), p.baudRates.end());
        QString text = tr("A pass over addresses %1 to %2 at %3 baud takes %4.")
                           .arg(p.firstAddress)
                           .arg(p.lastAddress)
                           .arg(slowest)
                           .arg(durationText(scanPassMicros(p, slowest)));
        if (p.baudRates.size() > 1)
            text += QLatin1Char('\n') + tr("All %1 rates: %2.")
                                            .arg(p.baudRates.size())
                                            .arg(durationText(scanPlanMicros(p)));
        estimateLabel_->setText(text);
    }
    updateState();
}

void ScanDialog::setNote(const QString &text) {
    if (noteLabel_->text() != text)
        noteLabel_->setText(text);
    noteLabel_->setVisible(!text.isEmpty());
}

void ScanDialog::showProgress(int address, int baud, int done, int total, int found) {
    progress_->setMaximum(total);
    progress_->setValue(done);
    // A gateway has no baud rate to tell: it is named with its framing instead.
    if (!host_.isEmpty())
        statusLabel_->setText(tr("Asking unit %1 at %2 (%3); found so far: %4.")
                                  .arg(address)
                                  .arg(portName_, framing_ == NetFramingKind::Mbap
                                                      ? QStringLiteral("Modbus TCP")
                                                      : QStringLiteral("RTU over TCP"))
                                  .arg(found));
    else
        statusLabel_->setText(tr("Asking address %1 at %2 baud; found so far: %3.")
                                  .arg(address)
                                  .arg(baud)
                                  .arg(found));
}

void ScanDialog::addFound(const ScanHit &hit) {
    // Answers already on their way when the scan was stopped at the first are not listed.
    if (stopAtFirstBox_->isChecked() && foundCount_ > 0)
        return;
    if (stopAtFirstBox_->isChecked())
        scan_.stopScan();
    ++foundCount_;
    const int row = results_->rowCount();
    results_->insertRow(row);
    results_->setItem(row, AddressColumn, new QTableWidgetItem(QString::number(hit.address)));
    results_->setItem(
        row, BaudColumn,
        new QTableWidgetItem(hit.baud ? QString::number(hit.baud) : QStringLiteral("-")));
    QString answer =
        hit.exceptionCode ? tr("exception %1").arg(hit.exceptionCode) : tr("register read");
    if (hit.late)
        answer += tr(", answered late");
    results_->setItem(row, AnswerColumn, new QTableWidgetItem(answer));
    auto *use = new QPushButton(tr("Use"), results_);
    use->setObjectName(QStringLiteral("scan_use_btn"));
    use->setAutoDefault(false);
    use->setToolTip(hit.baud ? tr("Take address %1 and %2 baud into the serial settings")
                                   .arg(hit.address)
                                   .arg(hit.baud)
                             : tr("Take address %1 into the serial settings").arg(hit.address));
    const int address = hit.address;
    const int baud = hit.baud;
    connect(use, &QPushButton::clicked, this, [this, address, baud] {
        emit deviceChosen(address, baud);
        reject();
    });
    results_->setCellWidget(row, UseColumn, use);
}

void ScanDialog::finish(DeviceScan::Outcome outcome, const QString &detail) {
    QString text;
    bool failed = false;
    switch (outcome) {
    case DeviceScan::Completed: {
        progress_->setValue(progress_->maximum());
        text = tr("Done: %1 found.").arg(foundCount_);
        // The controllers found are the ones the Bus window lists next.
        QList<int> found;
        for (int row = 0; row < results_->rowCount(); ++row)
            if (const QTableWidgetItem *item = results_->item(row, AddressColumn))
                if (!found.contains(item->text().toInt()))
                    found << item->text().toInt();
        std::sort(found.begin(), found.end());
        QStringList list;
        for (int a : found)
            list << QString::number(a);
        if (!list.isEmpty())
            storeBusAddresses(list.join(QLatin1Char(',')));
        break;
    }
    case DeviceScan::Stopped:
        text = tr("Stopped: %1 found.").arg(foundCount_);
        break;
    case DeviceScan::LinkConnected:
        text = tr("Stopped: the link was connected.");
        failed = true;
        break;
    case DeviceScan::PortFailed:
        text = tr("The port could not be used: %1").arg(detail);
        failed = true;
        break;
    }
    if (outcome == DeviceScan::Completed && foundCount_ == 0)
        text = tr("Done: no device answered. Try other rates, or check the wiring and the "
                  "framing.");
    statusLabel_->setStyleSheet(failed            ? QLatin1String(kRedText)
                                : foundCount_ > 0 ? QLatin1String(kGreenText)
                                                  : QString());
    statusLabel_->setText(text);
    updateState();
}
