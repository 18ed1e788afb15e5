#include "auditlogwindow.h"

#include "csvcell.h"
#include "storedsettings.h"

#include <QDesktopServices>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr qint64 kChunkBytes = 4 * 1024 * 1024;

bool isHeader(const QStringList &record) {
    return !record.isEmpty() && record.first() == AuditLog::header().first();
}

bool isBlank(const QStringList &record) {
    return record.size() == 1 && record.first().isEmpty();
}

} // namespace

int AuditLogModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int AuditLogModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : AuditLog::header().size();
}

QVariant AuditLogModel::data(const QModelIndex &index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() ||
        index.row() >= static_cast<int>(m_rows.size()))
        return QVariant();
    return m_rows[static_cast<size_t>(index.row())].value(index.column());
}

QVariant AuditLogModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    return AuditLog::header().value(section);
}

void AuditLogModel::reset(const std::deque<QStringList> &records) {
    beginResetModel();
    m_rows.assign(records.rbegin(), records.rend());
    endResetModel();
}

void AuditLogModel::addNewer(const QVector<QStringList> &records) {
    if (records.isEmpty())
        return;
    beginInsertRows(QModelIndex(), 0, records.size() - 1);
    for (const QStringList &r : records)
        m_rows.push_front(r);
    endInsertRows();
    const int over = static_cast<int>(m_rows.size()) - kMaxRows;
    if (over > 0) {
        beginRemoveRows(QModelIndex(), kMaxRows, kMaxRows + over - 1);
        m_rows.resize(kMaxRows);
        endRemoveRows();
    }
}

// What the loader thread read: the newest records and where the file ended.
struct AuditLogWindow::Loaded {
    std::deque<QStringList> records; // oldest first, at most kMaxRows
    qint64 total = 0;
    qint64 offset = 0;
};

AuditLogWindow::AuditLogWindow(AuditLog *log) : QWidget(nullptr), m_log(log) {
    setObjectName(QStringLiteral("auditLogWindow"));
    setWindowTitle(tr("Audit log"));
    resize(1000, 500);
    auto *layout = new QVBoxLayout(this);
    m_path = new QLabel(this);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_path);
    m_model = new AuditLogModel(this);
    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(m_table);
    m_status = new QLabel(this);
    layout->addWidget(m_status);
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
    // Set once and remembered: put beside the login name on every line from now on.
    buttons->addWidget(new QLabel(tr("Operator name:"), this));
    m_operator = new QLineEdit(storedOperatorName(), this);
    m_operator->setObjectName(QStringLiteral("auditOperator_text"));
    m_operator->setPlaceholderText(AuditLog::loginName());
    connect(m_operator, &QLineEdit::editingFinished, this, [this] {
        storeOperatorName(m_operator->text());
        m_log->setOperator(m_operator->text());
    });
    buttons->addWidget(m_operator);
    layout->addLayout(buttons);

    m_loadCheck = new QTimer(this);
    m_loadCheck->setInterval(50);
    connect(m_loadCheck, &QTimer::timeout, this, &AuditLogWindow::checkLoaded);
    auto *followTimer = new QTimer(this);
    followTimer->setInterval(1000);
    connect(followTimer, &QTimer::timeout, this, &AuditLogWindow::follow);
    followTimer->start();
    reload();
}

AuditLogWindow::~AuditLogWindow() {
    if (m_loader.joinable()) {
        m_cancel.store(true);
        m_loader.join();
    }
}

void AuditLogWindow::reload() {
    if (m_loader.joinable()) {
        m_reloadAgain = true; // the file changed under the loader: read it again when done
        return;
    }
    const QString path = m_log->path();
    m_path->setText(tr("File: %1").arg(path));
    m_status->setText(tr("Reading…"));
    m_cancel.store(false);
    m_loadDone.store(false);
    auto result = std::make_shared<Loaded>();
    m_loaded = result;
    std::atomic<bool> *cancel = &m_cancel;
    std::atomic<bool> *done = &m_loadDone;
    m_loader = std::thread([path, result, cancel, done] {
        QFile file(path);
        QByteArray pending;
        const bool exists = file.open(QIODevice::ReadOnly); // not: nothing written yet
        while (exists && !cancel->load()) {
            const QByteArray chunk = file.read(kChunkBytes);
            if (chunk.isEmpty())
                break;
            pending += chunk;
            QVector<QStringList> records;
            const int used = readCsvRecords(pending, &records);
            result->offset += used;
            pending.remove(0, used);
            for (const QStringList &r : records) {
                if (isBlank(r) || (result->total == 0 && result->records.empty() && isHeader(r)))
                    continue;
                ++result->total;
                result->records.push_back(r);
                if (result->records.size() > static_cast<size_t>(AuditLogModel::kMaxRows))
                    result->records.pop_front();
            }
        }
        done->store(true, std::memory_order_release);
    });
    m_loadCheck->start();
}

void AuditLogWindow::checkLoaded() {
    if (!m_loader.joinable() || !m_loadDone.load(std::memory_order_acquire))
        return;
    m_loader.join();
    m_loadCheck->stop();
    const std::shared_ptr<Loaded> result = std::move(m_loaded);
    m_model->reset(result->records);
    m_offset = result->offset;
    m_total = result->total;
    m_status->setText(
        m_total > AuditLogModel::kMaxRows
            ? tr("%1 lines; the newest %2 shown").arg(m_total).arg(AuditLogModel::kMaxRows)
            : tr("%1 lines").arg(m_total));
    if (m_reloadAgain) {
        m_reloadAgain = false;
        reload();
        return;
    }
    emit loaded();
}

void AuditLogWindow::follow() {
    if (m_loader.joinable() || !isVisible())
        return;
    QFile file(m_log->path());
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (file.size() < m_offset) { // a new file in its place
        reload();
        return;
    }
    if (file.size() == m_offset || !file.seek(m_offset))
        return;
    // Only whole records: a line being written is taken at the next look.
    const QByteArray bytes = file.readAll();
    QVector<QStringList> records;
    m_offset += readCsvRecords(bytes, &records);
    QVector<QStringList> fresh;
    for (const QStringList &r : records)
        if (!isBlank(r) && !isHeader(r))
            fresh << r;
    m_total += fresh.size();
    m_model->addNewer(fresh);
    m_status->setText(tr("%1 lines").arg(m_total));
}
