#include "systick.h"

#include <QElapsedTimer>
#include <QtTest>

class tst_Timers : public QObject
{
    Q_OBJECT
private slots:
    void elapsedAcrossWrap()
    {
        tick = 0xFFFFFFFFu - 295; // 296 ticks before the wrap
        uint32_t t = 0;
        timerStart(&t);
        tick = 200;
        QCOMPARE(timerElapsed(&t), 496u);
    }

    void expiresOncePerPeriod()
    {
        tick = 1000;
        uint32_t t = 0;
        timerStart(&t);
        QList<uint32_t> expiries;
        for (uint32_t i = 1; i <= 1600; ++i) {
            tick = 1000 + i;
            if (timerExpired(&t, 500) == 0) {
                expiries << currentTick();
                QCOMPARE(t, currentTick()); // restarted at the tick of the expiry
            }
        }
        QCOMPARE(expiries, (QList<uint32_t>{1500, 2000, 2500}));
    }

    void expiryAcrossWrap()
    {
        tick = 0xFFFFFF00u;
        uint32_t t = 0;
        timerStart(&t);
        tick = 0xFFFFFF00u + 499;
        QCOMPARE(timerExpired(&t, 500), -1);
        tick = 0xFFFFFF00u + 500; // wrapped to 0xF4
        QCOMPARE(timerExpired(&t, 500), 0);
        QCOMPARE(t, 0xF4u);
    }

    void neverStartedTimerExpiresOnceTickReachesPeriod()
    {
        uint32_t t = 0;
        tick = 999;
        QCOMPARE(timerExpired(&t, 1000), -1);
        tick = 1000;
        QCOMPARE(timerExpired(&t, 1000), 0);
    }

    void nullTimers()
    {
        tick = 5000;
        timerStart(nullptr);
        QCOMPARE(timerExpired(nullptr, 0), -1);
        QCOMPARE(timerElapsed(nullptr), 0u);
    }

    void tickThreadAdvancesAndStops()
    {
        tick = 0;
        SysTimerThread thread;
        thread.start();
        // A millisecond per tick, read off the clock.
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(currentTick() >= 50, 5000);
        QTest::qWait(200);
        const uint32_t ticks = currentTick();
        QVERIFY2(ticks <= uint32_t(clock.elapsed()) + 1 && ticks >= uint32_t(clock.elapsed()) / 2,
                 qPrintable(QStringLiteral("%1 ticks in %2 ms").arg(ticks).arg(clock.elapsed())));
        thread.stop();
        QVERIFY(thread.isFinished());
        const uint32_t stopped = currentTick();
        QTest::qWait(20);
        QCOMPARE(currentTick(), stopped);
        // Started again, it goes on from there.
        thread.start();
        QTRY_VERIFY_WITH_TIMEOUT(currentTick() >= stopped + 10, 2000);
        thread.stop();
    }
};

QTEST_GUILESS_MAIN(tst_Timers)
#include "tst_timers.moc"
