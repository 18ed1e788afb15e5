#pragma once
// Staging of one write-multiple request (function 16) for the link worker. The payload is
// complete before the flags that release it (writePending, then linkOp = 1) are stored.

#include "registermirror.h"

#include <QString>

#include <cstdint>

// How stageWrite reads its data pointer.
enum WriteDataKind : uint8_t {
    kDataByte = 1,  // one byte: the register reads 0x00nn
    kDataWord = 2,  // one uint16_t
    kDataWords = 3, // count uint16_t values (none for count 0)
    kDataDword = 4, // one uint32_t over two registers, high word first
    kDataRaw = 5,   // count * 2 bytes in wire order (nothing for a null pointer)
};

// Fills out (kWriteDataSize bytes, cleared first) with the register data of a write of count
// registers taken from data by kind. Unknown kinds leave it cleared.
void fillWriteData(uint8_t *out, const void *data, uint8_t count, uint8_t kind);

// Stages a function-16 write of count registers starting at start; replaces whatever single
// write was staged before, sent or not.
void stageWrite(const void *data, uint16_t start, uint8_t count, uint8_t kind);

// Converts the text of parameter n's field and stages its write. False (nothing staged) when n
// has no edit field or the text is not accepted for it (paramInputTip says what is).
bool stageParamWrite(int n, const QString &text);

// One-shot command: writes 1 to register reg (data bytes 0x00 0x01).
void stageCommand(uint16_t reg);
