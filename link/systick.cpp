#include "systick.h"

#include <QCoreApplication>
#include <QTimer>

std::atomic<uint32_t> tick{0};

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
    m_timer = new QTimer;
    connect(m_timer, &QTimer::timeout, this, &SysTimerThread::slotsys_timer, Qt::DirectConnection);
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->start(1);
    exec();
    m_timer->stop();
    delete m_timer;
    m_timer = nullptr;
}

void SysTimerThread::slotsys_timer() { tick.fetch_add(1, std::memory_order_relaxed); }
