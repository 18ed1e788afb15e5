#pragma once
// The one-click setup list: which parameter fields the operator has edited since they were last
// queued, and the list of their writes in form order.

#include "registermirror.h"

#include <QList>

#include <cstdint>

class QPlainTextEdit;
class QWidget;

// The parameter edit fields (W_Addr<n>_text, 1 <= n <= 84) among widgets, in the given order.
// Pass the form's widgets in creation order: a search of the widget tree is not enough, since
// showing a page moves it to the end of its parent's children.
QList<QPlainTextEdit *> trackedParamFields(const QList<QWidget *> &widgets);

// Marks parameter n as edited whenever the text of its field changes, and unmarks it when the
// field is cleared back to empty (blanks only). Fields of parameters above
// 84 are not tracked. Call once, after the form is built.
void connectEditTracking(const QList<QPlainTextEdit *> &fields);

// Fills entries (room for kWriteListEntries) with the edited parameters among fields, in their
// order, at most 85, encoded exactly as their Set buttons write them. Returns the number of
// entries and clears the edited flag of every parameter it takes. When the text of an edited
// field is not accepted, the list is refused whole: returns -1, clears no flag and, when refused
// is given, stores the first such parameter there.
int buildWriteList(const QList<QPlainTextEdit *> &fields, WriteListEntry *entries,
                   int *refused = nullptr);

// Builds the list and, when it holds at least one entry, hands it to the link worker with
// linkOp = op (2: to the current device address, 3: to every address in turn). Returns the
// number of entries queued, or -1 (nothing queued, refused as above); with none, linkOp is left
// as it was.
int queueOneClickSetup(const QList<QPlainTextEdit *> &fields, uint8_t op, int *refused = nullptr);
