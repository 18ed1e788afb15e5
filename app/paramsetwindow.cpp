#include "paramsetwindow.h"

#include "writeerror.h"

#include "ui_widget.h"

#include "csvcell.h"
#include "paramtable.h"
#include "registermirror.h"
#include "trendcsv.h"
#include "widget.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {


void showTips(QWidget *parent, const QString &text) {
    QMessageBox box(QMessageBox::Information, QObject::tr("tips"), text, QMessageBox::Ok, parent);
    box.exec();
}

QString linkPort() {
    return AuditRecorder::portName();
}

bool linkIsRunning() {
    return portEnabled.load(std::memory_order_acquire) &&
           linkRunning.load(std::memory_order_acquire);
}

QTableWidget *makeTable(QWidget *parent, const QStringList &heads) {
    auto *table = new QTableWidget(0, heads.size(), parent);
    table->setHorizontalHeaderLabels(heads);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void setRow(QTableWidget *table, int row, const QStringList &cells) {
    for (int c = 0; c < cells.size(); ++c)
        table->setItem(row, c, new QTableWidgetItem(cells.at(c)));
}

} // namespace

// ---------------------------------------------------------------------------------------------

ParamCompareWindow::ParamCompareWindow(Widget *window, const ParamSet &file,
                                       const QString &filePath, AuditRecorder *audit)
    : QWidget(nullptr), m_window(window), m_file(file), m_audit(audit) {
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
            paramSetFromMirror(QStringLiteral(VADUZ_VERSION), linkPort(), m_reader.address());
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
        QPlainTextEdit *field = m_window->form()->editField(p.number);
        if (!field || !paramIsRestored(p.number))
            continue;
        field->setPlainText(paramFieldText(p.number, p.raw));
        ++filled;
    }
    return filled;
}

bool ParamCompareWindow::writeDifferences(bool allAddresses, QString *error) {
    if (isBusy())
        return false;
    QVector<int> addresses;
    if (allAddresses) {
        const int count = deviceCount(*registerMirror);
        if (m_rows.isEmpty() || m_rows.first().deviceRaw.isEmpty() || count == 0) {
            *error = tr("The number of devices is not known yet: read the controller first.");
            return false;
        }
        for (int a = 1; a <= count; ++a)
            addresses << a;
    } else {
        addresses << deviceAddr.load();
    }
    m_restore = std::make_unique<ParamRestore>(m_file, addresses, m_audit->log()->folder(),
                                               QStringLiteral(VADUZ_VERSION), m_audit);
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

void ParamCompareWindow::askWrite(bool allAddresses) {
    QString error;
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

// ---------------------------------------------------------------------------------------------

AuditLogWindow::AuditLogWindow(AuditLog *log) : QWidget(nullptr), m_log(log) {
    setObjectName(QStringLiteral("auditLogWindow"));
    setWindowTitle(tr("Audit log"));
    resize(1000, 500);
    auto *layout = new QVBoxLayout(this);
    m_path = new QLabel(this);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_path);
    m_table = makeTable(this, AuditLog::header());
    layout->addWidget(m_table);
    auto *buttons = new QHBoxLayout;
    auto *reloadButton = new QPushButton(tr("Reload"), this);
    connect(reloadButton, &QPushButton::clicked, this, &AuditLogWindow::reload);
    auto *open = new QPushButton(tr("Open file"), this);
    connect(open, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_log->path())); });
    auto *folder = new QPushButton(tr("Open folder"), this);
    connect(folder, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_log->folder())); });
    buttons->addWidget(reloadButton);
    buttons->addWidget(open);
    buttons->addWidget(folder);
    buttons->addStretch();
    layout->addLayout(buttons);
    reload();
}

void AuditLogWindow::reload() {
    m_path->setText(tr("File: %1").arg(m_log->path()));
    m_table->setRowCount(0);
    QFile file(m_log->path());
    if (!file.open(QIODevice::ReadOnly))
        return; // nothing written yet
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int i = 1; i < lines.size(); ++i) { // after the header
        if (lines.at(i).isEmpty())
            continue;
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        setRow(m_table, row, splitCsv(lines.at(i)));
    }
    m_table->scrollToBottom();
}

// ---------------------------------------------------------------------------------------------

