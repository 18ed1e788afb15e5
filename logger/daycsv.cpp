#include "daycsv.h"

#include "platform.h"
#include "writeerror.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

QByteArray lineBytes(const QStringList &cells, RecordFormat format) {
    return (csvLine(cells, format) + QLatin1String("\r\n")).toUtf8();
}

// Cuts a torn last line (no line end after it: a crash in the middle of a write the system had
// partly put on disk) off an existing file.
void cutTornLine(QFile &file) {
    const qint64 size = file.size();
    if (size == 0)
        return;
    qint64 keep = size;
    char c = 0;
    while (keep > 0) {
        if (!file.seek(keep - 1) || !file.getChar(&c))
            return;
        if (c == '\n')
            break;
        --keep;
    }
    if (keep != size)
        file.resize(keep);
    file.seek(file.size());
}

// The heading the file begins with (its first line without the byte order mark).
QByteArray firstLine(QFile &file) {
    file.seek(0);
    QByteArray line = file.readLine(1 << 16);
    if (line.startsWith(kBom))
        line.remove(0, 3);
    file.seek(file.size());
    return line;
}

} // namespace

DayCsv::DayCsv(const QString &folder, const QString &prefix, RecordFormat format,
               qint64 maxBytes)
    : m_folder(folder), m_prefix(prefix), m_format(format), m_maxBytes(maxBytes) {}

DayCsv::~DayCsv() {
    QString ignored;
    sync(&ignored);
}

QString DayCsv::partName(const QDate &date, int part) const {
    const QString day = date.toString(QStringLiteral("yyyy-MM-dd"));
    return QDir(m_folder).filePath(part <= 1 ? QStringLiteral("%1-%2.csv").arg(m_prefix, day)
                                             : QStringLiteral("%1-%2-%3.csv")
                                                   .arg(m_prefix, day)
                                                   .arg(part));
}

QString DayCsv::fileName() const { return m_file ? m_file->fileName() : QString(); }

bool DayCsv::open(const QDate &date, const QStringList &heading, QString *error) {
    QString ignored;
    sync(&ignored);
    m_file.reset();
    if (!QDir().mkpath(m_folder)) {
        *error = QStringLiteral("cannot make the folder %1").arg(m_folder);
        return false;
    }
    const QByteArray head = lineBytes(heading, m_format);
    // The day's first part that is not full and was written under the same heading; a part of
    // another heading (the controller's software changed its fields) is left as it is.
    int part = date == m_date ? m_part : 1;
    for (;; ++part) {
        const QString name = partName(date, part);
        const QFileInfo info(name);
        if (info.exists() && !info.isFile()) {
            *error = QStringLiteral("%1 is not a file").arg(name);
            return false;
        }
        auto file = std::make_unique<QFile>(name);
        if (!file->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
            *error = QStringLiteral("%1: %2").arg(name, file->errorString());
            return false;
        }
        cutTornLine(*file);
        if (file->size() == 0) {
            const QByteArray start = QByteArray(kBom) + head;
            if (file->write(start) != start.size()) {
                *error = QStringLiteral("%1: %2").arg(name, writeErrorReason(*file));
                file->resize(0);
                return false;
            }
        } else if (firstLine(*file) != head || (m_maxBytes > 0 && file->size() >= m_maxBytes)) {
            continue;
        }
        m_file = std::move(file);
        m_date = date;
        m_part = part;
        m_heading = heading;
        m_dirty = true;
        return true;
    }
}

bool DayCsv::append(const QDate &date, const QStringList &heading,
                    const QList<QStringList> &rows, QString *error) {
    if (rows.isEmpty())
        return true;
    QByteArray text;
    for (const QStringList &row : rows)
        text += lineBytes(row, m_format);
    const bool full = m_file && m_maxBytes > 0 && m_file->size() + text.size() > m_maxBytes &&
                      m_file->size() > 0;
    if (!m_file || date != m_date || heading != m_heading || full) {
        if (full && date == m_date && heading == m_heading)
            ++m_part;
        if (!open(date, heading, error))
            return false;
    }
    const qint64 before = m_file->size();
    m_file->seek(before);
    const qint64 written = m_file->write(text);
    if (written != text.size()) {
        *error = QStringLiteral("%1: %2").arg(m_file->fileName(), writeErrorReason(*m_file));
        // Half a row never stays: cut back to where this call began. The file is reopened at
        // the next call, when the disk may have room again.
        m_file->resize(before);
        m_file.reset();
        return false;
    }
    m_dirty = true;
    return true;
}

bool DayCsv::sync(QString *error) {
    if (!m_file || !m_dirty)
        return true;
    m_dirty = false;
    return syncFileToDisk(*m_file, error);
}
