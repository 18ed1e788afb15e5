#pragma once
// The byte layout of the controller protocol: read requests (function 4, the address field is a
// block number), write-multiple requests (function 16, the address field is a register number),
// the completion test for a run of received bytes and the response check. Pure code: no Qt, no
// I/O, no allocation.

#include "request.h"

#include <cstdint>

// CRC-16/MODBUS (reflected 0xA001, init 0xFFFF normally), two 16-entry tables.
uint16_t crc16(uint16_t initial, const uint8_t *bytes, int length);

// The RTU request frames, written into out (room for 256 bytes); return the frame length. A
// write's count above 123 is clamped so the frame always fits.
int buildReadFrameTo(uint8_t *out, uint8_t addr, uint8_t func, uint16_t start, uint16_t count);
int buildWriteFrameTo(uint8_t *out, uint8_t addr, const uint8_t *data, uint8_t func, uint16_t start,
                      uint16_t count);

// A run of bytes is a complete frame when it is longer than 3 bytes and ends with the CRC of
// the bytes before it (low byte first).
bool isFrameComplete(const uint8_t *bytes, int length);

// 0 when rx (length len, >= 4) comes from addr with function func and a correct CRC; -1
// otherwise.
int checkResponseFor(const uint8_t *rx, uint16_t len, uint8_t addr, uint8_t func);
