#pragma once
// The fonts the main form and its artwork are drawn with travel with the program
// (resources/fonts): Carlito has Calibri's metrics, Liberation Sans has Arial's. Registered,
// they stand in for Calibri and Arial wherever those are not installed, so every text is as
// wide as the artwork and the field sizes were measured for. Vaduz Fallback, a few glyphs cut
// from Noto Sans CJK, has the characters neither has (full-width brackets and signs, ℃).

#include <QString>

// Registers the bundled fonts and the Calibri -> Carlito and Arial -> Liberation Sans
// substitutions. Needs the QGuiApplication; later calls do nothing. False when a font could
// not be registered.
bool registerBundledFonts();

// Family names of the bundled fonts.
QString bundledCalibriFamily(); // "Carlito"
QString bundledArialFamily();   // "Liberation Sans"
QString bundledFallbackFamily(); // "Vaduz Fallback"
