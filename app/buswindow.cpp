#include "buswindow.h"

#include "displaysnapshot.h"
#include "pagerecorder.h"
#include "registermirror.h"
#include "storedsettings.h"
#include "systick.h"

#include <QBrush>
#include <QCheckBox>
#include <QColor>
#include <QDateTime>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The columns after the address and the state that come from the Home page's values, as the
// Home page shows them (its captions and units head them).
const char *const kHomeColumns[] = {
    "R_Addr2Num1_text",  // SOC
    "R_Addr2Num2_text",  // SOH
    "R_Addr2Num6_text",  // Total Voltage
    "R_Addr2Num7_text",  // Total Current
    "R_Addr2Num12_text", // Stack Power
    "R_Addr2Num30_text", // Max Cell
    "R_Addr2Num33_text", // Min Cell
    "R_Addr2Num36_text", // Max Temp
    "R_Addr2Num38_text", // Min Temp
    "R_Addr2Num4_text",  // System State
};
constexpr int kHomeColumnCount = int(sizeof kHomeColumns / sizeof *kHomeColumns);
const char *const kTailColumns[] = {"R_Addr2Num15_text", "R_Addr2Num83_text"}; // Fault Code, SW

enum Column {
    ColAddress,
    ColState,
    ColFirstHome,
    ColAlarmLevel = ColFirstHome + kHomeColumnCount,
    ColFaultCode,
    ColSoftware,
    ColLastAnswer,
    ColAnswered,
    ColAlarms, // last: the one that stretches
    ColCount
};

const NamedValue *homeValue(const NamedGroup &home, const char *key) {
    for (const NamedValue &v : home)
        if (v.key == QLatin1String(key))
            return &v;
    return nullptr;
}

const char *keyOf(int column) {
    if (column >= ColFirstHome && column < ColAlarmLevel)
        return kHomeColumns[column - ColFirstHome];
    if (column == ColFaultCode)
        return kTailColumns[0];
    if (column == ColSoftware)
        return kTailColumns[1];
    return nullptr;
}

// The Home page's captions with units, from an empty controller's values.
const NamedGroup &homeCaptions() {
    static const NamedGroup home = [] {
        DisplaySnapshot empty;
        return namedValues(empty, 0).value(0);
    }();
    return home;
}

QString levelText(int level) {
    return level == 0 ? QObject::tr("none") : QObject::tr("Level%1").arg(level);
}

} // namespace

// ---------------------------------------------------------------------------------------------

void BusModel::setRows(const QVector<Row> &rows) {
    if (rows.size() != m_rows.size()) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
        return;
    }
    m_rows = rows;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(m_rows.size() - 1, ColCount - 1));
}

int BusModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_rows.size();
}

int BusModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColCount;
}

QVariant BusModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    // A word of the caption on each line and the unit under it: the columns are as wide as
    // their values, and every one of them fits on a 1366-pixel laptop screen.
    if (const char *key = keyOf(section))
        if (const NamedValue *v = homeValue(homeCaptions(), key)) {
            const QString caption = QString(v->caption).replace(QLatin1Char(' '), QLatin1Char('\n'));
            return v->unit.isEmpty() ? caption : QStringLiteral("%1\n(%2)").arg(caption, v->unit);
        }
    switch (section) {
    case ColAddress:
        return tr("Address");
    case ColState:
        return tr("State");
    case ColAlarmLevel:
        return tr("Alarm\nlevel");
    case ColAlarms:
        return tr("Active alarms");
    case ColLastAnswer:
        return tr("Last\nanswer");
    case ColAnswered:
        return tr("Answered/\nasked");
    default:
        return QVariant();
    }
}

