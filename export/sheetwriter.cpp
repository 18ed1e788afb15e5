#include "sheetwriter.h"

#include "platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Excel's limits: 1048576 rows, 16384 columns.
constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;

QString systemError(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// A name beside path that no file has yet: ".<name>.<random>.part" in the same directory, so
// the final rename never crosses a file system.
QString freshTempPath(const QString &path) {
    const QFileInfo target(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString candidate = target.dir().filePath(
            QStringLiteral(".%1.%2.part")
                .arg(target.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        if (!QFileInfo::exists(candidate))
            return candidate;
    }
    return QString();
}

// A complete zip archive ends with its end-of-central-directory record (22 bytes plus an
// optional comment). A file cut short by a full disk does not.
bool looksComplete(const QString &file, QString *reason) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        *reason = f.errorString();
        return false;
    }
    const qint64 size = f.size();
    const qint64 tail = qMin<qint64>(size, 22 + 0xffff);
    if (size < 22 || !f.seek(size - tail)) {
        *reason = QStringLiteral("the written file is incomplete");
        return false;
    }
    const QByteArray end = f.read(tail);
    if (end.lastIndexOf(QByteArrayLiteral("PK\x05\x06")) < 0) {
        *reason = QStringLiteral("the written file is incomplete");
        return false;
    }
    // The rename must not publish a file whose data is still only in the page cache.
    return syncFileToDisk(f, reason);
}

} // namespace

XlsxSheetWriter::XlsxSheetWriter(const QString &path) : m_path(path) {
    const QFileInfo dir(QFileInfo(path).absolutePath());
    if (!dir.isDir()) {
        fail(QStringLiteral("the folder %1 does not exist")
                 .arg(QDir::toNativeSeparators(dir.filePath())));
        return;
    }
    if (QFileInfo(path).isDir()) {
        fail(QStringLiteral("%1 is a folder").arg(QDir::toNativeSeparators(path)));
        return;
    }
    m_tempPath = freshTempPath(path);
    if (m_tempPath.isEmpty()) {
        fail(QStringLiteral("no temporary file name is free beside the target"));
        return;
    }
    // Create the temporary file now so that an unwritable folder is reported before any work.
    QFile probe(m_tempPath);
    if (!probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        const QString reason =
            QStringLiteral("cannot create a file in %1: %2")
                .arg(QDir::toNativeSeparators(dir.filePath()), probe.errorString());
        m_tempPath.clear();
        fail(reason);
        return;
    }
    probe.close();

    m_book = workbook_new(QFile::encodeName(m_tempPath).constData());
    if (m_book)
        m_sheet = workbook_add_worksheet(m_book, nullptr);
    if (!m_sheet)
        fail(QStringLiteral("the workbook could not be created"));
}

XlsxSheetWriter::~XlsxSheetWriter() {
    discard();
}

void XlsxSheetWriter::fail(const QString &reason) {
    if (m_error.isEmpty())
        m_error = reason;
    discard();
}

void XlsxSheetWriter::discard() {
    if (m_book) {
        lxw_workbook_free(m_book);
        m_book = nullptr;
    }
    m_sheet = nullptr;
    if (!m_tempPath.isEmpty()) {
        QFile::remove(m_tempPath);
        m_tempPath.clear();
    }
}

bool XlsxSheetWriter::writeText(int row, int column, const QString &text) {
    if (!m_sheet) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("the workbook is not open");
        return false;
    }
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns) {
        fail(QStringLiteral("cell %1,%2 lies outside the sheet").arg(row).arg(column));
        return false;
    }
    const QByteArray utf8 = text.toUtf8();
    const lxw_error err =
        worksheet_write_string(m_sheet, static_cast<lxw_row_t>(row - 1),
                               static_cast<lxw_col_t>(column - 1), utf8.constData(), nullptr);
    if (err != LXW_NO_ERROR) {
        fail(QString::fromLatin1(lxw_strerror(err)));
        return false;
    }
    return true;
}

bool XlsxSheetWriter::finish() {
    if (!m_book) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("the workbook is not open");
        return false;
    }
    lxw_workbook *book = m_book;
    m_book = nullptr;
    m_sheet = nullptr;
    errno = 0;
    const lxw_error err = workbook_close(book); // writes the file and frees the workbook
    if (err != LXW_NO_ERROR) {
        QString reason = QString::fromLatin1(lxw_strerror(err));
        if (errno != 0)
            reason += QStringLiteral(" (%1)").arg(systemError(errno));
        fail(reason);
        return false;
    }
    QString reason;
    if (!looksComplete(m_tempPath, &reason)) {
        fail(reason);
        return false;
    }
    // Keep the permissions of a file being replaced.
    const QFileInfo old(m_path);
    if (old.exists())
        QFile::setPermissions(m_tempPath, old.permissions());
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<const wchar_t *>(m_tempPath.utf16()),
                     reinterpret_cast<const wchar_t *>(m_path.utf16()),
                     MOVEFILE_REPLACE_EXISTING)) {
        fail(QStringLiteral("the file could not be replaced (error %1)").arg(GetLastError()));
        return false;
    }
#else
    // rename() replaces an existing target in one step: readers see the old or the new file.
    if (std::rename(QFile::encodeName(m_tempPath).constData(),
                    QFile::encodeName(m_path).constData()) != 0) {
        fail(systemError(errno));
        return false;
    }
#endif
    m_tempPath.clear();
    return true;
}
