#include "writelist.h"

#include "paramtable.h"

#include <QPlainTextEdit>
#include <QWidget>

void connectEditTracking(QWidget *window) {
    const auto fields = window->findChildren<QPlainTextEdit *>();
    for (QPlainTextEdit *field : fields) {
        const int n = paramNumberFromName(field->objectName());
        if (n < 1 || n > kTrackedParamMax)
            continue;
        QObject::connect(field, &QPlainTextEdit::textChanged, field, [n] { paramEdited[n] = 1; });
    }
}

int buildWriteList(QWidget *window, WriteListEntry *entries) {
    int count = 0;
    // findChildren searches depth-first, each parent's children in creation order.
    const auto fields = window->findChildren<QPlainTextEdit *>();
    for (QPlainTextEdit *field : fields) {
        if (count >= kWriteListEntries)
            break;
        const int n = paramNumberFromName(field->objectName());
        if (n < 1 || n > kTrackedParamMax || !paramEdited[n])
            continue;
        // A date and time that does not parse is left out without a message; the text stays
        // in its field for the operator to correct.
        if (encodeListEntry(n, field->toPlainText(), &entries[count]))
            ++count;
        paramEdited[n] = 0;
    }
    return count;
}

int queueOneClickSetup(QWidget *window, uint8_t op) {
    WriteListEntry entries[kWriteListEntries];
    const int n = buildWriteList(window, entries);
    if (n > 0)
        queueWriteList(entries, n, op);
    return n;
}
