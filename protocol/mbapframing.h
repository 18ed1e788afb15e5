#pragma once
// Modbus TCP framing: a request leaves as transaction identifier, protocol 0, length, unit
// identifier (= the device address) and the PDU, with no CRC; its answer comes back under the
// same transaction identifier. An answer under another identifier is a late one to an earlier
// request and is skipped, so no late answer can land in the wrong cells. Pure code: no Qt, no
// I/O.

#include "framing.h"

constexpr int kMbapHeaderBytes = 7; // transaction (2), protocol (2), length (2), unit (1)
constexpr int kMbapMaxLength = 254; // the length field: unit identifier and the largest PDU

class MbapFraming : public Framing {
public:
    // Numbers each request with the next transaction identifier.
    Frame encode(const Request &request) override;
    // Skips whole answers of other transactions; bytes that are no Modbus TCP header are all
    // skipped (the stream is out of step; the next request starts it afresh).
    RxScan scan(const uint8_t *bytes, int length, const Request &request, const Frame &sent,
                bool lineQuiet) const override;
    Answer decode(const uint8_t *frame, int length) const override;
    int maxAnswerBytes(const Request &request) const override;
    // No CRC: an answer is never damaged in transit, only missing.
    bool damagedAnswer(const uint8_t *, int, const Frame &) const override { return false; }

    uint16_t transactionId() const { return tid_; }

private:
    uint16_t tid_ = 0;
};
