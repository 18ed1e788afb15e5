#pragma once
// The one-click setup list: which parameter fields the operator has edited since they were last
// queued, and the list of their writes in form order.

#include "registermirror.h"

#include <cstdint>

class QWidget;

// Marks parameter n (1..84) as edited whenever the text of its field W_Addr<n>_text changes.
// Fields of parameters above 84 are not tracked. Call once, after the form is built.
void connectEditTracking(QWidget *window);

// Fills entries (room for kWriteListEntries) with the edited parameters of window, in the order
// of a depth-first search of its fields (the form's creation order), at most 85. Clears the
// edited flag of every parameter it takes. Returns the number of entries.
int buildWriteList(QWidget *window, WriteListEntry *entries);

// Builds the list and, when it holds at least one entry, hands it to the link worker with
// linkOp = op (2: to the current device address, 3: to every address in turn). Returns the
// number of entries queued; with none, linkOp is left as it was.
int queueOneClickSetup(QWidget *window, uint8_t op);
