// The display rules over arbitrary mirror contents: the input fills the mirror's shown blocks,
// one snapshot is taken, and every field of every page table is formatted. Nothing may crash or
// read out of bounds, and every text must keep its field's shape: numbers stay numbers of
// bounded length, strings stay within their cells' characters.

#include "displaysnapshot.h"
#include "fieldformat.h"
#include "fieldtables.h"
#include "registermirror.h"

#include <QRegularExpression>

#include <cstdlib>

namespace {

const int kShownBlocks[] = {0, 1, 2, 3, 4, 5, 6, 86, 88, 89, 90, 91};

void checkText(const FieldFormat &format, const QString &text)
{
    static const QRegularExpression number(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?$"));
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{1,4}$"));
    switch (format.rule) {
    case Rule::Integer:
    case Rule::Scaled:
    case Rule::Total:
    case Rule::LowByte:
        if (!number.match(text).hasMatch() || text.size() > 16)
            abort();
        break;
    case Rule::Hex:
        if (!hex.match(text).hasMatch())
            abort();
        break;
    case Rule::String:
        if (text.size() > 24 || text.contains(QChar(0)))
            abort();
        // A controller's string never carries a control character to the screen.
        for (const QChar c : text)
            if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
                abort();
        break;
    default:
        if (text.size() > 64)
            abort();
        break;
    }
}

void formatGroup(const FieldGroup &group, const SnapshotRecord &record)
{
    for (int r = 0; r < group.count; ++r) {
        const FieldRange &range = group.ranges[r];
        for (int cell = range.first; cell <= range.last; ++cell)
            checkText(range.format, formatField(range.format, record, cell));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The input is a stream of words laid over the shown blocks in turn; cells past its end are 0.
    clearMirror();
    size_t pos = 0;
    for (int block : kShownBlocks) {
        for (int reg = 0; reg < kBlockSize && pos + 1 < size; ++reg, pos += 2)
            setMirrorCell(block * kBlockSize + reg, static_cast<int16_t>((data[pos] << 8) | data[pos + 1]));
    }
    for (int block = 7; block <= 21 && pos + 1 < size; ++block)
        for (int reg = 0; reg < 92 && pos + 1 < size; ++reg, pos += 2)
            setMirrorCell(block * kBlockSize + reg, static_cast<int16_t>((data[pos] << 8) | data[pos + 1]));

    static DisplaySnapshot snapshot;
    takeDisplaySnapshot(snapshot);

    formatGroup(homeFields, *blockRecord(snapshot, 2));
    formatGroup(dataSummaryFields, *blockRecord(snapshot, 0));
    for (const FieldGroup &group : settingsGroups) {
        const auto record = blockRecord(snapshot, group.block);
        if (!record)
            abort();
        formatGroup(group, *record);
    }
    for (int rack = 0; rack < kRackCount; ++rack) {
        const WordRecord record(snapshot.summary + kStackWords + rack * kRackWords, kRackWords);
        formatGroup(rackColumns, record);
    }
    for (int pack = 0; pack < kPackCount; ++pack) {
        const WordRecord record(snapshot.pack[pack], kPackWords);
        formatGroup(packColumns, record);
    }
    return 0;
}
