#pragma once
// The words printed on the page artwork. Edit a text here and rebuild: the generator draws
// every caption beside the field the field map puts it at.

#include "fieldmap.h"

struct Caption {
    const char *field; // object name of the field the caption belongs to (read field of a row)
    const char *text;
    const char *unit; // printed after the text in parentheses; empty for none
};

// One caption per display field and per parameter row (keyed by the row's read field).
const Caption *captions();
int captionCount();
// "Total Voltage (V)": the field's caption with its unit, as a column header; the field's own
// name where it has no caption.
QString captionWithUnit(const char *field);

// Free texts on a page: section titles and column heads.
struct PageText {
    FieldPage page;
    int x, y; // top-left of the text, page pixels
    const char *text;
    enum Style { Heading, Section, ColumnHead } style;
    // Heading: a title with a red rule under it; Section: a small red group name where there
    // is no room for a title; ColumnHead: a small grey column name.
};
const PageText *pageTexts();
int pageTextCount();

// Faces of the three one-shot command buttons on the Fault page, by parameter number.
const char *commandFace(int param);
