#include "systick.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>

std::atomic<uint32_t> tick{0};

namespace {

using Clock = std::chrono::steady_clock;

// The clock's reading, in nanoseconds since its epoch, when the tick stood at `tick`; 0 while
// the clock is stopped.
std::atomic<int64_t> clockBaseNs{0};

int64_t clockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               Clock::now().time_since_epoch())
        .count();
}

} // namespace

uint32_t currentTick()
{
    const int64_t base = clockBaseNs.load(std::memory_order_acquire);
    const uint32_t at = tick.load(std::memory_order_relaxed);
    if (base == 0)
        return at;
    return at + static_cast<uint32_t>((clockNs() - base) / 1000000);
}

void timerStart(uint32_t *timer)
{
    if (timer)
        *timer = currentTick();
}

int timerExpired(uint32_t *timer, uint32_t period)
{
    if (!timer)
        return -1;
    const uint32_t now = currentTick();
    if (static_cast<uint32_t>(now - *timer) >= period) {
        *timer = now;
        return 0;
    }
    return -1;
}

uint32_t timerElapsed(const uint32_t *timer)
{
    if (!timer)
        return 0;
    return static_cast<uint32_t>(currentTick() - *timer);
}

SysTimerThread::SysTimerThread(QObject *parent) : QThread(parent)
{
    // The window keeps no pointer to the tick thread; it is stopped here, before the
    // application object goes away, so the process never ends with the thread running.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &SysTimerThread::stop);
}

SysTimerThread::~SysTimerThread() { stop(); }

void SysTimerThread::stop()
{
    if (isRunning()) {
        quit();
        wait();
    }
}

void SysTimerThread::run()
{
    clockBaseNs.store(std::max<int64_t>(1, clockNs()), std::memory_order_release);
    exec();
    // The tick stands still where the clock left it. The value first, then the clock off: a
    // reader in between may see the tick ahead by the clock's run, never behind.
    tick.store(currentTick(), std::memory_order_relaxed);
    clockBaseNs.store(0, std::memory_order_release);
}

namespace {
SysTimerThread *g_processTick = nullptr;
} // namespace

SysTimerThread *processTick()
{
    if (!g_processTick)
        g_processTick = new SysTimerThread(nullptr);
    return g_processTick;
}

void startProcessTick()
{
    if (!processTick()->isRunning())
        processTick()->start();
}

void stopProcessTick()
{
    if (g_processTick)
        g_processTick->stop();
}
