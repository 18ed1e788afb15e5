#pragma once
// The process-wide millisecond tick and the software timers measured on it. A software timer
// is a 32-bit tick stamp; elapsed time is the unsigned difference tick - stamp, so it stays
// right across the wrap of the tick.

#include <QThread>

#include <atomic>
#include <cstdint>

class QTimer;

extern std::atomic<uint32_t> tick;

inline uint32_t currentTick() { return tick.load(std::memory_order_relaxed); }

// Stores the current tick in *timer (ignored for nullptr).
void timerStart(uint32_t *timer);
// 0 when at least period ticks have passed since *timer, restarting the timer at the current
// tick; -1 otherwise and for nullptr.
int timerExpired(uint32_t *timer, uint32_t period);
// tick - *timer; 0 for nullptr.
uint32_t timerElapsed(const uint32_t *timer);

// Advances tick from a 1 ms QTimer that runs in this thread (direct connection), so the tick
// never waits for the GUI thread's event loop. The thread stops and joins itself when the
// application is about to quit and when it is destroyed.
class SysTimerThread : public QThread
{
    Q_OBJECT
public:
    explicit SysTimerThread(QObject *parent = nullptr);
    ~SysTimerThread() override;

    // Asks the event loop to quit and waits for the thread.
    void stop();

protected:
    void run() override;

private slots:
    void slotsys_timer();

private:
    QTimer *m_timer = nullptr;
};
