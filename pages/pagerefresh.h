#pragma once
// The main window's page refresh. Every 10 ms it follows the shown tab (icons, table styles,
// the link's poll mode); at most once per refreshPeriod it takes the display snapshot and
// repaints the shown page, the fault-reading progress bar, the clock and the device address.
// A page is painted from its named values: every text a field or table cell shows is the
// text of one named value of the snapshot.

#include "namedvalues.h"

#include <QBrush>
#include <QHash>
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

    // The named values of the page the last pass painted (tab shownValuesTab(); no groups
    // before the first pass or when no page was shown).
    const QVector<NamedGroup> &shownValues() const { return m_values; }
    int shownValuesTab() const { return m_valuesTab; }

    // For the status tooltip: how old the shown page's values are.
    QString valuesAgeText() const;
    // Whether the field (or table row) is drawn dimmed, for tests.
    bool isDimmed(const QWidget *field) const;
    bool isRowDimmed(const QTableWidget *table, int row) const;

    // Read fields named in the field tables that the form does not have.
    QStringList missingWidgets() const { return m_missing; }

private:
    struct BoundField {
        QPlainTextEdit *widget = nullptr;
        bool dimmed = false;
    };

    void applyTabLook(int shown);
    void paintFields(const NamedGroup &values);
    void paintTable(QTableWidget *table, QVector<bool> &dimmed, int columns);
    void paintFaultBits();
    void refreshFaultProgress();
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

    // The page fields by object name (the key of their named values).
    QHash<QString, BoundField> m_fields;
    QStringList m_missing;
    QVector<NamedGroup> m_values;
    int m_valuesTab = -1;

    QIcon m_shownIcon[5];
    QIcon m_deepIcon[5];
    QBrush m_alarmBrush;
    QBrush m_clearBrush;

    int m_currentTab = 0;
    int m_lastTab = -1;
    uint32_t m_refreshGate = 0;
    TableWrite m_tableWrite = TableWrite::UpdateItems;
    QVector<bool> m_rackDimmed;
    QVector<bool> m_packDimmed;
};
