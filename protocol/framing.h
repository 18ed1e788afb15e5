#pragma once
// How requests and answers travel on a line: a framing encodes a request into the frame that
// goes out, scans the bytes received since for that frame's answer and decodes the answer it
// found. The transaction engine goes only through this interface, so it assumes neither a CRC
// nor an address byte in front: RTU (address, PDU, CRC-16) is one framing; a network framing
// (a header with a transaction id, no CRC) is another. Pure code: no Qt, no I/O.

#include "receivescan.h"
#include "request.h"

class Framing {
public:
    virtual ~Framing() = default;

    // The frame that carries request. Called once per transaction: every attempt sends the
    // same frame (a framing that numbers its transactions numbers them here).
    virtual Frame encode(const Request &request) = 0;
    // Scans length bytes received since sent went out for its answer, as scanReceived does:
    // what may be skipped, whether the answer (or one from another address) is complete.
    // With lineQuiet, an incomplete run can no longer grow into the answer.
    virtual RxScan scan(const uint8_t *bytes, int length, const Request &request, const Frame &sent,
                        bool lineQuiet) const = 0;
    // The answer in a frame the scan found (state Answer or Foreign, length bytes).
    virtual Answer decode(const uint8_t *frame, int length) const = 0;
    // The longest frame an answer to request can be: bounds the wait for a whole answer.
    virtual int maxAnswerBytes(const Request &request) const = 0;
    // Bytes an attempt skipped that were an answer to sent damaged in transit (its check
    // failed), rather than noise.
    virtual bool damagedAnswer(const uint8_t *skipped, int length, const Frame &sent) const = 0;
};

// Modbus RTU: address, PDU, CRC-16/MODBUS low byte first; an adapter's echo of the request is
// skipped.
class RtuFraming : public Framing {
public:
    Frame encode(const Request &request) override;
    RxScan scan(const uint8_t *bytes, int length, const Request &request, const Frame &sent,
                bool lineQuiet) const override;
    Answer decode(const uint8_t *frame, int length) const override;
    int maxAnswerBytes(const Request &request) const override;
    bool damagedAnswer(const uint8_t *skipped, int length, const Frame &sent) const override;
};
