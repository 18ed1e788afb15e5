#pragma once
// Recording: each page on screen writes its named values, as shown, into a CSV file of its own in
// the folder the operator picked ("<start time>_<page>.csv", made when the page first records). A
// row per page pass whose values were read since the previous row: the local time (ISO 8601 with
// milliseconds), then every field of the page under its caption and unit; the table pages (Data,
// Pack) write one row per table row, beginning with its rack or pack number. Rows are flushed as
// written; a write that fails stops the recording and keeps what was written.
//
// Two formats: comma-separated with decimal points, or semicolon-separated with decimal commas
// (what spreadsheets set to a German, French or Dutch locale open in columns).

#include "namedvalues.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>
#include <map>
#include <memory>

class QFile;

enum class RecordFormat { Comma, Semicolon };
// Semicolon where the system locale writes a decimal comma, comma elsewhere.
RecordFormat systemRecordFormat();
// "comma" / "semicolon"; parseRecordFormat is false for any other text.
QString recordFormatName(RecordFormat format);
bool parseRecordFormat(const QString &text, RecordFormat *format);

class PageRecorder {
public:
    PageRecorder();
    ~PageRecorder();

    // Starts recording into folder (made if missing); false with the reason in *error.
    bool start(const QString &folder, QString *error);
    void stop();
    // The format of the files made from now on.
    void setFormat(RecordFormat format) { m_format = format; }
    RecordFormat format() const { return m_format; }
    bool isRecording() const { return m_recording; }
    QString folder() const { return m_folder; }
    QDateTime startedAt() const { return m_startedAt; }

    // After a page pass of tab (0 Home .. 4 Pack) whose named values are values: writes the
    // page's row(s), stamped at, when its values were read since its previous row. Returns
    // false, stops and gives the reason in *error when the file cannot be made or written.
    bool recordPass(const QVector<NamedGroup> &values, int tab, const QDateTime &at,
                    QString *error);

    // Rows of another kind than a page's ("bus", "events") into "<kind>-<start time>.csv",
    // headed by heading when the file is made; each row written whole, as a page's. Returns
    // false, stops and gives the reason in *error when the file cannot be made or written.
    bool recordRows(const QString &kind, const QStringList &heading,
                    const QList<QStringList> &rows, QString *error);
    QString otherFile(const QString &kind) const;

    // The file tab records into (empty until it has recorded).
    QString fileFor(int tab) const;
    // Rows written so far into tab's file (table pages: one per table row).
    int rowsWritten(int tab) const;

    // A page's header ("Time", then each value's caption with its unit) and its rows (a row per
    // group: each value's text), from its named values.
    static QStringList header(const QVector<NamedGroup> &values);
    static QList<QStringList> rows(const QVector<NamedGroup> &values);

private:
    struct PageFile;
    bool fresh(int tab);
    bool writeLine(PageFile &file, const QStringList &cells, QString *error);
    bool openFile(std::unique_ptr<PageFile> &file, const QString &name,
                  const QStringList &heading, QString *error);

    RecordFormat m_format = systemRecordFormat();
    bool m_recording = false;
    QString m_folder;
    QDateTime m_startedAt;
    std::unique_ptr<PageFile> m_files[5];
    std::map<QString, std::unique_ptr<PageFile>> m_others;
    uint32_t m_seen[5][16] = {};
};

// One cell as the format writes it, made safe for a spreadsheet (safeCsvCell): a plain decimal
// number with the format's decimal mark, quoted (RFC 4180) when it holds the separator, a quote or
// a line break. Every cell of a recording is written through here.
QString csvCell(const QString &text, RecordFormat format);
// One CSV line of such cells (no line end).
QString csvLine(const QStringList &cells, RecordFormat format = RecordFormat::Comma);
