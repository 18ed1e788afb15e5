#include "namedvalues.h"

#include "captions.h"
#include "fieldmap.h"
#include "fieldtables.h"

#include <QStringList>

#include <array>
#include <memory>

namespace {

enum class Source : uint8_t {
    Field,    // a field of the page: format of block's record at cell
    RackCell, // word `cell` of the group's rack part
    PackCell, // word `cell` of the group's pack record
    AlarmBit, // bit `cell` of fault word `block`
    Number,   // the group's rack or pack number
    Nothing,  // a field the page does not fill: shows nothing
};

struct Column {
    QString key;
    QString caption;
    QString unit;
    Source source = Source::Nothing;
    const FieldFormat *format = nullptr;
    int block = 0;
    int cell = 0;
};

struct PageLayout {
    QVector<Column> columns;
    int groups = 1;
};

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
QString labelBeside(const FieldDef &f) {
    const FormLabel *best = nullptr;
    for (std::size_t i = 0; i < formLabelCount(); ++i) {
        const FormLabel &l = formLabels()[i];
        const QRect g = l.rect();
        if (l.page != f.page || formLabelText(l).trimmed().isEmpty() || g.center().y() < f.y ||
            g.center().y() > f.y + f.h || g.right() > f.x)
            continue;
        if (!best || g.right() > best->rect().right())
            best = &l;
    }
    return best ? formLabelText(*best).simplified() : QString();
}

// A field's caption and unit: the artwork's caption, else the form's label beside the field,
// else the field's own name.
void fieldCaption(const FieldDef &f, QString *text, QString *unit) {
    for (int i = 0; i < captionCount(); ++i)
        if (qstrcmp(captions()[i].field, f.name) == 0) {
            *text = QString::fromUtf8(captions()[i].text);
            *unit = QString::fromUtf8(captions()[i].unit);
        }
    if (text->isEmpty())
        *text = labelBeside(f);
    if (text->isEmpty())
        *text = QString::fromLatin1(f.name);
}

// The unit of a rack or pack table column whose head does not carry one.
QString tableColumnUnit(const QString &head) {
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
            return QString::fromUtf8(u.second);
    return QString();
}

QString withUnit(const QString &caption, const QString &unit) {
    return unit.isEmpty() ? caption : QStringLiteral("%1 (%2)").arg(caption, unit);
}

// Where a field map read field takes its text from: the page's field tables, by the cell its
// name carries or as the second widget of a field.
void bindField(const FieldDef &f, Column *c) {
    std::array<const FieldGroup *, 2 + kSettingsGroupCount> groups{&homeFields, &dataSummaryFields};
    for (int g = 0; g < kSettingsGroupCount; ++g)
        groups[2 + g] = &settingsGroups[g];
    const bool namedAfterCell = QLatin1String(f.name) == readFieldName(f.block, f.index);
    for (const FieldGroup *group : groups)
        for (int i = 0; i < group->count; ++i) {
            const FieldRange &r = group->ranges[i];
            const bool byCell = namedAfterCell && group->block == f.block && f.index >= r.first &&
                                f.index <= r.last;
            const bool second = r.alsoShownIn && qstrcmp(r.alsoShownIn, f.name) == 0;
            if (byCell || second) {
                c->source = Source::Field;
                c->format = &r.format;
                c->block = group->block;
                c->cell = byCell ? f.index : r.first;
                return;
            }
        }
    c->source = Source::Nothing;
    c->block = f.block;
}

// Headers the same as another are told apart by their qualifiers (section, then page), one
// level after the other while two are still the same; whatever is still the same is numbered.
QStringList uniqueHeaders(const QStringList &headers, const QVector<QStringList> &qualifiers) {
    QStringList h = headers;
    for (int level = 0;; ++level) {
        bool more = false;
        QStringList next = h;
        for (int i = 0; i < h.size(); ++i)
            if (h.count(h.at(i)) > 1 && level < qualifiers.at(i).size()) {
                const QString &q = qualifiers.at(i).at(level);
                if (!q.isEmpty())
                    next[i] = QStringLiteral("%1: %2").arg(q, h.at(i));
                more = true;
            }
        h = next;
        if (!more)
            break;
    }
    for (int i = 0; i < h.size(); ++i)
        for (int j = i + 1, n = 2; j < h.size(); ++j)
            if (h.at(j) == h.at(i))
                h[j] = QStringLiteral("%1 %2").arg(h.at(i)).arg(n++);
    return h;
}

PageLayout buildLayout(int tab) {
    PageLayout page;
    QVector<QStringList> qualifiers;
    auto add = [&](Column c, const QStringList &q) {
        page.columns.append(c);
        qualifiers.append(q);
    };
    if (tab == 1 || tab == 4) {
        const QString what = tab == 1 ? QStringLiteral("Rack") : QStringLiteral("Pack");
        page.groups = tab == 1 ? kRackCount : kPackCount;
        add({what, what, {}, Source::Number}, {});
        const int columns = tab == 1 ? kRackTableColumns : kPackTableColumns;
        for (int c = 0; c < columns; ++c) {
            const QString head = (tab == 1 ? rackColumnHead(c) : packColumnHead(c)).simplified();
            // Rack part word c of rack r is summary word kStackWords + kRackWords * r + c, held
            // in blocks 0 and 1; pack word c of pack k is cell c of block kFirstPackBlock + k.
            add({QString(), head, tableColumnUnit(head),
                 tab == 1 ? Source::RackCell : Source::PackCell, nullptr, 0, c},
                {what});
        }
    }
    if (tab == 3) {
        // One column per alarm, named with its level (the same alarm stands in several levels)
        // and, where a level names it twice, its bit.
        for (int r = 0; r < kFaultLegendRows; ++r)
            for (int c = 0; c < kFaultLegendCols; ++c) {
                const QString alarm = faultAlarmText(r, c).simplified();
                int same = 0;
                for (int o = 0; o < kFaultLegendCols; ++o)
                    same += faultAlarmText(r, o).simplified() == alarm;
                QString name = QStringLiteral("%1: %2").arg(faultLevelText(r).simplified(), alarm);
                if (same > 1)
                    name += QStringLiteral(" (Bit%1)").arg(c);
                // Row 2k shows bits 0..7 of fault word k, row 2k + 1 its bits 8..15.
                const int bit = (r % 2) * 8 + c;
                add({QStringLiteral("R_Addr6Num%1_bit%2").arg(r / 2).arg(bit),
                     name,
                     {},
                     Source::AlarmBit,
                     nullptr,
                     r / 2,
                     bit},
                    {});
            }
    }
    const FieldDef *map = fieldMap();
    for (std::size_t i = 0; i < fieldMapSize(); ++i) {
        const FieldDef &f = map[i];
        if (f.kind != FieldKind::Read || tabOf(f.page) != tab)
            continue;
        Column c;
        c.key = QString::fromLatin1(f.name);
        fieldCaption(f, &c.caption, &c.unit);
        bindField(f, &c);
        add(c, {sectionOf(f), pageName(f.page)});
    }

    // Unique as whole headers, with the recording's "Time" standing first.
    QStringList headers{QStringLiteral("Time")};
    QVector<QStringList> allQualifiers{{}};
    for (const Column &c : page.columns)
        headers << withUnit(c.caption, c.unit);
    allQualifiers << qualifiers;
    const QStringList unique = uniqueHeaders(headers, allQualifiers);
    for (int i = 0; i < page.columns.size(); ++i) {
        Column &c = page.columns[i];
        const QString &h = unique.at(i + 1);
        const QString suffix = c.unit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(c.unit);
        if (h.endsWith(suffix)) {
            c.caption = h.left(h.size() - suffix.size());
        } else {
            // Numbered after its unit: the whole header is the caption.
            c.caption = h;
            c.unit.clear();
        }
    }
    return page;
}

const PageLayout &layout(int tab) {
    static const std::array<PageLayout, kNamedPages> pages{
        buildLayout(0), buildLayout(1), buildLayout(2), buildLayout(3), buildLayout(4)};
    return pages[size_t(tab)];
}

// The mirror cell of word c of rack r's part of the summary: block 0 holds its first 96 words,
// block 1 the rest.
QString rackCellKey(int rack, int column) {
    constexpr int kBlockWords0 = 96;
    const int word = kStackWords + kRackWords * rack + column;
    return word < kBlockWords0 ? QStringLiteral("R_Addr0Num%1").arg(word)
                               : QStringLiteral("R_Addr1Num%1").arg(word - kBlockWords0);
}

} // namespace

