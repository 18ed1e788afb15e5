#include "pagerefresh.h"

#include "writejournal.h"

#include "pollplan.h"
#include "registermirror.h"
#include "systick.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QLoggingCategory>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTableWidgetItem>

#include <algorithm>

Q_LOGGING_CATEGORY(lcPages, "vaduz.pages")

namespace {

constexpr int kTabCount = 5;
constexpr int kCentred = Qt::AlignHCenter | Qt::AlignVCenter; // 0x84
constexpr int kPackFirstBlockOnPage = 7;

const char *const kShownIcon[kTabCount] = {":/images/HOME.png", ":/images/Data.png",
                                           ":/images/Settings.png", ":/images/Fault.png",
                                           ":/images/PACk.png"};
const char *const kDeepIcon[kTabCount] = {":/images/HOME_Deep.png", ":/images/Data_Deep.png",
                                          ":/images/Settings_Deep.png", ":/images/Fault_Deep.png",
                                          ":/images/PACK_Deep.png"};

const QString kTableStyle =
    QStringLiteral("background-color:transparent;border:none;color: white;");
const QString kHeaderStyle =
    QStringLiteral("QHeaderView::section{background-color:transparent;color: white;}");

void styleTable(QTableWidget *table, QLabel *corner, const char *cornerImage) {
    if (table) {
        table->setStyleSheet(kTableStyle);
        table->horizontalHeader()->setStyleSheet(kHeaderStyle);
        table->verticalHeader()->setStyleSheet(kHeaderStyle);
    }
    if (corner)
        corner->setStyleSheet(QStringLiteral("background-image: url(%1);").arg(cornerImage));
}

// The format of each column of a record table (column c shows word c), nullptr past the table.
template <int N> struct ColumnFormats {
    const FieldFormat *format[N] = {};
    explicit ColumnFormats(const FieldGroup &group) {
        for (int i = 0; i < group.count; ++i) {
            const FieldRange &r = group.ranges[i];
            for (int c = r.first; c <= r.last && c < N; ++c)
                format[c] = &r.format;
        }
    }
};

const ColumnFormats<kRackWords> &rackFormats() {
    static const ColumnFormats<kRackWords> formats(rackColumns);
    return formats;
}

const ColumnFormats<kPackWords> &packFormats() {
    static const ColumnFormats<kPackWords> formats(packColumns);
    return formats;
}

// Values that are not live keep their text but fade into the artwork.
const QColor kLiveText(255, 255, 255);
const QColor kStaleText(255, 255, 255, 105);
constexpr int kStaleCycles = 3;

} // namespace

bool blockIsLive(int block, int64_t nowMs) {
    if (!linkRunning.load(std::memory_order_acquire))
        return false;
    const int64_t landed = blockLandedAtMs(block);
    if (landed == 0 || landed < linkStartedAtMs.load(std::memory_order_acquire) ||
        blockLandedShort(block))
        return false;
    const int cycle = blockPollCycleMs(block);
    return cycle == 0 || nowMs - landed <= int64_t(kStaleCycles) * cycle;
}

