#pragma once
// A scripted port on a virtual clock: the peer's answer to each request is a list of pieces,
// each delivered a given time after the request has left the wire. Waits advance the clock to
// the next delivery or to their deadline at once, so a test of waits, retries and drains runs
// in microseconds of real time. What was written, and when, is kept in a log the test holds.

#include "linkport.h"

#include <QByteArray>
#include <QVector>

#include <functional>
#include <memory>

namespace fake {

struct Piece {
    int64_t afterUs = 0; // after the request has left the wire
    QByteArray bytes;
};
using Pieces = QVector<Piece>;

struct Written {
    int64_t atUs = 0;
    QByteArray bytes;
};

// Shared between the test and the port (which may live in a worker's thread; the test reads
// it only after that thread has ended).
struct Log {
    QVector<Written> writes;
    int opens = 0;
    int discards = 0;
};

class FakePort : public LinkPort {
public:
    // peer: the pieces that answer write number n (from 0) of bytes request.
    using Peer = std::function<Pieces(int n, const QByteArray &request)>;

    FakePort(Peer peer, std::shared_ptr<Log> log, int64_t byteUs = 0)
        : peer_(std::move(peer)), log_(std::move(log)), byteUs_(byteUs) {}

    int64_t lostAtUs = -1; // the device goes away at this time (-1: never)
    int failWrites = 0;    // the first n writes do not get out
    QString openFailure;   // open() fails with this reason when set

    bool open(QString *reason) override {
        if (!openFailure.isEmpty()) {
            *reason = openFailure;
            return false;
        }
        ++log_->opens;
        open_ = true;
        return true;
    }
    void close() override {
        open_ = false;
        lost_ = false;
        pending_.clear();
    }
    bool isOpen() const override { return open_; }
    bool write(const uint8_t *bytes, int length, int64_t) override {
        const QByteArray request(reinterpret_cast<const char *>(bytes), length);
        const int n = log_->writes.size();
        log_->writes.push_back({now_, request});
        if (n < failWrites)
            return false;
        const int64_t leftAt = now_ + byteUs_ * length;
        for (const Piece &p : peer_(n, request))
            pending_.push_back({leftAt + p.afterUs, p.bytes});
        return true;
    }
    int readAvailable(QByteArray &into) override {
        checkLost();
        int n = 0;
        for (int i = 0; i < pending_.size();) {
            if (pending_[i].afterUs <= now_) {
                into += pending_[i].bytes;
                n += pending_[i].bytes.size();
                pending_.remove(i);
            } else {
                ++i;
            }
        }
        return n;
    }
    bool waitForBytes(int64_t deadlineUs) override {
        int64_t next = deadlineUs;
        for (const Piece &p : pending_)
            next = std::min(next, p.afterUs);
        if (lostAtUs >= 0)
            next = std::min(next, std::max(now_, lostAtUs));
        now_ = std::max(now_, next);
        checkLost();
        if (lost_)
            return false;
        for (const Piece &p : pending_)
            if (p.afterUs <= now_)
                return true;
        return false;
    }
    void discardInput() override {
        ++log_->discards;
        for (int i = 0; i < pending_.size();)
            pending_[i].afterUs <= now_ ? pending_.remove(i) : void(++i);
    }
    void discardOutput() override {}
    bool lost() const override { return lost_; }
    QString errorText() const override { return lost_ ? QStringLiteral("device gone") : QString(); }
    QString description() const override { return QStringLiteral("fake port"); }
    int64_t nowUs() const override { return now_; }

    // Time passing outside the port's waits.
    void advance(int64_t us) { now_ += us; }

private:
    void checkLost() {
        if (lostAtUs >= 0 && now_ >= lostAtUs && open_)
            lost_ = true;
    }

    Peer peer_;
    std::shared_ptr<Log> log_;
    int64_t byteUs_;
    Pieces pending_; // afterUs holds the absolute delivery time here
    int64_t now_ = 1000000;
    bool open_ = false;
    bool lost_ = false;
};

} // namespace fake
