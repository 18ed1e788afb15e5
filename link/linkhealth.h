#pragma once
// The link's health as the operator sees it: a pure function of the previous health, what just
// happened and the tick. The worker publishes healthText() as the shared status text and
// state as linkHealthState; the window maps the state to its colour.

#include <QByteArray>

#include <array>
#include <cstdint>

struct LinkHealth {
    enum State : uint8_t {
        Idle,
        Refreshing,        // "Refreshing Data"
        NoAnswer,          // "No answer": kNoAnswerTransactions in a row without one
        OpenFailed,        // "Serial open failed" (the reason goes to the link problem text)
        Disconnected,      // the link was stopped
        SettingSuccessful, // held for kHoldTicks after a confirmed write
        SettingFailed,     // "Setting failed: <detail>", held
        ListFailed,        // "Setting failed: n of m writes", held
    };
    // What the failed transactions got back, for the likely cause the operator is told.
    enum Cause : uint8_t {
        Silence,     // nothing valid
        BadCrc,      // answers damaged in transit
        WrongUnit,   // frames from another address or unit
        WrongAnswer, // frames that did not match the request
        Closed,      // the connection was cut during the transaction
    };
    static constexpr uint32_t kHoldTicks = 1500;
    static constexpr uint32_t kNoAnswerTransactions = 3;
    static constexpr uint32_t kCloseWindowTicks = 60000;
    static constexpr int kClosesKept = 32;
    // A line that fails most of the last kRecentTransactions is failing, streak or not.
    static constexpr int kRecentTransactions = 10;

    State state = Idle;
    QByteArray detail;           // SettingFailed: why; ListFailed: "n of m"
    bool held = false;           // a write's result stands against "Refreshing Data"
    uint32_t heldSince = 0;      // tick the hold began
    uint32_t noAnswerStreak = 0; // transactions in a row without any answer
    Cause cause = Silence;       // of the failures in the streak: BadCrc only if all were
    std::array<uint32_t, kClosesKept> closedAt{}; // ticks of the latest cut connections
    uint32_t closes = 0;                          // cut connections since the link started
    uint32_t recentFailed = 0; // the latest counted transactions, newest in bit 0: 1 failed
    int recentCount = 0;       // how many of them there are (up to kRecentTransactions)

    // kNoAnswerTransactions in a row without an answer, or most of the latest ones.
    bool failing() const;
    int recentAnswered() const; // of the latest kRecentTransactions (all of them seen)
};

struct HealthEvent {
    enum Kind : uint8_t {
        Opened,      // the port opened
        OpenFailed,  // it did not
        Stopped,     // the link ended
        ReadStarts,  // a read is about to go out
        Transaction, // a transaction ended: answered says whether any frame came back;
                     // counted is false when it was cut short (stopped, port lost)
        WriteDone,   // a write ended: ok, detail = why not; inList: part of a list run
        ListDone,    // a list run ended with failures of writes
        Tick,        // time passed (a loop step)
    };
    Kind kind = Tick;
    bool answered = false;
    bool counted = true;
    LinkHealth::Cause cause = LinkHealth::Silence; // Transaction: what came back instead
    bool ok = false;
    bool inList = false;
    int failures = 0;
    int writes = 0;
    QByteArray detail;
};

LinkHealth nextHealth(const LinkHealth &previous, const HealthEvent &event, uint32_t now);
// The status text: "Idle", "Refreshing Data", "No answer", "Serial open failed",
// "Disconnected", "Setting Successful", "Setting failed: ...".
QByteArray healthText(const LinkHealth &health);
// The likely cause of a failing link in plain words, and the connections cut in the last
// minute; empty while all is well.
QByteArray healthHint(const LinkHealth &health, uint32_t now);
