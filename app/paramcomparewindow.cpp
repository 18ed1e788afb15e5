#include "paramcomparewindow.h"

#include "ui_widget.h"

#include "csvcell.h"
#include "paramtable.h"
#include "registermirror.h"
#include "serialsettings.h"
#include "windowtable.h"
#include "writeerror.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

ParamCompareWindow::ParamCompareWindow(Ui::Widget *form, const ParamSet &file,
                                       const QString &filePath, AuditRecorder *audit)
    : QWidget(nullptr), m_form(form), m_file(file), m_audit(audit) {
    setObjectName(QStringLiteral("paramCompareWindow"));
    setWindowTitle(tr("Compare with %1").arg(filePath));
    resize(900, 640);
    auto *layout = new QVBoxLayout(this);
    auto *source = new QLabel(tr("File: %1 (address %2, %3, serial number %4)")
                                  .arg(filePath)
                                  .arg(file.address)
                                  .arg(file.time, file.serialNumber),
                              this);
    source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(source);
    m_onlyDifferences = new QCheckBox(tr("Only differences"), this);
    connect(m_onlyDifferences, &QCheckBox::toggled, this, &ParamCompareWindow::applyFilter);
    layout->addWidget(m_onlyDifferences);
    // The controller's own address is copied only on purpose: a clone with the address of the
    // original would answer in its place.
    m_hostId = new QCheckBox(tr("Write Host ID too (the controller's address)"), this);
    layout->addWidget(m_hostId);
    m_table = makeTable(this, {tr("Number"), tr("Caption"), tr("Unit"), tr("File"),
                               tr("Controller"), tr("Differs")});
    layout->addWidget(m_table, 3);
    m_grid = makeTable(this, {tr("Address"), tr("Outcome")});
    m_grid->hide();
    layout->addWidget(m_grid, 1);
    m_status = new QLabel(this);
    layout->addWidget(m_status);

    auto *buttons = new QHBoxLayout;
    auto addButton = [&](const QString &text, auto slot) {
        auto *b = new QPushButton(text, this);
        connect(b, &QPushButton::clicked, this, slot);
        buttons->addWidget(b);
        return b;
    };
    m_actions << addButton(tr("Read again"), [this] { refresh(); });
    m_actions << addButton(tr("Export CSV…"), [this] { askExport(); });
    m_actions << addButton(tr("Load into fields"), [this] {
        m_status->setText(
            tr("%1 fields filled and marked; One-click setup sends them.").arg(loadIntoFields()));
    });
    m_actions << addButton(tr("Write differences"), [this] { askWrite(false); });
    m_actions << addButton(tr("Write differences to all addresses"), [this] { askWrite(true); });
    m_stop = addButton(tr("Stop"), [this] {
        m_reader.stop();
        if (m_restore)
            m_restore->stop();
    });
    buttons->addStretch();
    layout->addLayout(buttons);

    connect(&m_reader, &ParamReader::progress, this, [this](int done, int total) {
        m_status->setText(tr("Reading the controller: block %1 of %2").arg(done).arg(total));
    });
    connect(&m_reader, &ParamReader::finished, this, [this](bool ok, const QString &error) {
        setBusy(false);
        if (!ok) {
            m_status->setText(tr("The controller could not be read: %1").arg(error));
            return;
        }
        const ParamSet now =
            paramSetFromMirror(QStringLiteral(VADUZ_VERSION), AuditRecorder::portName(), m_reader.address());
        m_rows = compareParamSets(m_file, now);
        fillTable();
        m_status->setText(
            tr("%1 of %2 parameters differ.").arg(differenceCount()).arg(m_rows.size()));
        emit compared();
    });
    m_rows = compareParamSets(m_file, ParamSet());
    fillTable();
    setBusy(false);
}

ParamCompareWindow::~ParamCompareWindow() {
    // A restore cut short still gives the link back its address and the page its poll mode.
    if (m_restore)
        m_restore->stop();
}

const QVector<RestoreResult> &ParamCompareWindow::results() const {
    static const QVector<RestoreResult> none;
    return m_restore ? m_restore->results() : none;
}

bool ParamCompareWindow::isBusy() const {
    return m_reader.isRunning() || (m_restore && m_restore->isRunning());
}

void ParamCompareWindow::setBusy(bool busy) {
    for (QPushButton *b : m_actions)
        b->setEnabled(!busy);
    m_stop->setEnabled(busy);
}

void ParamCompareWindow::refresh() {
    if (isBusy())
        return;
    if (!m_reader.start()) {
        m_status->setText(tr("Not connected: press Connect first."));
        return;
    }
    setBusy(true);
}

int ParamCompareWindow::differenceCount() const {
    int n = 0;
    for (const ParamDifference &d : m_rows)
        n += d.differs ? 1 : 0;
    return n;
}

void ParamCompareWindow::fillTable() {
    m_table->setRowCount(m_rows.size());
    for (int r = 0; r < m_rows.size(); ++r) {
        const ParamDifference &d = m_rows.at(r);
        setRow(m_table, r,
               {QString::number(d.number), d.caption, d.unit, d.fileText, d.deviceText,
                d.differs ? tr("differs") : QString()});
    }
    applyFilter();
}

void ParamCompareWindow::applyFilter() {
    const bool only = m_onlyDifferences->isChecked();
    for (int r = 0; r < m_rows.size(); ++r)
        m_table->setRowHidden(r, only && !m_rows.at(r).differs);
}

