#pragma once
// Splits the byte stream arriving at the controller into request frames. A frame ends when the
// bytes gathered so far form a complete request of a known function with a correct CRC, when
// a run of unknown function ends with its own CRC, or when the line stays quiet for the
// inter-frame gap (the run is then handed on as it is, to be logged and ignored). Garbage in
// front of a complete request is split off as a frame of its own.

#include <QByteArray>
#include <QList>

#include <chrono>
#include <cstdint>

class SimFramer {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kGapMs = 10;        // quiet time that ends an incomplete run
    static constexpr int kMaxRunBytes = 512; // a run this long without a frame is dropped

    // Adds bytes received at time now; returns the frames completed by them, in order.
    QList<QByteArray> feed(const uint8_t *bytes, int length, Clock::time_point now);
    // Returns the incomplete run as one frame once the gap has passed without new bytes.
    QList<QByteArray> expire(Clock::time_point now);

    bool hasBytes() const { return !run_.isEmpty(); }
    Clock::time_point gapDeadline() const { return last_ + std::chrono::milliseconds(kGapMs); }

    // Length of the request that starts at p (len bytes available): > 0 when known, 0 when
    // more bytes are needed to tell, -1 for a function whose length is not known.
    static int expectedLength(const uint8_t *p, int len);

private:
    void split(QList<QByteArray> &out);

    QByteArray run_;
    Clock::time_point last_{};
};
