#pragma once
// "Audit log": the audit log's lines in a window.

#include "auditlog.h"

#include <QWidget>

class QLabel;
class QTableWidget;

// The audit log's lines in a table, newest last, with the file's place.
class AuditLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit AuditLogWindow(AuditLog *log);
    void reload();
    QTableWidget *table() const { return m_table; }

private:
    AuditLog *m_log;
    QTableWidget *m_table = nullptr;
    QLabel *m_path = nullptr;
};
