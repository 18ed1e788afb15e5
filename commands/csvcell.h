#pragma once
// One cell of the CSV files the parameter tools write (comparisons, the audit log): every cell
// of those files goes through here.

#include <QString>
#include <QStringList>

// The cell quoted where it holds a separator, a quote or a line break (quotes doubled).
QString csvCell(const QString &text);
// The cells joined into one line, without the line end.
QString csvRow(const QStringList &cells);