QVariant BusModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const Row &r = m_rows.at(index.row());
    const int c = index.column();
    // Colour carries the state and the alarm level, and the text says them too.
    if (role == Qt::BackgroundRole) {
        if (c == ColState)
            switch (r.state) {
            case BusState::Live:
                return QBrush(QColor(0xc8, 0xf0, 0xc8));
            case BusState::Stale:
                return QBrush(QColor(0xff, 0xe4, 0xa0));
            case BusState::NoAnswer:
            case BusState::BackedOff:
                return QBrush(QColor(0xff, 0xb8, 0xb0));
            case BusState::Waiting:
                break;
            }
        if (r.alarmLevel >= 2)
            return QBrush(r.alarmLevel >= 3 ? QColor(0xff, 0xc8, 0xc0) : QColor(0xff, 0xe8, 0xc0));
        return QVariant();
    }
    // The active alarms' column takes the width left and cuts its text short: the whole list
    // is in its tooltip.
    if (role == Qt::ToolTipRole && c == ColAlarms && !r.alarms.isEmpty())
        return r.alarms.join(QLatin1Char('\n'));
    if (role != Qt::DisplayRole && role != Qt::UserRole)
        return QVariant();
    const bool sortKey = role == Qt::UserRole;
    if (const char *key = keyOf(c)) {
        const NamedValue *v = homeValue(r.home, key);
        if (!v)
            return QVariant();
        if (sortKey && v->hasNumber())
            return v->number;
        return v->text;
    }
    switch (c) {
    case ColAddress:
        return r.address;
    case ColState:
        return sortKey ? QVariant(int(r.state)) : QVariant(tr(busStateText(r.state)));
    case ColAlarmLevel:
        return sortKey ? QVariant(r.alarmLevel) : QVariant(levelText(r.alarmLevel));
    case ColAlarms:
        return r.alarms.join(QStringLiteral(", "));
    case ColLastAnswer:
        if (sortKey)
            return qint64(r.lastAnswerMs);
        return r.lastAnswerMs == 0
                   ? tr("never")
                   : QDateTime::fromMSecsSinceEpoch(r.lastAnswerMs).toString(QStringLiteral("HH:mm:ss"));
    case ColAnswered:
        if (sortKey)
            return r.asked ? double(r.answered) / double(r.asked) : -1.0;
        return QStringLiteral("%1/%2").arg(r.answered).arg(r.asked);
    default:
        return QVariant();
    }
}

// ---------------------------------------------------------------------------------------------

BusWindow::BusWindow(BusRound *round, QWidget *parent) : QWidget(parent), m_round(round) {
    setWindowTitle(tr("Bus"));
    // Wide enough for every column, within the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    resize(std::min(1580, screen.width() - 20), std::min(600, screen.height() - 60));
    m_model = new BusModel(this);
    m_sorted = new QSortFilterProxyModel(this);
    m_sorted->setSourceModel(m_model);
    m_sorted->setSortRole(Qt::UserRole);
    m_view = new QTableView(this);
    m_view->setModel(m_sorted);
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(ColAddress, Qt::AscendingOrder);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    // Sized by fitColumns: the header's own fit would keep room for the sort arrow in every
    // column, a fifth of a laptop screen over the whole row.
    m_view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_view->horizontalHeader()->setSectionResizeMode(ColAlarms, QHeaderView::Stretch);
    m_view->horizontalHeader()->setDefaultAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    m_view->setTextElideMode(Qt::ElideRight);
    m_view->setWordWrap(false);
    m_view->setToolTip(tr("Double-click (or Enter) selects the controller, as SET ADDR does"));
    connect(m_view, &QTableView::activated, this, &BusWindow::chooseRow);
    connect(m_view->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &BusWindow::fitColumns);

    m_addressEdit = new QLineEdit(this);
    m_addressEdit->setPlaceholderText(tr("e.g. 1-8 or 1,3,5-7"));
    auto *apply = new QPushButton(tr("Apply"), this);
    connect(apply, &QPushButton::clicked, this, &BusWindow::applyAddressText);
    connect(m_addressEdit, &QLineEdit::returnPressed, this, &BusWindow::applyAddressText);
    m_note = new QLabel(this);
    // The page's share of the line: page reads per bus read.
    m_pageShare = new QSpinBox(this);
    m_pageShare->setRange(1, 10);
    m_pageShare->setToolTip(tr("Reads of the page shown for each read of the round"));
    connect(m_pageShare, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this](int share) { m_round->setPageShare(share); });
    m_notifyLevel3 = new QCheckBox(tr("Tell me of a new Level3 alarm"), this);
    m_notifyLevel3->setChecked(true);
    auto *top = new QHBoxLayout;
    top->addWidget(new QLabel(tr("Controllers:"), this));
    top->addWidget(m_addressEdit);
    top->addWidget(apply);
    top->addWidget(new QLabel(tr("Page reads per bus read:"), this));
    top->addWidget(m_pageShare);
    top->addWidget(m_notifyLevel3);
    top->addWidget(m_note, 1);

    m_events = new QListWidget(this);
    m_events->setToolTip(tr("Alarms raised and cleared, newest first"));
    auto *split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_view);
    split->addWidget(m_events);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split);

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &BusWindow::refresh);

    // The last list used, else 1..N with N the device count the selected controller reports.
    QVector<int> addresses;
    const QString remembered = storedBusAddresses();
    if (remembered.isEmpty() || !parseBusAddresses(remembered, &addresses))
        for (int a = 1; a <= std::max(1, deviceCount(*registerMirror)); ++a)
            addresses << a;
    setAddresses(addresses);
}

