#pragma once
// Shared pieces of the link tests: a real link worker talking over a pseudo-terminal to the
// simulated controller, the tick thread it needs, a reference CRC and frame builders worked
// out independently of the link's own codec, and a capture of the link's log lines.

#include "battertstackthread.h"
#include "pollplan.h"
#include "ptysimulator.h"
#include "referencecrc.h"
#include "registermirror.h"
#include "serialline.h"
#include "serialsettings.h"
#include "systick.h"

#include <QStringList>
#include <QtTest>

#include <memory>
#include <mutex>

namespace linktest {

inline QByteArray withCrc(QByteArray bytes) {
    const uint16_t crc = referenceCrc(bytes);
    bytes.append(static_cast<char>(crc & 0xFF));
    bytes.append(static_cast<char>(crc >> 8));
    return bytes;
}

inline QByteArray readRequest(int addr, int block, int count) {
    QByteArray b;
    b.append(char(addr)).append(char(4));
    b.append(char(block >> 8)).append(char(block & 0xFF));
    b.append(char(count >> 8)).append(char(count & 0xFF));
    return withCrc(b);
}

inline QByteArray writeRequest(int addr, int reg, const QList<uint16_t> &values) {
    QByteArray b;
    b.append(char(addr)).append(char(16));
    b.append(char(reg >> 8)).append(char(reg & 0xFF));
    b.append(char(values.size() >> 8)).append(char(values.size() & 0xFF));
    b.append(char(2 * values.size()));
    for (uint16_t v : values)
        b.append(char(v >> 8)).append(char(v & 0xFF));
    return withCrc(b);
}

// Requests of one function code as the simulator received them.
inline QList<SimRequest> requestsOf(const PtySimulator &sim, int function) {
    QList<SimRequest> out;
    for (const SimRequest &r : sim.requests())
        if (r.frame.size() >= 2 && static_cast<uint8_t>(r.frame.at(1)) == function)
            out << r;
    return out;
}

// Block numbers of the read requests, as "2 2 2".
inline QString readBlocks(const QList<SimRequest> &reads) {
    QStringList out;
    for (const SimRequest &r : reads)
        out << QString::number((static_cast<uint8_t>(r.frame.at(2)) << 8) |
                               static_cast<uint8_t>(r.frame.at(3)));
    return out.join(QLatin1Char(' '));
}

// A write-list entry for register reg carrying values, each high byte first.
inline WriteListEntry entry(uint16_t reg, const QList<uint16_t> &values) {
    WriteListEntry e;
    e.reg = reg;
    e.count = static_cast<uint8_t>(values.size());
    for (int i = 0; i < values.size(); ++i) {
        e.data[2 * i] = static_cast<uint8_t>(values.at(i) >> 8);
        e.data[2 * i + 1] = static_cast<uint8_t>(values.at(i) & 0xFF);
    }
    return e;
}

// Time between consecutive requests as the simulator received them, in ms.
inline QList<qint64> intervals(const QList<SimRequest> &reqs) {
    QList<qint64> out;
    for (int i = 1; i < reqs.size(); ++i)
        out << reqs.at(i).msSinceStart - reqs.at(i - 1).msSinceStart;
    return out;
}

inline qint64 meanGap(const QList<qint64> &gaps) {
    if (gaps.isEmpty())
        return 0;
    qint64 sum = 0;
    for (qint64 g : gaps)
        sum += g;
    return sum / gaps.size();
}

// "22 23 23 24" -> "22 23 24": a block asked for again right after itself counts once.
inline QString withoutRepeats(const QString &blocks) {
    QStringList out;
    for (const QString &b : blocks.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (out.isEmpty() || out.last() != b)
            out << b;
    return out.join(QLatin1Char(' '));
}

inline QString statusText() {
    char text[kStatusTextSize];
    readStatusText(text);
    return QString::fromLatin1(text);
}

// Log lines of the link categories, gathered from every thread.
class LogCapture {
public:
    LogCapture() {
        instance() = this;
        previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture() {
        qInstallMessageHandler(previous);
        instance() = nullptr;
    }
    // A list of its own for the caller: the captured list's storage is never shared with
    // another thread (its reference count lives in the uninstrumented Qt library).
    QStringList lines() const {
        std::lock_guard<std::mutex> lock(mutex);
        QStringList out;
        out.reserve(captured.size());
        for (const QString &line : captured)
            out << line;
        return out;
    }
    int count(const QString &prefix) const {
        int n = 0;
        for (const QString &line : lines())
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

private:
    static LogCapture *&instance() {
        static LogCapture *current = nullptr;
        return current;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg) {
        LogCapture *self = instance();
        if (self && context.category && QByteArray(context.category).startsWith("vaduz.link")) {
            std::lock_guard<std::mutex> lock(self->mutex);
            self->captured << msg;
        }
        if (self && self->previous)
            self->previous(type, context, msg);
    }

    mutable std::mutex mutex; // a std::mutex, so that ThreadSanitizer sees the hand-over
    QStringList captured;
    QtMessageHandler previous = nullptr;
};

// A worker, a simulator and the tick, set up fresh for every test function.
class LinkRig {
public:
    // The tick thread runs from the first test function to cleanupTestCase().
    static void startTick() {
        if (!tickThread())
            tickThread() = new SysTimerThread;
        if (!tickThread()->isRunning())
            tickThread()->start();
    }
    // Stops and joins the tick thread but keeps the object, as the program does: freeing a
    // finished QThread right after its join shows up in ThreadSanitizer as a race, because the
    // join happens inside the uninstrumented Qt library.
    static void stopTick() {
        if (tickThread())
            tickThread()->stop();
    }

    bool setUp() {
        startTick();
        resetLinkState();
        resetPollPlan();
        clearMirror();
        deviceAddr.store(1);
        sim = std::make_unique<PtySimulator>();
        if (!sim->start())
            return false;
        sim->setFrozen(true);
        useSimulator(*sim);
        worker = std::make_unique<Battert_Stack_Thread>();
        return true;
    }

    static void useSimulator(const PtySimulator &s) { usePort(s.slavePath()); }

    static void usePort(const QString &portPath) { useSerialLine(portPath); }

    void connectOn(int mode) {
        pollMode.store(mode);
        worker->startLink(linkSetupFromSettings);
    }

    void tearDown() {
        if (worker)
            worker->stopLink();
        worker.reset();
        sim.reset();
    }

    // Distinct values for every register of block, and a sentinel in the mirror cells.
    void markBlock(int block) {
        for (int i = 0; i < kBlockSize; ++i) {
            sim->setReg(block, i, static_cast<int16_t>((block << 8) | i));
            setMirrorCell(block * kBlockSize + i, -1);
        }
    }

    // Number of leading cells of block holding the simulator's values; every cell after them
    // must still hold the sentinel, else -1.
    int landedCells(int block) const {
        int n = 0;
        while (n < kBlockSize && mirrorCell(block, n) == static_cast<int16_t>((block << 8) | n))
            ++n;
        for (int i = n; i < kBlockSize; ++i)
            if (mirrorCell(block, i) != -1)
                return -1;
        return n;
    }

    std::unique_ptr<PtySimulator> sim;
    std::unique_ptr<Battert_Stack_Thread> worker;

private:
    // Lives to the end of the process, never freed (see stopTick).
    static SysTimerThread *&tickThread() {
        static SysTimerThread *thread = nullptr;
        return thread;
    }
};

} // namespace linktest