bool ParamCompareWindow::exportCsv(const QString &path, QString *error) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    QStringList lines;
    lines << csvRow(
        {tr("Number"), tr("Caption"), tr("Unit"), tr("File"), tr("Controller"), tr("Differs")});
    for (const ParamDifference &d : m_rows)
        lines << csvRow({QString::number(d.number), d.caption, d.unit, d.fileText, d.deviceText,
                         d.differs ? QStringLiteral("yes") : QStringLiteral("no")});
    const QByteArray bytes = (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
    if (file.write(bytes) != bytes.size()) {
        *error = writeErrorReason(file);
        return false;
    }
    return commitSaveFile(file, error);
}

void ParamCompareWindow::askExport() {
    const QString path = QFileDialog::getSaveFileName(this, tr("Export comparison"), QString(),
                                                      tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!exportCsv(path, &error))
        showTips(this, tr("%1 could not be written: %2").arg(path, error));
}

int ParamCompareWindow::loadIntoFields() {
    int filled = 0;
    for (const ParamValue &p : m_file.params) {
        QPlainTextEdit *field = m_form->editField(p.number);
        if (!field || !paramIsRestored(p.number, m_hostId->isChecked()))
            continue;
        field->setPlainText(paramFieldText(p.number, p.raw));
        ++filled;
    }
    return filled;
}

QVector<int> ParamCompareWindow::writeAddresses(bool allAddresses, QString *error) const {
    QVector<int> addresses;
    if (!allAddresses)
        return {deviceAddr.load()};
    const int count = deviceCount(*registerMirror);
    if (m_rows.isEmpty() || m_rows.first().deviceRaw.isEmpty() || count == 0) {
        *error = tr("The number of devices is not known yet: read the controller first.");
        return {};
    }
    for (int a = 1; a <= count; ++a)
        addresses << a;
    return addresses;
}

bool ParamCompareWindow::writeDifferences(bool allAddresses, QString *error) {
    if (isBusy())
        return false;
    const QVector<int> addresses = writeAddresses(allAddresses, error);
    if (addresses.isEmpty())
        return false;
    m_restore = std::make_unique<ParamRestore>(m_file, addresses, m_audit->log()->folder(),
                                               QStringLiteral(VADUZ_VERSION), m_audit);
    m_restore->setWriteHostId(m_hostId->isChecked());
    connect(m_restore.get(), &ParamRestore::progress, m_status, &QLabel::setText);
    connect(m_restore.get(), &ParamRestore::addressDone, this, &ParamCompareWindow::addResult);
    connect(m_restore.get(), &ParamRestore::finished, this, [this] {
        setBusy(false);
        m_status->setText(tr("Restore finished."));
        emit restoreFinished();
    });
    m_grid->setRowCount(0);
    m_grid->show();
    if (!m_restore->start(error))
        return false;
    setBusy(true);
    return true;
}

QString ParamCompareWindow::writeQuestion(bool allAddresses) const {
    int differing = 0;
    for (const ParamDifference &d : m_rows)
        differing += d.differs && paramIsRestored(d.number, m_hostId->isChecked()) ? 1 : 0;
    QString error;
    const QVector<int> addresses = writeAddresses(allAddresses, &error);
    QString text =
        allAddresses
            ? tr("Write the parameters that differ from the file (%1 at the controller read) to "
                 "addresses %2-%3, %4 controllers on %5?")
                  .arg(differing)
                  .arg(addresses.value(0))
                  .arg(addresses.isEmpty() ? 0 : addresses.last())
                  .arg(addresses.size())
                  .arg(linkTargetText(serialSettings()))
            : tr("Write %1 parameters that differ from the file?\n%2")
                  .arg(differing)
                  .arg(controllerTargetText(addresses.value(0)));
    const QStringList order = paramOrderProblems(m_file);
    if (!order.isEmpty())
        text += QStringLiteral("\n\n") +
                tr("The file's thresholds are out of order:\n%1\nWrite them all the same?")
                    .arg(order.join(QLatin1Char('\n')));
    return text;
}

void ParamCompareWindow::askWrite(bool allAddresses) {
    QString error;
    if (writeAddresses(allAddresses, &error).isEmpty()) {
        showTips(this, error);
        return;
    }
    // One question for the whole run, No unless Yes is chosen.
    QMessageBox box(QMessageBox::Warning, tr("Write differences"), writeQuestion(allAddresses),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    if (box.exec() != QMessageBox::Yes)
        return;
    if (!writeDifferences(allAddresses, &error) && !error.isEmpty())
        showTips(this, error);
}

void ParamCompareWindow::addResult(const RestoreResult &r) {
    QString outcome;
    if (!r.answered)
        outcome = tr("no answer (%1)").arg(r.error);
    else if (!r.error.isEmpty())
        outcome = r.error;
    else if (r.written == 0)
        outcome = tr("taken (nothing differed)");
    else if (r.notTaken() == 0)
        outcome = tr("taken (%1 written)").arg(r.written);
    else {
        QStringList which;
        for (const ParamCheck &c : r.checks)
            if (!c.taken)
                which << tr("%1 %2: expected %3, read %4")
                             .arg(c.number)
                             .arg(paramCaptionWithUnit(c.number), c.expected, c.read);
        outcome = tr("not taken %1: %2").arg(r.notTaken()).arg(which.join(QStringLiteral("; ")));
    }
    const int row = m_grid->rowCount();
    m_grid->insertRow(row);
    setRow(m_grid, row, {QString::number(r.address), outcome});
}

//
