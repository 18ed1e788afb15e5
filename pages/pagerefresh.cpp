#include "pagerefresh.h"

#include "writejournal.h"

#include "fieldmap.h"
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

// Values that are not live keep their text but fade into the artwork.
const QColor kLiveText(255, 255, 255);
const QColor kStaleText(255, 255, 255, 105);

} // namespace

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

    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        if (map[i].kind != FieldKind::Read)
            continue;
        const QString name = QLatin1String(map[i].name);
        BoundField f;
        f.widget = m_window ? m_window->findChild<QPlainTextEdit *>(name) : nullptr;
        if (f.widget)
            m_fields.insert(name, f);
        else
            m_missing << name;
    }

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
    takeDisplaySnapshot();
    m_values = namedValues(displaySnapshot, m_currentTab);
    m_valuesTab = m_values.isEmpty() ? -1 : m_currentTab;

    switch (m_values.isEmpty() ? -1 : m_currentTab) {
    case 0:
    case 2:
        paintFields(m_values.first());
        break;
    case 1:
        // The summary fields stand beside every rack row; the first row's serve the page.
        paintFields(m_values.first());
        paintTable(m_rackTable, m_rackDimmed, kRackWords);
        break;
    case 3:
        paintFaultBits();
        break;
    case 4:
        if (m_packTable && m_packTable->rowCount() < kPackCount)
            m_packTable->setRowCount(kPackCount);
        paintTable(m_packTable, m_packDimmed, kPackWords);
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

void PageRefresh::paintFields(const NamedGroup &values) {
    for (const NamedValue &v : values) {
        const auto it = m_fields.find(v.key);
        if (it == m_fields.end())
            continue;
        QPlainTextEdit *w = it->widget;
        // Re-setting an equal text would only drop the operator's selection in the field.
        if (w->toPlainText() != v.text)
            w->setPlainText(v.text);
        const bool dim = !v.live;
        if (dim != it->dimmed) {
            QPalette p = w->palette();
            for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
                p.setColor(role, dim ? kStaleText : kLiveText);
            w->setPalette(p);
            it->dimmed = dim;
        }
    }
}

void PageRefresh::paintTable(QTableWidget *table, QVector<bool> &dimmed, int columns) {
    if (!table)
        return;
    columns = std::min(columns, table->columnCount());
    for (int r = 0; r < m_values.size(); ++r) {
        const NamedGroup &row = m_values.at(r);
        for (int c = 0; c < columns && kFirstTableColumn + c < row.size(); ++c)
            setCellText(table, r, c, row.at(kFirstTableColumn + c).text);
        dimRow(table, dimmed, r, !row.first().live);
    }
}

void PageRefresh::paintFaultBits() {
    if (!m_faultTable)
        return;
    // The alarm grid's values come first, row by row.
    const NamedGroup &values = m_values.first();
    for (int i = 0; i < kFaultLegendRows * kFaultLegendCols && i < values.size(); ++i) {
        QTableWidgetItem *item = m_faultTable->item(i / kFaultLegendCols, i % kFaultLegendCols);
        if (!item)
            continue; // the form creates all 64 legend items
        item->setData(Qt::BackgroundRole,
                      values.at(i).text == QLatin1String("1") ? m_alarmBrush : m_clearBrush);
    }
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
    for (const BoundField &f : m_fields)
        if (f.widget == field)
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
