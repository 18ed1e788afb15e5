#pragma once
// Small pieces the parameter-set windows share: a read-only table, its rows, and the "tips"
// box, and whether the link is up for a read.

#include <QString>
#include <QStringList>

class QTableWidget;
class QWidget;

// A table with these column heads: rows selected whole, nothing editable, the last column
// stretched.
QTableWidget *makeTable(QWidget *parent, const QStringList &heads);
void setRow(QTableWidget *table, int row, const QStringList &cells);
// An information box titled "tips".
void showTips(QWidget *parent, const QString &text);
// The link is connected and running.
bool linkIsRunning();
