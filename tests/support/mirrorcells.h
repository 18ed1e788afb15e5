#pragma once
// Mirror contents for page tests: a list of (mirror index, 16-bit value) pairs.

#include "registermirror.h"

#include <QByteArray>
#include <QPair>
#include <QVector>

#include <cstdint>

using Cells = QVector<QPair<int, int>>;

// Clears the mirror, then stores the cells.
inline void loadMirror(const Cells &cells)
{
    clearMirror();
    for (const auto &c : cells)
        setMirrorCell(c.first, static_cast<int16_t>(static_cast<uint16_t>(c.second)));
}

// Two characters per cell, high byte first; an odd length leaves a 0 low byte.
inline Cells textCells(int firstIndex, const QByteArray &text)
{
    Cells cells;
    for (int i = 0; i < text.size(); i += 2) {
        const int hi = static_cast<uint8_t>(text[i]);
        const int lo = i + 1 < text.size() ? static_cast<uint8_t>(text[i + 1]) : 0;
        cells.append({firstIndex + i / 2, (hi << 8) | lo});
    }
    return cells;
}