void BusWindow::setAddresses(const QVector<int> &addresses) {
    m_addresses = addresses;
    QStringList parts;
    for (int a : addresses)
        parts << QString::number(a);
    m_addressEdit->setText(parts.join(QLatin1Char(',')));
    if (isVisible())
        m_round->setAddresses(m_addresses);
    refresh();
}

void BusWindow::applyAddressText() {
    QVector<int> addresses;
    if (!parseBusAddresses(m_addressEdit->text(), &addresses)) {
        m_note->setText(tr("Give addresses from 1 to 247, e.g. 1-8 or 1,3,5-7."));
        return;
    }
    m_note->clear();
    storeBusAddresses(m_addressEdit->text().trimmed());
    setAddresses(addresses);
}

void BusWindow::chooseRow(const QModelIndex &index) {
    const QModelIndex source = m_sorted->mapToSource(index);
    if (source.isValid() && source.row() < m_model->rows().size())
        emit controllerChosen(m_model->rows().at(source.row()).address);
}

void BusWindow::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    m_round->setAddresses(m_addresses);
    refresh();
    m_timer->start();
}

void BusWindow::hideEvent(QHideEvent *event) {
    // Closed, the round reads nothing and the line is the page's alone.
    m_timer->stop();
    m_round->setAddresses({});
    QWidget::hideEvent(event);
}

void BusWindow::refresh() {
    const std::vector<BusController> accounts = m_round->controllers();
    const int64_t now = mirrorClockMs();
    const int64_t wallNow = QDateTime::currentMSecsSinceEpoch();
    const uint32_t tickNow = currentTick();
    // One bus read after each page read: a round takes two page periods per controller asked.
    int asking = 0;
    for (const BusController &c : accounts)
        asking += c.backedOff(tickNow) ? 0 : 1;
    const int64_t roundMs =
        int64_t(asking) * kBusReadsPerController * std::max<int32_t>(1, pollPeriod.load());
    QVector<BusModel::Row> rows;
    QVector<AlarmEvent> newEvents;
    for (int address : m_addresses) {
        BusModel::Row r;
        r.address = address;
        const RegisterMirror &mirror = mirrorOf(static_cast<uint8_t>(address));
        DisplaySnapshot snapshot;
        takeDisplaySnapshot(snapshot, static_cast<uint8_t>(address));
        const int64_t landed = mirror.landedAtMs(kHomeBlock);
        // A controller never read has no values to show (not an empty mirror's zeros).
        if (landed != 0)
            r.home = namedValues(snapshot, 0).value(0);
        BusController account;
        account.addr = static_cast<uint8_t>(address);
        for (const BusController &c : accounts)
            if (c.addr == address)
                account = c;
        r.asked = account.asked;
        r.answered = account.answered;
        r.state = busState(account, landed, now, tickNow, roundMs);
        r.lastAnswerMs = landed == 0 ? 0 : wallNow - (now - landed);

        AlarmWords words;
        const uint32_t reads = mirror.landings(kAlarmBlock);
        words.read = mirror.landedAtMs(kAlarmBlock) != 0;
        for (int k = 0; k < kAlarmWords; ++k)
            words.word[k] = static_cast<uint16_t>(mirror.cell(kAlarmBlock, k));
        r.alarmLevel = highestAlarmLevel(words);
        r.alarms = activeAlarms(words);
        // A new reading of the alarm words: what changed since the last one becomes events.
        if (words.read && reads != m_alarmReads.value(address)) {
            for (const AlarmEvent &e :
                 alarmEvents(address, m_lastAlarms.value(address), words, wallNow, r.home)) {
                newEvents << e;
                QString line = QStringLiteral("%1  %2  %3  %4 %5")
                                   .arg(QDateTime::fromMSecsSinceEpoch(e.atMs)
                                            .toString(QStringLiteral("HH:mm:ss")))
                                   .arg(tr("address %1").arg(e.address))
                                   .arg(e.raised ? tr("raised") : tr("cleared"))
                                   .arg(e.levelText, e.alarm);
                if (!e.where.isEmpty())
                    line += QStringLiteral("  (%1)").arg(e.where);
                m_events->insertItem(0, line);
            }
            while (m_events->count() > kMaxEvents)
                delete m_events->takeItem(m_events->count() - 1);
            m_lastAlarms[address] = words;
            m_alarmReads[address] = reads;
        }
        rows << r;
    }
    m_model->setRows(rows);
    fitColumns();
    record(rows, newEvents);
    notify(newEvents);
}

