#pragma once
// The serial line between the host and the simulated controller: the wire time of every byte
// in both directions, the echo of the host's adapter, the glitch of each bus turnaround,
// collisions on a shared RS-485 pair and the bursts in which a USB adapter hands bytes on.
// Pure: bytes and times in, bytes and times out; the transport owns the clock and the I/O.
//
// Towards the controller, the host's bytes wait until their last bit has arrived and are then
// taken for the framer. A controller set to one baud rate cannot read a host that talks at
// another: its receiver sees framing errors and garbage, which it never answers. Towards the
// host, answer, echo, glitch and noise bytes wait, in time order, until they are due. With
// every part off, the host's bytes arrive when they are read and an answer leaves whole when
// it is due, as on an instant line.

#include "simfaults.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <deque>
#include <random>

class SimLine {
public:
    using Clock = std::chrono::steady_clock;

    // The parts of SimFaults that belong to the line.
    struct Settings {
        int paceBaud = 0;        // 1200 or more: a slower character outlasts the framer's gap
        bool halfDuplex = false; // only meaningful when paced: unpaced bytes take no wire time
        bool echo = false;
        bool glitch = false;
        int burstMs = 0;
        int controllerBaud = 0; // the rate the controller's receiver is set to; 0: any rate
    };
    static Settings settingsOf(const SimFaults &faults);

    // Bursts towards the host fall on multiples of burstMs counted from origin.
    explicit SimLine(Clock::time_point origin = Clock::time_point{});

    void setSettings(const Settings &settings) { settings_ = settings; }
    // One character (start bit, 8 data bits, stop bit) at the paced rate; zero when not paced.
    Clock::duration charTime() const;
    // Everything on the line is gone (a line that was hung up or stopped).
    void clear();

    // Bytes the host sent, read from its end at readAt, with its port set to hostBaud (0 when
    // not known). Each arrives at the controller one character time after the line towards it
    // is free; at a rate other than the controller's, it arrives garbled, with a framing error.
    void hostSent(const char *bytes, int length, Clock::time_point readAt, int hostBaud = 0);
    // The next bytes that have arrived at the controller by now, all of one arrival time and
    // alike in their framing, and that time; false when nothing more has arrived. *framingError
    // (when given) tells that they came at a rate the controller is not set to.
    bool takeArrived(Clock::time_point now, QByteArray *bytes, Clock::time_point *at,
                     bool *framingError = nullptr);

    // An answer the controller starts sending at from, or when it has finished the answer
    // before; in pieces (> 1) with gapMs of silence between them.
    void sendAnswer(const QByteArray &answer, Clock::time_point from, int pieces = 1,
                    int gapMs = 0);
    // Random bytes that appear on the line at now, whoever sends them.
    void sendNoise(const QByteArray &bytes, Clock::time_point now);

    struct Delivery {
        QByteArray bytes;    // due at the host by now, in order
        int answersDone = 0; // answers whose last byte is among them
    };
    Delivery takeForHost(Clock::time_point now);
    // An answer (or part of one) is still waiting to reach the host.
    bool answerQueued() const;

    // When the next byte arrives at the controller or is due at the host; Clock::time_point::max()
    // when the line is idle.
    Clock::time_point nextDue() const;

private:
    struct Arriving {
        Clock::time_point at; // its last bit has reached the controller
        char byte;
        uint64_t seq; // the host's byte count, to find its echo
        bool framingError;
    };
    struct ToHost {
        Clock::time_point due; // its last bit has reached the host's adapter
        char byte;
        int tx;          // the controller's transmission it belongs to, 0 for echo and noise
        uint64_t echoOf; // the host byte it echoes, 0 for anything else
        bool endsAnswer;
        bool garbled;
    };
    // The controller's driver is on over [start, end].
    struct Transmission {
        int id;
        Clock::time_point start, end;
    };

    char randomByte();
    char garble(char byte);
    void queueForHost(const ToHost &b);
    void garbleAnswerFrom(int tx, Clock::time_point from);
    void garbleEchoOf(uint64_t seq);
    Clock::time_point deliveryTime(Clock::time_point due) const;

    Settings settings_;
    Clock::time_point origin_;
    Clock::time_point towardsControllerFree_{}; // the host's last byte has arrived
    Clock::time_point transmitterFree_{};       // the controller's last byte has left
    std::deque<Arriving> arriving_;             // by arrival time
    std::deque<ToHost> toHost_;                 // by due time; equal times in order of queueing
    std::deque<Transmission> transmissions_;    // half-duplex only: the ones not yet over
    uint64_t hostBytes_ = 0;
    int lastTx_ = 0;
    std::mt19937 rng_{11u};
};
