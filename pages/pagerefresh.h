#pragma once
// The main window's page refresh. Every 10 ms it follows the shown tab (icons, table styles,
// the link's poll mode); at most once per refreshPeriod it takes the display snapshot and
// repaints the shown page, the fault-reading progress bar, the clock and the device address.

#include "fieldtables.h"

#include <QBrush>
#include <QIcon>
#include <QString>
#include <QVector>

#include <cstdint>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTabWidget;
class QTableWidget;
class QWidget;

// Whether the values of block on screen are live: read on the running link since its Connect,
// and not longer ago than three of the block's poll cycles (blocks read only on request stay
// live once read), by an answer that carried all the registers asked. Values that are not live
// are drawn dimmed.
bool blockIsLive(int block, int64_t nowMs);

class PageRefresh {
public:
    // Binds to the widgets of the main form below `window`, found by object name.
    explicit PageRefresh(QWidget *window);

    // One call of the refresh timer (and of every tab change).
    void slotRefeshParaTimer();
    // Milliseconds until the next page pass is due.
    int msUntilNextPass() const;

    // The page pass alone, without the gate: snapshot, shown page, progress, clock, address.
    void pagePass();

    // How the table refreshers write a cell: ReplaceItems puts a new item into every cell on
    // every pass; UpdateItems changes the text of the cell's existing item when it differs
    // (same picture, no item churn). UpdateItems is the default: bench/pages measures it at
    // par or faster when every value changes and several times faster when few do.
    enum class TableWrite { ReplaceItems, UpdateItems };
    void setTableWrite(TableWrite mode) { m_tableWrite = mode; }

    // The page refreshers, each reading only the display snapshot.
    void refreshHome();
    void refreshDataSummary();
    void refreshRackTable();
    void refreshSettingsGroup(int index); // 0..7 in the order of settingsGroups
    void refreshFaultBits();
    void refreshFaultProgress();
    void refreshPackTable();

    // For the status tooltip: how old the shown page's values are.
    QString valuesAgeText() const;
    // Whether the field (or table row) is drawn dimmed, for tests.
    bool isDimmed(const QWidget *field) const;
    bool isRowDimmed(const QTableWidget *table, int row) const;

    // Read fields named in the field tables that the form does not have.
    QStringList missingWidgets() const { return m_missing; }

private:
    struct BoundField {
        const FieldFormat *format;
        int cell;
        QPlainTextEdit *widgets[2];
        bool dimmed;
    };
    using BoundGroup = QVector<BoundField>;

    BoundGroup bind(const FieldGroup &group);
    void applyTabLook(int shown);
    void paintGroup(BoundGroup &fields, const SnapshotRecord &record, bool live);
    void paintBlock(BoundGroup &fields, int block);
    void dimRow(QTableWidget *table, QVector<bool> &dimmed, int row, bool dim);
    void setCellText(QTableWidget *table, int row, int column, const QString &text);

    QWidget *m_window;
    QTabWidget *m_tabs = nullptr;
    QTableWidget *m_rackTable = nullptr;
    QTableWidget *m_packTable = nullptr;
    QTableWidget *m_faultTable = nullptr;
    QLabel *m_rackCorner = nullptr;
    QLabel *m_faultCorner = nullptr;
    QLabel *m_packCorner = nullptr;
    QProgressBar *m_progress = nullptr;
    QLabel *m_timeLabel = nullptr;
    QLabel *m_addrLabel = nullptr;

    BoundGroup m_home;
    BoundGroup m_dataSummary;
    BoundGroup m_settings[kSettingsGroupCount];
    QStringList m_missing;

    QIcon m_shownIcon[5];
    QIcon m_deepIcon[5];
    QBrush m_alarmBrush;
    QBrush m_clearBrush;

    int m_currentTab = 0;
    int m_lastTab = -1;
    uint32_t m_refreshGate = 0;
    TableWrite m_tableWrite = TableWrite::UpdateItems;
    int64_t m_now = 0; // the pass's clock, for the liveness of every block it paints
    QVector<bool> m_rackDimmed;
    QVector<bool> m_packDimmed;
};