void BusWindow::fitColumns() {
    QHeaderView *header = m_view->horizontalHeader();
    const QFontMetrics metrics(header->font());
    const int margins = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 6;
    for (int c = 0; c < ColCount; ++c) {
        if (c == ColAlarms)
            continue;
        int width = static_cast<const QAbstractItemView *>(m_view)->sizeHintForColumn(c);
        const QString caption = m_model->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
        // The sorted column's header draws its arrow beside the caption.
        const int arrow = c == header->sortIndicatorSection()
                              ? style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, header) +
                                    margins / 2
                              : 0;
        for (const QString &line : caption.split(QLatin1Char('\n')))
            width = std::max(width, metrics.horizontalAdvance(line) + margins + arrow);
        if (header->sectionSize(c) != width)
            header->resizeSection(c, width);
    }
}

void BusWindow::notify(const QVector<AlarmEvent> &events) {
    QStringList raised;
    for (const AlarmEvent &e : events)
        if (e.raised && e.level >= 3)
            raised << tr("address %1: %2 %3").arg(e.address).arg(e.levelText, e.alarm);
    if (raised.isEmpty() || !m_notifyLevel3->isChecked())
        return;
    // A note in the screen's corner that takes no focus and goes by itself: the operator's
    // typing elsewhere is not interrupted.
    if (!m_notice) {
        m_notice = new QLabel(nullptr);
        m_notice->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint |
                                 Qt::WindowDoesNotAcceptFocus | Qt::WindowStaysOnTopHint);
        m_notice->setAttribute(Qt::WA_ShowWithoutActivating);
        m_notice->setStyleSheet(QStringLiteral(
            "QLabel { background: #b00020; color: white; padding: 10px; font-weight: bold; }"));
        connect(this, &QObject::destroyed, m_notice, &QObject::deleteLater);
    }
    const int more = raised.size() - 3;
    QString text = tr("New Level3 alarm") + QLatin1Char('\n') + raised.mid(0, 3).join(QLatin1Char('\n'));
    if (more > 0)
        text += QLatin1Char('\n') + tr("and %1 more (see Bus: Events)").arg(more);
    m_notice->setText(text);
    m_notice->adjustSize();
    if (const QScreen *screen = this->screen()) {
        const QRect area = screen->availableGeometry();
        m_notice->move(area.right() - m_notice->width() - 16, area.bottom() - m_notice->height() - 16);
    }
    m_notice->show();
    QTimer::singleShot(8000, m_notice, &QWidget::hide);
}

void BusWindow::record(const QVector<BusModel::Row> &rows, const QVector<AlarmEvent> &events) {
    if (!m_recorder || !m_recorder->isRecording())
        return;
    const QString now = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    QStringList heading{QStringLiteral("Time"), tr("Address"), tr("State")};
    // The recording's columns are headed as the pages' recordings are: caption (unit).
    const auto header = [](int c) {
        const NamedValue *v = homeValue(homeCaptions(), keyOf(c));
        return v ? v->header() : QString();
    };
    for (int c = ColFirstHome; c < ColAlarmLevel; ++c)
        heading << header(c);
    heading << tr("Alarm level") << tr("Active alarms") << header(ColFaultCode)
            << header(ColSoftware);
    QList<QStringList> lines;
    for (const BusModel::Row &r : rows) {
        // A row for each round that read the controller, and when its state changes.
        const auto homeReads = static_cast<uint32_t>(r.answered / kBusReadsPerController);
        if (m_recordedHome.value(r.address, ~0u) == homeReads &&
            m_recordedState.value(r.address, BusState::Waiting) == r.state)
            continue;
        m_recordedHome[r.address] = homeReads;
        m_recordedState[r.address] = r.state;
        if (r.state == BusState::Waiting)
            continue;
        QStringList line{now, QString::number(r.address), QLatin1String(busStateText(r.state))};
        for (int c = ColFirstHome; c < ColAlarmLevel; ++c) {
            const NamedValue *v = homeValue(r.home, keyOf(c));
            line << (v ? v->text : QString());
        }
        line << QString::number(r.alarmLevel) << r.alarms.join(QStringLiteral(", "));
        for (int c : {int(ColFaultCode), int(ColSoftware)}) {
            const NamedValue *v = homeValue(r.home, keyOf(c));
            line << (v ? v->text : QString());
        }
        lines << line;
    }
    QList<QStringList> eventLines;
    for (const AlarmEvent &e : events)
        eventLines << alarmEventRow(e);
    QString error;
    if (!m_recorder->recordRows(QStringLiteral("bus"), heading, lines, &error) ||
        !m_recorder->recordRows(QStringLiteral("events"),
                                alarmEventHeading(),
                                eventLines, &error))
        m_note->setText(tr("Recording stopped: %1").arg(error));
}
