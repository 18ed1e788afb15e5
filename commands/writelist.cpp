#include "writelist.h"

#include "paramtable.h"

#include <QPlainTextEdit>
#include <QWidget>

namespace {

int trackedParam(const QPlainTextEdit *field) {
    const int n = paramNumberFromName(field->objectName());
    return (n >= 1 && n <= kTrackedParamMax) ? n : 0;
}

} // namespace

QList<QPlainTextEdit *> trackedParamFields(const QList<QWidget *> &widgets) {
    QList<QPlainTextEdit *> fields;
    for (QWidget *widget : widgets) {
        auto *field = qobject_cast<QPlainTextEdit *>(widget);
        if (field && trackedParam(field))
            fields << field;
    }
    return fields;
}

void connectEditTracking(const QList<QPlainTextEdit *> &fields) {
    for (QPlainTextEdit *field : fields) {
        const int n = trackedParam(field);
        if (n)
            // A field cleared back to empty holds nothing to send: it is no longer marked.
            QObject::connect(field, &QPlainTextEdit::textChanged, field, [n, field] {
                paramEdited[n] = field->toPlainText().trimmed().isEmpty() ? 0 : 1;
            });
    }
}

int buildWriteList(const QList<QPlainTextEdit *> &fields, WriteListEntry *entries, int *refused) {
    int taken[kWriteListEntries];
    int count = 0;
    for (QPlainTextEdit *field : fields) {
        if (count >= kWriteListEntries)
            break;
        const int n = trackedParam(field);
        if (!n || !paramEdited[n])
            continue;
        // One field that cannot be written stops the whole list: the controller never gets
        // half of a set of thresholds meant to go together. Every mark stays for the retry.
        if (!encodeListEntry(n, field->toPlainText(), &entries[count])) {
            if (refused)
                *refused = n;
            return -1;
        }
        taken[count++] = n;
    }
    for (int i = 0; i < count; ++i)
        paramEdited[taken[i]] = 0;
    return count;
}

int queueOneClickSetup(const QList<QPlainTextEdit *> &fields, uint8_t op, int *refused) {
    WriteListEntry entries[kWriteListEntries];
    const int n = buildWriteList(fields, entries, refused);
    if (n > 0)
        queueWriteList(entries, n, op);
    return n;
}
