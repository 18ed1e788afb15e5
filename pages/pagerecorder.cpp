#include "pagerecorder.h"

#include "captions.h"
#include "fieldmap.h"
#include "pollplan.h"
#include "registermirror.h"
#include "safetext.h"
#include "writeerror.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTableWidget>

namespace {

const char *const kPageNames[5] = {"Home", "Data", "Settings", "Fault", "Pack"};

// The page a field map page belongs to.
int tabOf(FieldPage page) {
    switch (page) {
    case FieldPage::Home:
        return 0;
    case FieldPage::Data:
        return 1;
    case FieldPage::SetPage1:
    case FieldPage::SetPage2:
        return 2;
    case FieldPage::Fault:
        return 3;
    }
    return -1;
}

QTableWidget *pageTable(QWidget *window, int tab) {
    const char *name = tab == 1 ? "Rack_tableWidget" : tab == 4 ? "PACK_tableWidget" : nullptr;
    return name ? window->findChild<QTableWidget *>(QLatin1String(name)) : nullptr;
}

QString itemText(const QTableWidgetItem *item) {
    return item ? item->text() : QString();
}

} // namespace

struct PageRecorder::PageFile {
    QFile file;
    int rows = 0;
};

PageRecorder::PageRecorder() = default;
PageRecorder::~PageRecorder() = default;

QString csvLine(const QStringList &cells) {
    QStringList quoted;
    quoted.reserve(cells.size());
    for (const QString &cell : cells) {
        const QString c = safeCsvCell(cell);
        if (c.contains(QLatin1Char(',')) || c.contains(QLatin1Char('"')) ||
            c.contains(QLatin1Char('\n')) || c.contains(QLatin1Char('\r'))) {
            QString q = c;
            q.replace(QLatin1Char('"'), QLatin1String("\"\""));
            quoted << QLatin1Char('"') + q + QLatin1Char('"');
        } else {
            quoted << c;
        }
    }
    return quoted.join(QLatin1Char(','));
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
    m_recording = false;
}

QString PageRecorder::fileFor(int tab) const {
    return tab >= 0 && tab < 5 && m_files[tab] ? m_files[tab]->file.fileName() : QString();
}

int PageRecorder::rowsWritten(int tab) const {
    return tab >= 0 && tab < 5 && m_files[tab] ? m_files[tab]->rows : 0;
}

QStringList PageRecorder::header(QWidget *window, int tab) {
    QStringList h{QStringLiteral("Time")};
    if (QTableWidget *table = pageTable(window, tab)) {
        h << (tab == 1 ? QStringLiteral("Rack") : QStringLiteral("Pack"));
        for (int c = 0; c < table->columnCount(); ++c) {
            const QString head = itemText(table->horizontalHeaderItem(c)).simplified();
            h << (head.isEmpty() ? QStringLiteral("Column %1").arg(c + 1) : head);
        }
        if (tab == 4)
            return h;
    }
    if (tab == 3) {
        // The alarm grid: one column per alarm, 1 while it is raised.
        if (auto *grid = window->findChild<QTableWidget *>(QStringLiteral("Fault_tableWidget")))
            for (int r = 0; r < grid->rowCount(); ++r)
                for (int c = 0; c < grid->columnCount(); ++c)
                    h << itemText(grid->item(r, c)).simplified();
    }
    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i)
        if (map[i].kind == FieldKind::Read && tabOf(map[i].page) == tab)
            h << captionWithUnit(map[i].name);
    return h;
}

QList<QStringList> PageRecorder::rows(QWidget *window, int tab) {
    QStringList fields;
    if (tab == 3) {
        if (auto *grid = window->findChild<QTableWidget *>(QStringLiteral("Fault_tableWidget")))
            for (int r = 0; r < grid->rowCount(); ++r)
                for (int c = 0; c < grid->columnCount(); ++c) {
                    const QTableWidgetItem *item = grid->item(r, c);
                    const QColor back =
                        item ? item->background().color() : QColor(Qt::transparent);
                    fields << (back.alpha() > 0 ? QStringLiteral("1") : QStringLiteral("0"));
                }
    }
    if (window != m_boundWindow) {
        m_boundWindow = window;
        for (bool &bound : m_bound)
            bound = false;
    }
    if (!m_bound[tab]) {
        m_fields[tab].clear();
        const FieldDef *map = fieldMap();
        for (std::size_t i = 0; i < fieldMapSize(); ++i)
            if (map[i].kind == FieldKind::Read && tabOf(map[i].page) == tab)
                m_fields[tab] << window->findChild<QPlainTextEdit *>(QLatin1String(map[i].name));
        m_bound[tab] = true;
    }
    for (QPlainTextEdit *w : m_fields[tab])
        fields << (w ? w->toPlainText() : QString());
    QList<QStringList> out;
    QTableWidget *table = pageTable(window, tab);
    if (!table) {
        out << fields;
        return out;
    }
    for (int r = 0; r < table->rowCount(); ++r) {
        QString label = itemText(table->verticalHeaderItem(r));
        if (label.isEmpty())
            label = QString::number(r + 1);
        QStringList row{label};
        for (int c = 0; c < table->columnCount(); ++c)
            row << itemText(table->item(r, c));
        if (tab == 1)
            row << fields; // the Data page's summary fields beside each rack row
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
    const QByteArray line = (csvLine(cells) + QLatin1String("\r\n")).toUtf8();
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

bool PageRecorder::recordPass(QWidget *window, int tab, QString *error) {
    if (!m_recording || !window || tab < 0 || tab > 4 || !fresh(tab))
        return true;
    auto &f = m_files[tab];
    if (!f) {
        f = std::make_unique<PageFile>();
        const QString name = QStringLiteral("%1_%2.csv")
                                 .arg(m_startedAt.toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                      QLatin1String(kPageNames[tab]));
        f->file.setFileName(QDir(m_folder).filePath(name));
        // Unbuffered: each row reaches the file as it is written, so a crash loses at most
        // the row being written.
        if (!f->file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(f->file.fileName()),
                                                  writeErrorReason(f->file));
            stop();
            return false;
        }
        // A byte order mark, so that spreadsheets read the units' symbols as UTF-8.
        if (f->file.size() == 0 &&
            (f->file.write("\xEF\xBB\xBF") != 3 || !writeLine(*f, header(window, tab), error))) {
            if (error->isEmpty())
                *error = writeErrorReason(f->file);
            stop();
            return false;
        }
    }
    const QString time = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    for (QStringList row : rows(window, tab)) {
        row.prepend(time);
        if (!writeLine(*f, row, error)) {
            stop();
            return false;
        }
        ++f->rows;
    }
    return true;
}