PageRefresh::PageRefresh(QWidget *window) : m_window(window) {
    auto find = [this](auto *&member, const char *name) {
        using T = std::remove_pointer_t<std::remove_reference_t<decltype(member)>>;
        member = m_window ? m_window->findChild<T *>(QLatin1String(name)) : nullptr;
        if (!member)
            m_missing << QLatin1String(name);
    };
    find(m_tabs, "tabWidget");
    find(m_rackTable, "Rack_tableWidget");
    find(m_packTable, "PACK_tableWidget");
    find(m_faultTable, "Fault_tableWidget");
    find(m_rackCorner, "RackTableBackLabel");
    find(m_faultCorner, "FaultTableBackLabel");
    find(m_packCorner, "PackTableBackLabel");
    find(m_progress, "Fault_progressBar");
    find(m_timeLabel, "timeTips_label");
    find(m_addrLabel, "devaddrText_label");

    m_home = bind(homeFields);
    m_dataSummary = bind(dataSummaryFields);
    for (int g = 0; g < kSettingsGroupCount; ++g)
        m_settings[g] = bind(settingsGroups[g]);

    for (int i = 0; i < kTabCount; ++i) {
        m_shownIcon[i] = QIcon(QLatin1String(kShownIcon[i]));
        m_deepIcon[i] = QIcon(QLatin1String(kDeepIcon[i]));
    }
    QColor alarm;
    alarm.setRgb(104, 16, 21, 255);
    m_alarmBrush = QBrush(alarm, Qt::SolidPattern);
    m_clearBrush = QBrush(QColor(Qt::transparent), Qt::SolidPattern);

    if (!m_missing.isEmpty())
        qCWarning(lcPages) << "widgets not found on the form, left unpainted:" << m_missing;
}

PageRefresh::BoundGroup PageRefresh::bind(const FieldGroup &group) {
    BoundGroup bound;
    for (int i = 0; i < group.count; ++i) {
        const FieldRange &r = group.ranges[i];
        for (int cell = r.first; cell <= r.last; ++cell) {
            BoundField f{&r.format, cell, {nullptr, nullptr}, false};
            const QString name = readFieldName(group.block, cell);
            f.widgets[0] = m_window ? m_window->findChild<QPlainTextEdit *>(name) : nullptr;
            if (!f.widgets[0])
                m_missing << name;
            if (r.alsoShownIn) {
                f.widgets[1] =
                    m_window ? m_window->findChild<QPlainTextEdit *>(QLatin1String(r.alsoShownIn))
                             : nullptr;
                if (!f.widgets[1])
                    m_missing << QLatin1String(r.alsoShownIn);
            }
            bound.append(f);
        }
    }
    return bound;
}

void PageRefresh::slotRefeshParaTimer() {
    m_currentTab = m_tabs ? m_tabs->currentIndex() : -1;
    if (m_currentTab != m_lastTab) {
        m_lastTab = m_currentTab;
        applyTabLook(m_currentTab);
    }
    const int32_t mode = m_tabs ? m_tabs->currentIndex() : -1;
    if (pollMode.exchange(mode, std::memory_order_acq_rel) != mode)
        wakeLinkWorker();

    // Periodic gate: the next pass is measured from this one.
    if (timerExpired(&m_refreshGate, refreshPeriod) != 0)
        return;
    pagePass();
}

int PageRefresh::msUntilNextPass() const {
    const uint32_t elapsed = timerElapsed(&m_refreshGate);
    return elapsed >= refreshPeriod ? 0 : static_cast<int>(refreshPeriod - elapsed);
}

void PageRefresh::applyTabLook(int shown) {
    if (!m_tabs)
        return;
    for (int i = 0; i < kTabCount && i < m_tabs->count(); ++i) {
        const bool isShown = (i == shown);
        if (isShown) {
            if (i == 1)
                styleTable(m_rackTable, m_rackCorner, ":/images/cornerBackGround.png");
            else if (i == 3)
                styleTable(m_faultTable, m_faultCorner, ":/images/corner_FaultBackGround.png");
            else if (i == 4)
                styleTable(m_packTable, m_packCorner, ":/images/corner_PackBackGround.png");
        }
        m_tabs->setTabIcon(i, isShown ? m_shownIcon[i] : m_deepIcon[i]);
    }
}

