#pragma once
// "Audit log": the audit log's lines in a window, newest first. The file is read on a thread of
// its own (a log of years opens without freezing the program), and lines added to it while the
// window is open appear on top.

#include "auditlog.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <atomic>
#include <deque>
#include <memory>
#include <thread>

class QLabel;
class QLineEdit;
class QTableView;
class QTimer;

// The log's records, newest first; at most kMaxRows of the newest are kept.
class AuditLogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 200000;
    using QAbstractTableModel::QAbstractTableModel;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Replaces every row: records oldest first, as the file holds them.
    void reset(const std::deque<QStringList> &records);
    // Records appended to the file (oldest first) go on top.
    void addNewer(const QVector<QStringList> &records);

private:
    std::deque<QStringList> m_rows; // newest first
};

class AuditLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit AuditLogWindow(AuditLog *log);
    ~AuditLogWindow() override;
    // Reads the whole file again (on the loader thread).
    void reload();
    QTableView *table() const { return m_table; }
    AuditLogModel *model() const { return m_model; }
    bool isLoading() const { return m_loader.joinable(); }
    QLabel *statusLabel() const { return m_status; }

signals:
    // The file has been read (after reload()).
    void loaded();

private:
    struct Loaded;
    // While loading: takes the loader's result once it is done.
    void checkLoaded();
    void follow();

    AuditLog *m_log;
    AuditLogModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QLabel *m_path = nullptr;
    QLabel *m_status = nullptr;
    QLineEdit *m_operator = nullptr;
    // The loader is joined (a plain thread, so that the hand-over is one the tools checking for
    // races can see) once it has set m_loadDone.
    std::thread m_loader;
    std::shared_ptr<Loaded> m_loaded;
    std::atomic<bool> m_loadDone{false};
    std::atomic<bool> m_cancel{false};
    QTimer *m_loadCheck = nullptr;
    bool m_reloadAgain = false;
    qint64 m_offset = 0; // the bytes read: new records start here
    qint64 m_total = 0;  // records in the file
};
