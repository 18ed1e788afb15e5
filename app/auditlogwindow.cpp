#include "auditlogwindow.h"

#include "trendcsv.h"
#include "windowtable.h"

#include <QDesktopServices>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

AuditLogWindow::AuditLogWindow(AuditLog *log) : QWidget(nullptr), m_log(log) {
    setObjectName(QStringLiteral("auditLogWindow"));
    setWindowTitle(tr("Audit log"));
    resize(1000, 500);
    auto *layout = new QVBoxLayout(this);
    m_path = new QLabel(this);
    m_path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_path);
    m_table = makeTable(this, AuditLog::header());
    layout->addWidget(m_table);
    auto *buttons = new QHBoxLayout;
    auto *reloadButton = new QPushButton(tr("Reload"), this);
    connect(reloadButton, &QPushButton::clicked, this, &AuditLogWindow::reload);
    auto *open = new QPushButton(tr("Open file"), this);
    connect(open, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_log->path())); });
    auto *folder = new QPushButton(tr("Open folder"), this);
    connect(folder, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_log->folder())); });
    buttons->addWidget(reloadButton);
    buttons->addWidget(open);
    buttons->addWidget(folder);
    buttons->addStretch();
    layout->addLayout(buttons);
    reload();
}

void AuditLogWindow::reload() {
    m_path->setText(tr("File: %1").arg(m_log->path()));
    m_table->setRowCount(0);
    QFile file(m_log->path());
    if (!file.open(QIODevice::ReadOnly))
        return; // nothing written yet
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (int i = 1; i < lines.size(); ++i) { // after the header
        if (lines.at(i).isEmpty())
            continue;
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        setRow(m_table, row, splitCsv(lines.at(i)));
    }
    m_table->scrollToBottom();
}

//