void PageRefresh::pagePass() {
    if (m_tabs)
        m_currentTab = m_tabs->currentIndex();
    m_now = mirrorClockMs();
    takeDisplaySnapshot();

    switch (m_currentTab) {
    case 0:
        refreshHome();
        break;
    case 1:
        refreshDataSummary();
        refreshRackTable();
        break;
    case 2:
        for (int g = 0; g < kSettingsGroupCount; ++g)
            refreshSettingsGroup(g);
        break;
    case 3:
        refreshFaultBits();
        break;
    case 4:
        refreshPackTable();
        break;
    default:
        break;
    }
    refreshFaultProgress();

    if (m_timeLabel)
        m_timeLabel->setText(
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    if (m_addrLabel)
        m_addrLabel->setText(QString::number(deviceAddr.load(std::memory_order_acquire)));
}

void PageRefresh::paintGroup(BoundGroup &fields, const SnapshotRecord &record, bool live) {
    for (BoundField &f : fields) {
        const QString text = formatField(*f.format, record, f.cell);
        const bool dim = !live;
        for (QPlainTextEdit *w : f.widgets) {
            if (!w)
                continue;
            // Re-setting an equal text would only drop the operator's selection in the field.
            if (w->toPlainText() != text)
                w->setPlainText(text);
            if (dim != f.dimmed) {
                QPalette p = w->palette();
                for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
                    p.setColor(role, dim ? kStaleText : kLiveText);
                w->setPalette(p);
            }
        }
        f.dimmed = dim;
    }
}

void PageRefresh::paintBlock(BoundGroup &fields, int block) {
    if (const auto record = blockRecord(displaySnapshot, block))
        paintGroup(fields, *record, blockIsLive(block, m_now));
}

void PageRefresh::dimRow(QTableWidget *table, QVector<bool> &dimmed, int row, bool dim) {
    if (dimmed.size() <= row)
        dimmed.resize(row + 1);
    if (dimmed[row] == dim && dim == false)
        return;
    for (int c = 0; c < table->columnCount(); ++c)
        if (QTableWidgetItem *item = table->item(row, c))
            if (item->data(Qt::ForegroundRole).value<QColor>() != (dim ? kStaleText : kLiveText))
                item->setData(Qt::ForegroundRole, dim ? kStaleText : kLiveText);
    dimmed[row] = dim;
}

bool PageRefresh::isDimmed(const QWidget *field) const {
    for (const BoundGroup *group : {&m_home, &m_dataSummary})
        for (const BoundField &f : *group)
            if (f.widgets[0] == field || f.widgets[1] == field)
                return f.dimmed;
    for (const BoundGroup &group : m_settings)
        for (const BoundField &f : group)
            if (f.widgets[0] == field || f.widgets[1] == field)
                return f.dimmed;
    return false;
}

bool PageRefresh::isRowDimmed(const QTableWidget *table, int row) const {
    const QVector<bool> &rows = table == m_rackTable ? m_rackDimmed : m_packDimmed;
    return row >= 0 && row < rows.size() && rows[row];
}

QString PageRefresh::valuesAgeText() const {
    int blocks[16];
    const int n = pageBlocks(m_currentTab, blocks);
    if (n == 0)
        return QString();
    const int64_t now = mirrorClockMs();
    const int64_t started = linkStartedAtMs.load(std::memory_order_acquire);
    int64_t newest = 0;
    int64_t oldest = 0;
    for (int i = 0; i < n; ++i) {
        const int64_t landed = blockLandedAtMs(blocks[i]);
        newest = std::max(newest, landed);
        oldest = (i == 0) ? landed : std::min(oldest, landed);
    }
    const auto age = [now](int64_t at) { return QString::number((now - at) / 1000.0, 'f', 1); };
    if (newest == 0)
        return QStringLiteral("No value on this page has been read yet.");
    const bool running = linkRunning.load(std::memory_order_acquire) != 0;
    if (!running || newest < started)
        return QStringLiteral("Not live: the values on this page were last read %1 s ago%2.")
            .arg(age(newest), running ? QStringLiteral(", before this Connect")
                                      : QStringLiteral(", before Disconnect"));
    if (oldest == 0 || oldest < started)
        return QStringLiteral("Values on this page read %1 s ago; some not yet since Connect.")
            .arg(age(newest));
    if (n == 1)
        return QStringLiteral("Values on this page read %1 s ago.").arg(age(newest));
    return QStringLiteral("Values on this page read %1 s ago (the oldest %2 s ago).")
        .arg(age(newest), age(oldest));
}

void PageRefresh::refreshHome() {
    paintBlock(m_home, homeFields.block);
}

void PageRefresh::refreshDataSummary() {
    paintBlock(m_dataSummary, dataSummaryFields.block);
}

void PageRefresh::refreshSettingsGroup(int index) {
    if (index >= 0 && index < kSettingsGroupCount)
        paintBlock(m_settings[index], settingsGroups[index].block);
}

void PageRefresh::setCellText(QTableWidget *table, int row, int column, const QString &text) {
    // setItem outside the table would neither store nor delete the item.
    if (row >= table->rowCount() || column >= table->columnCount())
        return;
    if (m_tableWrite == TableWrite::UpdateItems) {
        if (QTableWidgetItem *item = table->item(row, column)) {
            if (item->text() != text)
                item->setText(text);
            if (item->data(Qt::TextAlignmentRole).toInt() != kCentred)
                item->setData(Qt::TextAlignmentRole, kCentred);
            return;
        }
    }
    auto *item = new QTableWidgetItem(text);
    item->setData(Qt::TextAlignmentRole, kCentred);
    table->setItem(row, column, item);
}

void PageRefresh::refreshRackTable() {
    if (!m_rackTable)
        return;
    const auto &formats = rackFormats();
    for (int r = 0; r < kRackCount; ++r) {
        const WordRecord part(displaySnapshot.summary + kStackWords + kRackWords * r, kRackWords);
        for (int c = 0; c < kRackWords; ++c)
            setCellText(m_rackTable, r, c, formatField(*formats.format[c], part, c));
    }
    // The rack table's rows come from blocks 0 and 1 together.
    const bool live = blockIsLive(0, m_now) && blockIsLive(1, m_now);
    for (int r = 0; r < kRackCount; ++r)
        dimRow(m_rackTable, m_rackDimmed, r, !live);
}

void PageRefresh::refreshPackTable() {
    if (!m_packTable)
        return;
    const int columns = std::min(m_packTable->columnCount(), kPackWords);
    if (m_packTable->rowCount() < kPackCount)
        m_packTable->setRowCount(kPackCount);
    const auto &formats = packFormats();
    for (int k = 0; k < kPackCount; ++k) {
        const WordRecord record(displaySnapshot.pack[k], kPackWords);
        for (int c = 0; c < columns; ++c)
            setCellText(m_packTable, k, c, formatField(*formats.format[c], record, c));
        dimRow(m_packTable, m_packDimmed, k, !blockIsLive(kPackFirstBlockOnPage + k, m_now));
    }
}

void PageRefresh::refreshFaultBits() {
    if (!m_faultTable)
        return;
    uint16_t words[4];
    for (int k = 0; k < 4; ++k)
        words[k] = static_cast<uint16_t>(displaySnapshot.faultBits[k]);
    for (const FaultBit &bit : faultBitMap) {
        QTableWidgetItem *item = m_faultTable->item(bit.row, bit.column);
        if (!item)
            continue; // the form creates all 64 legend items
        item->setData(Qt::BackgroundRole,
                      (words[bit.word] & bit.mask) ? m_alarmBrush : m_clearBrush);
    }
}

void PageRefresh::refreshFaultProgress() {
    const unsigned count = faultCount.load(std::memory_order_acquire);
    if (count == 0 || !m_progress)
        return;
    const double ratio = static_cast<double>(faultIndex.load(std::memory_order_acquire)) / count;
    const int value = std::clamp(static_cast<int>(ratio * 100), 0, 100);
    m_progress->setValue(value);
    const QString shown = QString::number(std::min(ratio, 1.0) * 100, 'f', 1);
    m_progress->setFormat(QStringLiteral("%1%").arg(shown));
}
