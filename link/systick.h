#pragma once
// The process-wide millisecond tick and the software timers measured on it. A software timer
// is a 32-bit tick stamp; elapsed time is the unsigned difference tick - stamp, so it stays
// right across the wrap of the tick.
//
// While the tick thread runs, the tick is read off the monotonic clock (milliseconds since the
// thread started, added to where the tick stood then): nothing has to wake up every millisecond
// to count, and a period of n ticks lasts n milliseconds. While it is stopped, the tick stands
// still at its last value, which tests may also set directly.

#include <QThread>

#include <atomic>
#include <cstdint>

// The tick while the clock is stopped (and where it resumes from).
extern std::atomic<uint32_t> tick;

uint32_t currentTick();

// Stores the current tick in *timer (ignored for nullptr).
void timerStart(uint32_t *timer);
// 0 when at least period ticks have passed since *timer, restarting the timer at the current
// tick; -1 otherwise and for nullptr.
int timerExpired(uint32_t *timer, uint32_t period);
// tick - *timer; 0 for nullptr.
uint32_t timerElapsed(const uint32_t *timer);

// Runs the tick's clock from its start to its stop; the thread itself only waits in its event
// loop. The thread stops and joins itself when the application is about to quit and when it is
// destroyed.
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
};

// The process's tick thread: one serves the whole process (a second window or session must not
// make the tick run twice as fast). Made on first use and never deleted, so nothing frees the
// thread's data while its last writes are still in flight; it stops itself when the
// application is about to quit.
SysTimerThread *processTick();
// Starts the process's tick thread unless it runs; stopProcessTick() joins it.
void startProcessTick();
void stopProcessTick();
