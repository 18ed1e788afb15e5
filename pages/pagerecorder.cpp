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
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRegularExpression>
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

QString pageName(FieldPage page) {
    switch (page) {
    case FieldPage::Home:
        return QStringLiteral("Home");
    case FieldPage::Data:
        return QStringLiteral("Data");
    case FieldPage::SetPage1:
        return QStringLiteral("Settings 1");
    case FieldPage::SetPage2:
        return QStringLiteral("Settings 2");
    case FieldPage::Fault:
        return QStringLiteral("Fault");
    }
    return QString();
}

// The section a field stands in: the nearest title printed above it and to its left.
QString sectionOf(const FieldDef &f) {
    const PageText *best = nullptr;
    for (int i = 0; i < pageTextCount(); ++i) {
        const PageText &t = pageTexts()[i];
        if (t.page != f.page || t.style == PageText::ColumnHead || t.y > f.y || t.x > f.x)
            continue;
        if (!best || t.y > best->y || (t.y == best->y && t.x > best->x))
            best = &t;
    }
    return best ? QString::fromUtf8(best->text) : QString();
}

// The form's label standing left of a field on its row (for fields the artwork leaves
// uncaptioned because the form labels them).
QString labelBeside(QWidget *window, const FieldDef &f) {
    QWidget *page = window->findChild<QWidget *>(QLatin1String(pageObjectName(f.page)));
    const QLabel *best = nullptr;
    for (const QLabel *l : page ? page->findChildren<QLabel *>() : QList<QLabel *>()) {
        const QRect g = l->geometry();
        if (l->text().trimmed().isEmpty() || g.center().y() < f.y || g.center().y() > f.y + f.h ||
            g.right() > f.x)
            continue;
        if (!best || g.right() > best->geometry().right())
            best = l;
    }
    return best ? best->text().simplified() : QString();
}

} // namespace

QString PageRecorder::fieldCaption(QWidget *window, const FieldDef &f) {
    QString text, unit;
    for (int i = 0; i < captionCount(); ++i)
        if (qstrcmp(captions()[i].field, f.name) == 0) {
            text = QString::fromUtf8(captions()[i].text);
            unit = QString::fromUtf8(captions()[i].unit);
        }
    if (text.isEmpty() && window)
        text = labelBeside(window, f);
    if (text.isEmpty())
        text = QString::fromLatin1(f.name);
    return unit.isEmpty() ? text : QStringLiteral("%1 (%2)").arg(text, unit);
}

namespace {

// The unit of a rack or pack table column whose head does not carry one.
QString tableColumnHead(const QString &head) {
    static const std::pair<const char *, const char *> kUnits[] = {
        {"SOC", "%"},
        {"Total Voltage", "V"},
        {"Total Current", "A"},
        {"Max Voltage", "V"},
        {"Min Voltage", "V"},
        {"Max Temp", "\u00B0C"},
        {"Min Temp", "\u00B0C"},
    };
    for (const auto &u : kUnits)
        if (head == QLatin1String(u.first))
            return QStringLiteral("%1 (%2)").arg(head, QString::fromUtf8(u.second));
    return head;
}

// A column: its caption, and what tells it from another column of the same caption (its
// section, then its page), applied one after the other while two headers are the same.
struct Column {
    QString caption;
    QStringList qualifiers;
};

QStringList uniqueHeaders(const QVector<Column> &columns) {
    QStringList h;
    for (const Column &c : columns)
        h << c.caption;
    for (int level = 0;; ++level) {
        bool more = false;
        QStringList next = h;
        for (int i = 0; i < h.size(); ++i)
            if (h.count(h.at(i)) > 1 && level < columns.at(i).qualifiers.size()) {
                const QString &q = columns.at(i).qualifiers.at(level);
                if (!q.isEmpty())
                    next[i] = QStringLiteral("%1: %2").arg(q, h.at(i));
                more = true;
            }
        h = next;
        if (!more)
            break;
    }
    // Whatever is still the same is numbered in order.
    for (int i = 0; i < h.size(); ++i)
        for (int j = i + 1, n = 2; j < h.size(); ++j)
            if (h.at(j) == h.at(i))
                h[j] = QStringLiteral("%1 %2").arg(h.at(i)).arg(n++);
    return h;
}

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
    m_recording = false;
}

QString PageRecorder::fileFor(int tab) const {
    return tab >= 0 && tab < 5 && m_files[tab] ? m_files[tab]->file.fileName() : QString();
}

int PageRecorder::rowsWritten(int tab) const {
    return tab >= 0 && tab < 5 && m_files[tab] ? m_files[tab]->rows : 0;
}

QStringList PageRecorder::header(QWidget *window, int tab) {
    QVector<Column> columns{{QStringLiteral("Time"), {}}};
    if (QTableWidget *table = pageTable(window, tab)) {
        const QString what = tab == 1 ? QStringLiteral("Rack") : QStringLiteral("Pack");
        columns.append({what, {}});
        for (int c = 0; c < table->columnCount(); ++c) {
            const QString head = itemText(table->horizontalHeaderItem(c)).simplified();
            columns.append(
                {head.isEmpty() ? QStringLiteral("Column %1").arg(c + 1) : tableColumnHead(head),
                 {what}});
        }
        if (tab == 4)
            return uniqueHeaders(columns);
    }
    if (tab == 3) {
        // The alarm grid: one column per alarm, 1 while it is raised, named with its level
        // (the same alarm stands in several levels) and, where a level names it twice, its bit.
        if (auto *grid = window->findChild<QTableWidget *>(QStringLiteral("Fault_tableWidget")))
            for (int r = 0; r < grid->rowCount(); ++r)
                for (int c = 0; c < grid->columnCount(); ++c) {
                    const QString level = itemText(grid->verticalHeaderItem(r)).simplified();
                    const QString alarm = itemText(grid->item(r, c)).simplified();
                    int same = 0;
                    for (int o = 0; o < grid->columnCount(); ++o)
                        same += itemText(grid->item(r, o)).simplified() == alarm;
                    QString name = QStringLiteral("%1: %2").arg(level, alarm);
                    if (same > 1)
                        name += QStringLiteral(" (%1)").arg(
                            itemText(grid->horizontalHeaderItem(c)).simplified());
                    columns.append({name, {}});
                }
    }
    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i)
        if (map[i].kind == FieldKind::Read && tabOf(map[i].page) == tab)
            columns.append({PageRecorder::fieldCaption(window, map[i]),
                            {sectionOf(map[i]), pageName(map[i].page)}});
    return uniqueHeaders(columns);
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
        // Row r shows rack or pack r + 1.
        QStringList row{QString::number(r + 1)};
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
