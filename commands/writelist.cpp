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
            QObject::connect(field, &QPlainTextEdit::textChanged, field,
                             [n] { paramEdited[n] = 1; });
    }
}

int buildWriteList(const QList<QPlainTextEdit *> &fields, WriteListEntry *entries) {
    int count = 0;
    for (QPlainTextEdit *field : fields) {
        if (count >= kWriteListEntries)
            break;
        const int n = trackedParam(field);
        if (!n || !paramEdited[n])
            continue;
        // A date and time that does not parse is left out without a message; the text stays
        // in its field for the operator to correct.
        if (encodeListEntry(n, field->toPlainText(), &entries[count]))
            ++count;
        paramEdited[n] = 0;
    }
    return count;
}

int queueOneClickSetup(const QList<QPlainTextEdit *> &fields, uint8_t op) {
    WriteListEntry entries[kWriteListEntries];
    const int n = buildWriteList(fields, entries);
    if (n > 0)
        queueWriteList(entries, n, op);
    return n;
}
