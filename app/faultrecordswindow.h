#pragma once
// The "Fault records" window: the records the fault-record walk has read so far, with the
// columns and texts of the exported workbook, updated as the walk proceeds; its Export button
// runs the workbook export.

#include <QWidget>

class QLabel;
class QTableWidget;
class QTimer;

class FaultRecordsWindow : public QWidget {
    Q_OBJECT
public:
    explicit FaultRecordsWindow(QWidget *parent = nullptr);

    // Takes the records read so far into the table (the window's timer calls it while shown).
    void refresh();
    QTableWidget *table() const { return m_table; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTableWidget *m_table = nullptr;
    QLabel *m_progress = nullptr;
    QTimer *m_timer = nullptr;
};