QString NamedValue::header() const {
    return withUnit(caption, unit);
}

QVector<NamedGroup> namedValues(const DisplaySnapshot &snapshot, int tab) {
    QVector<NamedGroup> out;
    if (tab < 0 || tab >= kNamedPages)
        return out;
    const PageLayout &page = layout(tab);
    std::unique_ptr<SnapshotRecord> records[kSnapshotBlocks];
    auto record = [&](int block) -> const SnapshotRecord * {
        if (block < 0 || block >= kSnapshotBlocks)
            return nullptr;
        if (!records[block])
            records[block] = blockRecord(snapshot, block);
        return records[block].get();
    };
    out.reserve(page.groups);
    for (int g = 0; g < page.groups; ++g) {
        // The rack table's rows come from blocks 0 and 1 together.
        const bool rowLive = tab == 1   ? snapshot.live[0] && snapshot.live[1]
                             : tab == 4 ? snapshot.live[kFirstPackBlock + g]
                                        : false;
        const WordRecord rack(snapshot.summary + kStackWords + kRackWords * g, kRackWords);
        const WordRecord pack(snapshot.pack[g < kPackCount ? g : 0], kPackWords);
        NamedGroup group;
        group.reserve(page.columns.size());
        for (const Column &c : page.columns) {
            NamedValue v{c.key, c.caption, c.unit};
            switch (c.source) {
            case Source::Field:
                if (const SnapshotRecord *r = record(c.block)) {
                    v.text = formatField(*c.format, *r, c.cell);
                    v.number = fieldNumber(*c.format, *r, c.cell);
                }
                v.live = snapshot.live[c.block];
                break;
            case Source::RackCell:
            case Source::PackCell: {
                const bool isRack = c.source == Source::RackCell;
                const FieldFormat *format =
                    tableColumnFormat(isRack ? rackColumns : packColumns, c.cell);
                const WordRecord &row = isRack ? rack : pack;
                v.key = isRack
                            ? rackCellKey(g, c.cell)
                            : QStringLiteral("R_Addr%1Num%2").arg(kFirstPackBlock + g).arg(c.cell);
                if (format) {
                    v.text = formatField(*format, row, c.cell);
                    v.number = fieldNumber(*format, row, c.cell);
                }
                v.live = rowLive;
                break;
            }
            case Source::AlarmBit: {
                const bool raised =
                    static_cast<uint16_t>(snapshot.faultBits[c.block]) & (1u << c.cell);
                v.text = raised ? QStringLiteral("1") : QStringLiteral("0");
                v.number = raised ? 1 : 0;
                v.live = snapshot.live[6];
                break;
            }
            case Source::Number:
                v.text = QString::number(g + 1);
                v.number = g + 1;
                v.live = rowLive;
                break;
            case Source::Nothing:
                v.live = c.block >= 0 && c.block < kSnapshotBlocks && snapshot.live[c.block];
                break;
            }
            group.append(v);
        }
        out.append(group);
    }
    return out;
}
