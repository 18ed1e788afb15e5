#include "faultrecordswindow.h"

#include "faultexport.h"
#include "faultrecord.h"
#include "registermirror.h"
#include "ui_widget.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {
constexpr int kRefreshMs = 300;
// The first fault word of a record ("Fault Byte0-1"), and the workbook column after which the
// window shows the faults' names ("Fault Byte8| Kick Flag").
constexpr int kFirstFaultWord = 19;
constexpr int kFaultWords = 4;
constexpr int kNamesAfterColumn = 24;
} // namespace

QStringList FaultRecordsWindow::faultNames(const FaultRecordWords &words) {
    QStringList names;
    for (int k = 0; k < kFaultWords; ++k) {
        const auto word = static_cast<uint16_t>(words[size_t(kFirstFaultWord + k)]);
        for (int b = 0; b < 16; ++b) {
            if (!(word & (1u << b)))
                continue;
            const int row = 2 * k + b / 8;
            QString alarm = faultAlarmText(row, b % 8);
            // The grid's unnamed bits are told apart by their place.
            if (alarm == QLatin1String("Reserved"))
                alarm += QStringLiteral(" (Bit%1)").arg(b % 8);
            names << QStringLiteral("%1: %2").arg(faultLevelText(row), alarm);
        }
    }
    return names;
}

FaultRecordsWindow::FaultRecordsWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(tr("Fault records"));
    setObjectName(QStringLiteral("faultRecordsWindow"));
    resize(1200, 600);

    QStringList headers;
    for (int c = 1; c <= kFaultColumns; ++c) {
        if (faultColumnUsed(c))
            headers << faultColumnHeader(c);
        if (c == kNamesAfterColumn)
            headers << tr("Faults");
    }
    m_table = new QTableWidget(0, headers.size(), this);
    m_table->setObjectName(QStringLiteral("faultRecordsTable"));
    m_table->setHorizontalHeaderLabels(headers);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    m_progress = new QLabel(this);
    auto *exportButton = new QPushButton(tr("Export"), this);
    exportButton->setObjectName(QStringLiteral("faultRecordsExport"));
    connect(exportButton, &QPushButton::clicked, this, [this] { exportFaultLog(this); });

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_progress, 1);
    bottom->addWidget(exportButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 1);
    layout->addLayout(bottom);

    m_timer = new QTimer(this);
    connect(m_timer, &QTimer::timeout, this, &FaultRecordsWindow::refresh);
}

void FaultRecordsWindow::showEvent(QShowEvent *event) {
    refresh();
    m_timer->start(kRefreshMs);
    QWidget::showEvent(event);
}

void FaultRecordsWindow::hideEvent(QHideEvent *event) {
    m_timer->stop();
    QWidget::hideEvent(event);
}

void FaultRecordsWindow::refresh() {
    // Records 0 .. count - 1 are what the export writes; those the walk has read so far show.
    // A count past the fault blocks stops at the last one, as the workbook does.
    const int count = std::min<int>(faultCount.load(std::memory_order_acquire), kFaultRecordSlots);
    const int read = std::min<int>(faultIndex.load(std::memory_order_acquire), count);
    m_progress->setText(count == 0 ? tr("No fault records read yet: use Reading on the Fault page.")
                                   : tr("%1 of %2 records read").arg(read).arg(count));
    if (m_table->rowCount() != read)
        m_table->setRowCount(read);
    for (int k = 0; k < read; ++k) {
        const FaultRecordWords words = faultRecordFromMirror(k);
        const FaultRow row = faultRecordRow(words);
        int column = 0;
        auto put = [&](const QString &text) {
            QTableWidgetItem *item = m_table->item(k, column);
            if (!item)
                m_table->setItem(k, column, new QTableWidgetItem(text));
            else if (item->text() != text)
                item->setText(text);
            ++column;
        };
        for (int c = 1; c <= kFaultColumns; ++c) {
            if (faultColumnUsed(c))
                put(row[static_cast<size_t>(c - 1)]);
            if (c == kNamesAfterColumn)
                put(faultNames(words).join(QStringLiteral("; ")));
        }
    }
}
