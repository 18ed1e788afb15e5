#pragma once
// Modbus TCP framing (the MBAP header) over the link's RTU frames. The link builds and checks
// RTU frames (address, PDU, CRC) whatever the transport; over Modbus TCP a request leaves as
// transaction identifier, protocol 0, length, unit identifier (= the device address) and the
// PDU, and an answer comes back under the same transaction identifier. The answer is handed
// back in RTU form, its CRC worked out here, so the receive scan, the response check and the
// landing stay the ones of the serial line. Pure: no Qt objects, no I/O.

#include <QByteArray>

#include <cstdint>

constexpr int kMbapHeaderBytes = 7; // transaction (2), protocol (2), length (2), unit (1)
constexpr int kMbapMaxLength = 254; // the length field: unit identifier and the largest PDU

class MbapFraming {
public:
    // The ADU for an RTU request of length bytes (CRC included, which Modbus TCP leaves off),
    // under the next transaction identifier. Empty for a frame shorter than 4 bytes.
    QByteArray encode(const uint8_t *rtu, int length);
    uint16_t transactionId() const { return tid_; }

    enum class Take {
        Waiting, // no complete ADU yet
        Answer,  // *rtu holds the answer to the last request, in RTU form
        Stale,   // an ADU of an earlier transaction was dropped (an answer that came late)
        Broken,  // the bytes are no Modbus TCP: the stream cannot be followed any more
    };
    // Takes the first complete ADU out of the front of received.
    Take take(QByteArray &received, QByteArray *rtu) const;

private:
    uint16_t tid_ = 0;
};
