#pragma once
// The "Fault records" window: the records the fault-record walk has read so far, with the
// columns and texts of the exported workbook, updated as the walk proceeds, and beside the raw
// fault bytes the names of the faults they hold; its Export button runs the workbook export.

#include "faultrecord.h"

#include <QStringList>
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

    // The faults a record holds, from its fault words (Fault Byte0-1 .. Byte6-7, laid out as the
    // Fault page's alarm words): "Level1 Warning（H）: TEMP_High", ... in bit order.
    static QStringList faultNames(const FaultRecordWords &words);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTableWidget *m_table = nullptr;
    QLabel *m_progress = nullptr;
    QTimer *m_timer = nullptr;
};
