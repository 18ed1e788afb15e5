#pragma once
// The byte layout of the controller protocol: read requests (function 4, the address field is a
// block number), write-multiple requests (function 16, the address field is a register number),
// the completion test for a run of received bytes and the response check. Pure code: no Qt, no
// I/O, no allocation.

#include <cstdint>

constexpr int kFrameBufSize = 256;
constexpr int kMaxWriteRegs = 123;

// Frame buffers of the transaction in progress (used only by the link worker).
extern uint8_t txBuf[kFrameBufSize];
extern uint8_t txLen;
extern uint8_t rxBuf[kFrameBufSize];
extern uint16_t rxLen;

// CRC-16/MODBUS (reflected 0xA001, init 0xFFFF normally), two 16-entry tables.
uint16_t crc16(uint16_t initial, const uint8_t *bytes, int length);

// Builds the 8-byte read request into txBuf for deviceAddr; txLen = 8.
void buildReadFrame(uint8_t func, uint16_t start, uint16_t count);
// Builds the write-multiple request for count registers (1..123) with 2*count bytes from data
// into txBuf for deviceAddr; txLen = 2*count + 9. A count above 123 is clamped so the frame
// always fits txBuf.
void buildWriteFrame(const uint8_t *data, uint8_t func, uint16_t start, uint16_t count);

// Same builders with an explicit address, writing into out (room for 256 bytes); return the
// frame length. Used by the builders above and by tools that speak for another address.
int buildReadFrameTo(uint8_t *out, uint8_t addr, uint8_t func, uint16_t start, uint16_t count);
int buildWriteFrameTo(uint8_t *out, uint8_t addr, const uint8_t *data, uint8_t func,
                      uint16_t start, uint16_t count);

// A run of bytes is a complete frame when it is longer than 3 bytes and ends with the CRC of
// the bytes before it (low byte first).
bool isFrameComplete(const uint8_t *bytes, int length);

// 0 when rx (length len, >= 4) comes from deviceAddr with function funcCode and a correct CRC;
// -1 otherwise.
int checkResponse(const uint8_t *rx, uint16_t len);
// The same check against an explicit address and function code.
int checkResponseFor(const uint8_t *rx, uint16_t len, uint8_t addr, uint8_t func);

// Lands a checked read response of rxLen bytes in rx into the mirror: the registers it carries
// (never more than count) go to block's cells from 0 on; cells past a short answer keep their
// values. Returns the number of registers landed.
int landReadResponse(uint16_t block, int count, const uint8_t *rx, uint16_t rxLen);

// Zero-fills txBuf and rxBuf and sets both lengths to 0.
void resetFrameBuffers();
