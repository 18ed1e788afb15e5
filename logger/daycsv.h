#pragma once
// The logger's files: "<prefix>-<yyyy-MM-dd>.csv" in one folder, a new file at local midnight
// and when the day's file has reached its size limit ("<prefix>-<date>-2.csv", -3, ...). Each
// call appends whole rows or none: the rows of one call go to the system in one write, and
// anything of a write that fails is cut off again, so a reader never meets half a row. sync()
// pushes what was written to the disk, so that after a power loss at most the rows since the
// last sync are missing. A file that was cut short by a crash has its torn last line removed
// when it is opened again.
//
// Heading and rows are written as the window's recording writes them: UTF-8 with a byte order
// mark, cells made safe for a spreadsheet, CRLF line ends, comma or semicolon.

#include "pagerecorder.h"

#include <QDate>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class DayCsv {
public:
    DayCsv(const QString &folder, const QString &prefix, RecordFormat format, qint64 maxBytes);
    ~DayCsv();

    // Appends rows (each a list of cells) under heading to the file of date; false with the
    // reason in *error when nothing could be written (the rows are then not in the file). A
    // heading other than the open file's starts a new part.
    bool append(const QDate &date, const QStringList &heading, const QList<QStringList> &rows,
                QString *error);
    // Pushes the open file's data to the disk; false with the reason in *error.
    bool sync(QString *error);
    // The file written last (empty before the first row).
    QString fileName() const;

private:
    bool open(const QDate &date, const QStringList &heading, QString *error);
    QString partName(const QDate &date, int part) const;

    QString m_folder;
    QString m_prefix;
    RecordFormat m_format;
    qint64 m_maxBytes;
    std::unique_ptr<QFile> m_file;
    QDate m_date;
    int m_part = 1;
    QStringList m_heading;
    bool m_dirty = false;
};
