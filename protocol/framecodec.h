#pragma once
// The CRC-16/MODBUS of RTU frames, the completion test for a run of received bytes and the
// response check (the request frames themselves are built by RtuFraming). Pure code: no Qt, no
// I/O, no allocation.

#include "request.h"

#include <cstdint>

// CRC-16/MODBUS (reflected 0xA001, init 0xFFFF normally), two 16-entry tables.
uint16_t crc16(uint16_t initial, const uint8_t *bytes, int length);

// A run of bytes is a complete frame when it is longer than 3 bytes and ends with the CRC of
// the bytes before it (low byte first).
bool isFrameComplete(const uint8_t *bytes, int length);
