#include "windowtable.h"

#include "registermirror.h"

#include <QHeaderView>
#include <QMessageBox>
#include <QObject>
#include <QTableWidget>

void showTips(QWidget *parent, const QString &text) {
    QMessageBox box(QMessageBox::Information, QObject::tr("tips"), text, QMessageBox::Ok, parent);
    box.exec();
}

bool linkIsRunning() {
    return portEnabled.load(std::memory_order_acquire) &&
           linkRunning.load(std::memory_order_acquire);
}

QTableWidget *makeTable(QWidget *parent, const QStringList &heads) {
    auto *table = new QTableWidget(0, heads.size(), parent);
    table->setHorizontalHeaderLabels(heads);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

void setRow(QTableWidget *table, int row, const QStringList &cells) {
    for (int c = 0; c < cells.size(); ++c)
        table->setItem(row, c, new QTableWidgetItem(cells.at(c)));
}
