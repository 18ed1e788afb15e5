#pragma once
// Texts that leave the program for a screen or a file.

#include <QString>

// A cell for a CSV file that a spreadsheet opens as text, never as a formula: a cell beginning
// with "=", "+", "-", "@", a tab or a carriage return gets a leading apostrophe, unless the
// whole cell is a plain number ("-12.5", "+3", "-0,5" with a decimal comma), which stays a
// number. Control characters are replaced as printableText does.
QString safeCsvCell(const QString &cell);

// The text with every control character (C0, DEL, C1) replaced by U+FFFD, so that a
// controller's string cannot move the cursor, end a line or hide text on screen or in a file.
QString printableText(const QString &text);
// The same, keeping line breaks and tabs (multi-line texts such as a saved log).
QString printableLines(const QString &text);
