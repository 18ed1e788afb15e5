#pragma once
// The "Bus" window: every controller on the line at once, a row each, from each controller's own
// mirror (read by the bus round while the window is open): its state on the link, its key
// values, its active alarms and their highest level, and how often it answered. Alarms raised
// and cleared appear in the Events list, newest first. Double-click (or Enter) on a row selects
// that controller, as SET ADDR does. Costs nothing while closed: the round then has no
// addresses and the link reads the page's plan alone.

#include "alarmevents.h"
#include "busround.h"

#include <QAbstractTableModel>
#include <QMap>
#include <QVector>
#include <QWidget>

class PageRecorder;
class QLabel;
class QCheckBox;
class QLineEdit;
class QSpinBox;
class QListWidget;
class QSortFilterProxyModel;
class QTableView;
class QTimer;

class BusModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        int address = 0;
        BusState state = BusState::Waiting;
        NamedGroup home; // the Home page's values from this controller's mirror
        int alarmLevel = 0;
        QStringList alarms;
        int64_t lastAnswerMs = 0; // wall clock, ms since the epoch (0: never)
        uint64_t asked = 0, answered = 0;
    };
    using QAbstractTableModel::QAbstractTableModel;
    void setRows(const QVector<Row> &rows);
    const QVector<Row> &rows() const { return m_rows; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QVector<Row> m_rows;
};

class BusWindow : public QWidget {
    Q_OBJECT
public:
    // round: the worker's bus round, given the addresses while the window is shown.
    explicit BusWindow(BusRound *round, QWidget *parent = nullptr);

    // The controllers listed (also what the round reads while shown).
    QVector<int> addresses() const { return m_addresses; }
    void setAddresses(const QVector<int> &addresses);
    // Reads every listed controller's mirror into the table and the events (the window's timer
    // calls it once a second while shown).
    void refresh();

    // While recorder records: a row per controller per reading into "bus-<time>.csv" (and when
    // its state changes), and the alarm events into "events-<time>.csv".
    void setRecorder(PageRecorder *recorder) { m_recorder = recorder; }

    BusModel *model() const { return m_model; }
    QTableView *view() const { return m_view; }
    QListWidget *events() const { return m_events; }
    // The note shown for a new Level3 alarm (nullptr before the first).
    QLabel *notice() const { return m_notice; }
    static constexpr int kMaxEvents = 1000;

signals:
    // The operator chose this controller (double-click or Enter on its row).
    void controllerChosen(int address);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void applyAddressText();
    void chooseRow(const QModelIndex &index);
    // Each column as wide as its widest value or header line, the active alarms the rest.
    void fitColumns();
    void record(const QVector<BusModel::Row> &rows, const QVector<AlarmEvent> &events);
    void notify(const QVector<AlarmEvent> &events);

    BusRound *m_round;
    QVector<int> m_addresses;
    BusModel *m_model = nullptr;
    QSortFilterProxyModel *m_sorted = nullptr;
    QTableView *m_view = nullptr;
    QLineEdit *m_addressEdit = nullptr;
    QLabel *m_note = nullptr;
    QListWidget *m_events = nullptr;
    QSpinBox *m_pageShare = nullptr;
    QCheckBox *m_notifyLevel3 = nullptr;
    QLabel *m_notice = nullptr;
    QTimer *m_timer = nullptr;
    QMap<int, AlarmWords> m_lastAlarms; // per address
    QMap<int, uint32_t> m_alarmReads;   // landings of block 6 when last looked at
    PageRecorder *m_recorder = nullptr;
    QMap<int, uint32_t> m_recordedHome; // per address: rounds answered at its last recorded row
    QMap<int, BusState> m_recordedState;
};