ParamSetTools::ParamSetTools(Widget *window, const QString &auditFolder)
    : QObject(window), m_window(window), m_log(auditFolder), m_recorder(&m_log) {
    connect(&m_recorder, &AuditRecorder::writeFailed, this, [this](const QString &reason) {
        tips(tr("The audit log %1 could not be written: %2. The lines are kept and written as "
                "soon as the file takes them again.")
                 .arg(m_log.path(), reason));
    });
    connect(&m_reader, &ParamReader::progress, this, [this](int done, int total) {
        if (m_progress) {
            m_progress->setMaximum(total);
            m_progress->setValue(done);
        }
    });
    connect(&m_reader, &ParamReader::finished, this, [this](bool ok, QString error) {
        if (m_progress)
            m_progress->deleteLater();
        if (ok) {
            const ParamSet set =
                paramSetFromMirror(QStringLiteral(VADUZ_VERSION), linkPort(), m_reader.address());
            ok = saveParamSet(m_readPath, set, &error);
            if (!ok)
                error = tr("%1 could not be written: %2").arg(m_readPath, error);
        }
        if (!ok)
            tips(tr("The parameters were not read: %1").arg(error));
        emit readFinished(ok, error);
    });

    // The three tools on both Settings pages: on the first in a row in the free space below
    // Cell Diff Delay, on the second in a column above the page-turn arrow.
    Ui::Widget *ui = window->form();
    struct Tool {
        const char *name;
        QString text;
        QString tip;
        void (ParamSetTools::*action)();
    };
    const Tool tools[] = {
        {"readParams_btn", tr("Read parameters"),
         tr("Read every parameter of this controller into a file"), &ParamSetTools::askRead},
        {"compareParams_btn", tr("Compare with file…"),
         tr("Compare a parameter file with this controller, and restore it"),
         &ParamSetTools::askCompare},
        {"auditLog_btn", tr("Audit log"), tr("Every write to a controller"),
         &ParamSetTools::openAuditLog},
    };
    for (QWidget *page : {ui->set_page, ui->set_page_2}) {
        for (int i = 0; i < 3; ++i) {
            const Tool &t = tools[i];
            auto *b = new QToolButton(page);
            b->setObjectName(QLatin1String(t.name));
            b->setText(t.text);
            b->setToolTip(t.tip);
            b->setGeometry(page == ui->set_page ? QRect(950 + 138 * i, 186, 130, 28)
                                                : QRect(1244, 660 + 34 * i, 150, 28));
            b->setCursor(Qt::PointingHandCursor);
            b->setFocusPolicy(Qt::NoFocus);
            connect(b, &QToolButton::clicked, this, t.action);
            b->raise();
        }
    }
}

ParamSetTools::~ParamSetTools() {
    delete m_compare;
    delete m_auditWindow;
}

void ParamSetTools::tips(const QString &text) {
    if (!m_quiet)
        showTips(m_window, text);
}

bool ParamSetTools::readParameters(const QString &path) {
    if (m_reader.isRunning())
        return false;
    if (!linkIsRunning()) {
        tips(tr("Not connected: press Connect first. Nothing was read."));
        return false;
    }
    m_readPath = path;
    if (!m_reader.start())
        return false;
    if (!m_quiet) {
        m_progress = new QProgressDialog(tr("Reading the parameters…"), tr("Stop"), 0,
                                         m_reader.blockCount(), m_window);
        m_progress->setWindowTitle(tr("Read parameters"));
        m_progress->setMinimumDuration(0);
        connect(m_progress, &QProgressDialog::canceled, &m_reader, &ParamReader::stop);
        m_progress->show();
    }
    return true;
}

void ParamSetTools::askRead() {
    if (!linkIsRunning()) {
        tips(tr("Not connected: press Connect first. Nothing was read."));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(
        m_window, tr("Read parameters into"),
        QStringLiteral("parameters-addr%1.json").arg(deviceAddr.load()),
        tr("Parameter sets (*.json)"));
    if (!path.isEmpty())
        readParameters(path);
}

ParamCompareWindow *ParamSetTools::compareWithFile(const QString &path) {
    ParamSet file;
    QString error;
    if (!loadParamSet(path, &file, &error)) {
        tips(tr("%1 could not be read: %2").arg(path, error));
        return nullptr;
    }
    delete m_compare;
    m_compare = new ParamCompareWindow(m_window, file, path, &m_recorder);
    m_compare->show();
    m_compare->refresh();
    return m_compare;
}

void ParamSetTools::askCompare() {
    const QString path = QFileDialog::getOpenFileName(m_window, tr("Compare with file"), QString(),
                                                      tr("Parameter sets (*.json)"));
    if (!path.isEmpty())
        compareWithFile(path);
}

void ParamSetTools::openAuditLog() {
    showAuditLog();
}

AuditLogWindow *ParamSetTools::showAuditLog() {
    m_recorder.poll();
    if (!m_auditWindow)
        m_auditWindow = new AuditLogWindow(&m_log);
    m_auditWindow->reload();
    m_auditWindow->show();
    m_auditWindow->raise();
    return m_auditWindow;
}
