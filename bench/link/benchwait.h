#pragma once
// Waits for a condition in the link benchmarks, looking every pollMicros; false when timeoutMs
// passed first.

#include <QElapsedTimer>
#include <QThread>

#include <functional>

inline bool waitFor(const std::function<bool()> &done, int timeoutMs, int pollMicros = 2000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::usleep(static_cast<unsigned long>(pollMicros));
    }
    return true;
}
