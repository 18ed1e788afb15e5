#include "pagerecorder.h"

#include "pollplan.h"
#include "registermirror.h"
#include "safetext.h"
#include "writeerror.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>

namespace {

const char *const kPageNames[5] = {"Home", "Data", "Settings", "Fault", "Pack"};

} // namespace

struct PageRecorder::PageFile {
    QFile file;
    int rows = 0;
};

PageRecorder::PageRecorder() = default;
PageRecorder::~PageRecorder() = default;

RecordFormat systemRecordFormat() {
    return QLocale::system().decimalPoint() == QLatin1Char(',') ? RecordFormat::Semicolon
                                                                : RecordFormat::Comma;
}

QString recordFormatName(RecordFormat format) {
    return format == RecordFormat::Semicolon ? QStringLiteral("semicolon")
                                             : QStringLiteral("comma");
}

bool parseRecordFormat(const QString &text, RecordFormat *format) {
    for (RecordFormat f : {RecordFormat::Comma, RecordFormat::Semicolon})
        if (text.compare(recordFormatName(f), Qt::CaseInsensitive) == 0) {
            *format = f;
            return true;
        }
    return false;
}

QString csvCell(const QString &text, RecordFormat format) {
    static const QRegularExpression decimal(QStringLiteral("^[-+]?\\d+\\.\\d+$"));
    const QLatin1Char separator(format == RecordFormat::Semicolon ? ';' : ',');
    QString cell = safeCsvCell(text);
    if (format == RecordFormat::Semicolon && decimal.match(cell).hasMatch())
        cell.replace(QLatin1Char('.'), QLatin1Char(','));
    if (cell.contains(separator) || cell.contains(QLatin1Char('"')) ||
        cell.contains(QLatin1Char('\n')) || cell.contains(QLatin1Char('\r'))) {
        cell.replace(QLatin1Char('"'), QLatin1String("\"\""));
        cell = QLatin1Char('"') + cell + QLatin1Char('"');
    }
    return cell;
}

QString csvLine(const QStringList &cells, RecordFormat format) {
    QStringList out;
    out.reserve(cells.size());
    for (const QString &c : cells)
        out << csvCell(c, format);
    return out.join(QLatin1Char(format == RecordFormat::Semicolon ? ';' : ','));
}

bool PageRecorder::start(const QString &folder, QString *error) {
    stop();
    if (folder.isEmpty() || !QDir().mkpath(folder)) {
        *error = QStringLiteral("%1: the folder cannot be made").arg(folder);
        return false;
    }
    m_folder = QDir(folder).absolutePath();
    m_startedAt = QDateTime::currentDateTime();
    for (int tab = 0; tab < 5; ++tab) {
        // The first pass of each page after the start records what is on screen.
        for (uint32_t &seen : m_seen[tab])
            seen = ~0u;
    }
    m_recording = true;
    return true;
}

void PageRecorder::stop() {
    for (auto &f : m_files)
        f.reset();
    m_others.clear();
    m_recording = false;
}

QString PageRecorder::fileFor(int tab) const {
    return tab >= 0 && tab < 5 && m_files[tab] ? m_files[tab]->file.fileName() : QString();
}

int PageRecorder::rowsWritten(int tab) const {
    return tab >= 0 && tab < 5 && m_files[tab] ? m_files[tab]->rows : 0;
}

QStringList PageRecorder::header(const QVector<NamedGroup> &values) {
    QStringList h{QStringLiteral("Time")};
    if (!values.isEmpty())
        for (const NamedValue &v : values.first())
            h << v.header();
    return h;
}

QList<QStringList> PageRecorder::rows(const QVector<NamedGroup> &values) {
    QList<QStringList> out;
    for (const NamedGroup &group : values) {
        QStringList row;
        row.reserve(group.size());
        // A no-break space (a controller's byte 0xA0) is written as a plain space, as the
        // text of a page field reads.
        for (const NamedValue &v : group)
            row << QString(v.text).replace(QChar::Nbsp, QLatin1Char(' '));
        out << row;
    }
    return out;
}

bool PageRecorder::fresh(int tab) {
    int blocks[16];
    const int n = pageBlocks(tab, blocks);
    bool changed = false;
    for (int i = 0; i < n; ++i) {
        const uint32_t landings = blockLandings(blocks[i]);
        if (landings != m_seen[tab][i]) {
            // The first pass after the start counts only when the page has ever been read.
            changed = changed || m_seen[tab][i] != ~0u || landings != 0;
            m_seen[tab][i] = landings;
        }
    }
    return changed;
}

bool PageRecorder::writeLine(PageFile &f, const QStringList &cells, QString *error) {
    const QByteArray line = (csvLine(cells, m_format) + QLatin1String("\r\n")).toUtf8();
    const qint64 before = f.file.size();
    if (f.file.write(line) != line.size()) {
        const QString reason = writeErrorReason(f.file); // before anything can change errno
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(f.file.fileName()), reason);
        // Only whole rows stay: a row cut short by a full disk is taken back.
        f.file.resize(before);
        return false;
    }
    return true;
}

bool PageRecorder::openFile(std::unique_ptr<PageFile> &f, const QString &name,
                            const QStringList &heading, QString *error) {
    f = std::make_unique<PageFile>();
    f->file.setFileName(QDir(m_folder).filePath(name));
    // Unbuffered: each row reaches the file as it is written, so a crash loses at most the row
    // being written.
    if (!f->file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(f->file.fileName()),
                                              writeErrorReason(f->file));
        stop();
        return false;
    }
    // A byte order mark, so that spreadsheets read the units' symbols as UTF-8.
    if (f->file.size() == 0 &&
        (f->file.write("\xEF\xBB\xBF") != 3 || !writeLine(*f, heading, error))) {
        if (error->isEmpty())
            *error = writeErrorReason(f->file);
        stop();
        return false;
    }
    return true;
}

bool PageRecorder::recordRows(const QString &kind, const QStringList &heading,
                              const QList<QStringList> &rows, QString *error) {
    if (!m_recording || rows.isEmpty())
        return true;
    auto &f = m_others[kind];
    if (!f && !openFile(f,
                        QStringLiteral("%1-%2.csv")
                            .arg(kind, m_startedAt.toString(QStringLiteral("yyyyMMdd-HHmmss"))),
                        heading, error))
        return false;
    for (const QStringList &row : rows) {
        if (!writeLine(*f, row, error)) {
            stop();
            return false;
        }
        ++f->rows;
    }
    return true;
}

QString PageRecorder::otherFile(const QString &kind) const {
    const auto it = m_others.find(kind);
    return it != m_others.end() && it->second ? it->second->file.fileName() : QString();
}

bool PageRecorder::recordPass(const QVector<NamedGroup> &values, int tab, const QDateTime &at,
                              QString *error) {
    if (!m_recording || values.isEmpty() || tab < 0 || tab > 4 || !fresh(tab))
        return true;
    auto &f = m_files[tab];
    if (!f && !openFile(f,
                        QStringLiteral("%1_%2.csv")
                            .arg(m_startedAt.toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                 QLatin1String(kPageNames[tab])),
                        header(values), error))
        return false;
    const QString time = at.toString(Qt::ISODateWithMs);
    for (QStringList row : rows(values)) {
        row.prepend(time);
        if (!writeLine(*f, row, error)) {
            stop();
            return false;
        }
        ++f->rows;
    }
    return true;
}
