#pragma once
// One cell of the CSV files the parameter tools write (comparisons, the audit log): every cell
// of those files goes through here.

#include <QString>
#include <QStringList>

// The cell quoted where it holds a separator, a quote or a line break (quotes doubled).
QString csvCell(const QString &text);
// The cells joined into one line, without the line end.
QString csvRow(const QStringList &cells);

#include <QByteArray>
#include <QVector>

// Reads whole CSV records from bytes (UTF-8): cells split at commas, quoted cells with doubled
// quotes, commas and line breaks inside them, records ended by a line break outside quotes
// ("\r\n" or "\n"). Appends the records to out and returns the number of bytes they took; the
// bytes after them are a record not yet complete (to be read again with what follows).
int readCsvRecords(const QByteArray &bytes, QVector<QStringList> *out);
