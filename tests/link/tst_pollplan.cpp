// The poll plan on its own: which block each pass of each page's plan reads, the mode-entry
// periods and resets, and the fault-record walk. Expected sequences are written out by hand
// from the controller's block layout.

#include "busround.h"
#include "pollplan.h"
#include "registermirror.h"

#include <QStringList>
#include <QtTest>

namespace {

// One pass as text: "block/count", or "-" for a pass without a read.
QString pass(int mode) {
    pollPlan(mode);
    if (readPending.load() == 0)
        return QStringLiteral("-");
    return QStringLiteral("%1/%2").arg(startAddr.load()).arg(regCount.load());
}

QString passes(int mode, int n) {
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << pass(mode);
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestPollPlan : public QObject {
    Q_OBJECT
private slots:
    void init() {
        resetLinkState();
        resetPollPlan();
    }

    void cycle_data();
    void cycle();
    void everyReadUsesFunction4();
    void modeEntry_data();
    void modeEntry();
    void walkReadsRecords_data();
    void walkReadsRecords();
    void walkPausesOnOtherPage();
    void walkPastLastRecordBlockEnds();
    void unknownModeReadsNothing();
    void busOrder_data();
    void busOrder();
    void busBackOff();
};

void TestPollPlan::busOrder_data() {
    // Three controllers, positions 0..5 (controller * 2 + read); mask: the controllers backed
    // off now.
    QTest::addColumn<int>("cursor");
    QTest::addColumn<int>("backedOff");
    QTest::addColumn<int>("expected");
    QTest::newRow("from the start") << 0 << 0 << 0;
    QTest::newRow("the second controller's alarm words") << 3 << 0 << 3;
    QTest::newRow("round again after the last") << 6 << 0 << 0;
    QTest::newRow("a controller backed off is skipped") << 2 << 0b010 << 4;
    QTest::newRow("skipped at the wrap too") << 4 << 0b101 << 2;
    QTest::newRow("every controller backed off: none") << 0 << 0b111 << -1;
}

void TestPollPlan::busOrder() {
    QFETCH(int, cursor);
    QFETCH(int, backedOff);
    QFETCH(int, expected);
    const uint32_t now = 0xFFFFF000u; // the tick wraps during the back-off
    std::vector<BusController> controllers(3);
    for (int i = 0; i < 3; ++i)
        if (backedOff & (1 << i))
            noteBusOutcome(controllers[i], false, now - 100);
    QCOMPARE(nextBusPosition(controllers, cursor, now), expected);
}

void TestPollPlan::busBackOff() {
    // Silent once: asked again 5 s later; silent again: 30 s; an answer ends the back-off.
    BusController c;
    noteBusOutcome(c, false, 1000);
    QVERIFY(c.backedOff(5999) && !c.backedOff(6000));
    noteBusOutcome(c, false, 6000);
    QVERIFY(c.backedOff(35999) && !c.backedOff(36000));
    noteBusOutcome(c, false, 36000);
    QVERIFY(c.backedOff(65999) && !c.backedOff(66000));
    noteBusOutcome(c, true, 66000);
    QVERIFY(!c.backedOff(66001));
    QCOMPARE(c.noAnswer, quint64(3));
    QCOMPARE(c.answered, quint64(1));
}

void TestPollPlan::cycle_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expected");

    QTest::newRow("home reads block 2 every pass") << 0 << "2/100 2/100 2/100";
    QTest::newRow("data alternates 1 then 0") << 1 << "1/100 0/100 1/100 0/100 1/100";
    QTest::newRow("settings cycle of eight and round again")
        << 2 << "3/20 4/20 5/15 86/50 88/50 89/20 90/10 91/3 3/20 4/20";
    QTest::newRow("fault page without walk reads block 6") << 3 << "6/5 6/5 6/5";
    QTest::newRow("pack reads 7..21 then pauses once")
        << 4
        << "7/92 8/92 9/92 10/92 11/92 12/92 13/92 14/92 15/92 16/92 17/92 18/92 19/92 20/92 "
           "21/92 - 7/92 8/92";
}

void TestPollPlan::cycle() {
    QFETCH(int, mode);
    QFETCH(QString, expected);
    enterPollMode(mode);
    const int n = expected.split(QLatin1Char(' ')).size();
    QCOMPARE(passes(mode, n), expected);
}

void TestPollPlan::everyReadUsesFunction4() {
    for (int mode = 0; mode <= 4; ++mode) {
        enterPollMode(mode);
        for (int i = 0; i < 17; ++i) {
            funcCode.store(16);
            pollPlan(mode);
            QCOMPARE(int(funcCode.load()), 4);
        }
    }
}

void TestPollPlan::modeEntry_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("period");
    QTest::addColumn<QString>("afterReentry"); // the first passes after leaving and re-entering

    QTest::newRow("home 500 ms") << 0 << 500 << "2/100";
    QTest::newRow("data 500 ms, starts again with block 1") << 1 << 500 << "1/100 0/100";
    QTest::newRow("settings 500 ms, starts again at block 3") << 2 << 500 << "3/20 4/20";
    QTest::newRow("fault 500 ms") << 3 << 500 << "6/5";
    QTest::newRow("pack 200 ms, starts again at block 7") << 4 << 200 << "7/92 8/92";
}

void TestPollPlan::modeEntry() {
    QFETCH(int, mode);
    QFETCH(int, period);
    QFETCH(QString, afterReentry);

    pollPeriod.store(1000);
    enterPollMode(mode);
    QCOMPARE(int(pollPeriod.load()), period);
    passes(mode, 3); // move the position away from its start
    pollPeriod.store(1234);
    enterPollMode(mode);
    QCOMPARE(int(pollPeriod.load()), period);
    QCOMPARE(passes(mode, afterReentry.split(QLatin1Char(' ')).size()), afterReentry);
}

void TestPollPlan::walkReadsRecords_data() {
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("failing"); // record indexes whose first read fails
    QTest::addColumn<QString>("expected");

    QTest::newRow("one record reads 22 and 23 then ends") << 1 << ""
                                                          << "22/32 23/32 - 6/5 6/5";
    QTest::newRow("a failed record is asked for again") << 2 << "1"
                                                        << "22/32 23/32 23/32 24/32 - 6/5";
    QTest::newRow("63 records end at block 85") << 63 << ""
                                                << "";
}

void TestPollPlan::walkReadsRecords() {
    QFETCH(int, records);
    QFETCH(QString, failing);
    QFETCH(QString, expected);

    QList<int> failOnce;
    for (const QString &s : failing.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        failOnce << s.toInt();
    if (expected.isEmpty()) {
        QStringList rows;
        for (int k = 0; k <= records; ++k)
            rows << QStringLiteral("%1/32").arg(22 + k);
        rows << QStringLiteral("-") << QStringLiteral("6/5");
        expected = rows.join(QLatin1Char(' '));
    }

    enterPollMode(3);
    // The Fault page's reading command.
    faultCount.store(static_cast<uint8_t>(records));
    faultIndex.store(0);
    faultWalk.store(1);
    pollPeriod.store(300);

    QStringList seen;
    const int n = expected.split(QLatin1Char(' ')).size();
    for (int i = 0; i < n; ++i) {
        const bool walking = faultWalk.load() == 1;
        seen << pass(3);
        if (walking)
            QCOMPARE(int(pollPeriod.load()), faultWalk.load() ? 300 : 500);
        // What the read transaction does with a successful walk read.
        if (walking && readPending.load() == 1) {
            const int index = faultIndex.load();
            if (failOnce.contains(index))
                failOnce.removeAll(index);
            else
                faultIndex.fetch_add(1);
        }
    }
    QCOMPARE(seen.join(QLatin1Char(' ')), expected);
    QCOMPARE(int(faultWalk.load()), 0);
    QCOMPARE(int(pollPeriod.load()), 500);
}

void TestPollPlan::walkPausesOnOtherPage() {
    enterPollMode(3);
    faultCount.store(5);
    faultIndex.store(2);
    faultWalk.store(1);
    pollPeriod.store(300);

    enterPollMode(0);
    QCOMPARE(passes(0, 2), QStringLiteral("2/100 2/100"));
    QCOMPARE(int(faultWalk.load()), 1);
    QCOMPARE(int(faultIndex.load()), 2);

    enterPollMode(3); // back on the Fault page: the walk goes on where it stopped
    QCOMPARE(int(pollPeriod.load()), 500);
    QCOMPARE(pass(3), QStringLiteral("24/32"));
}

void TestPollPlan::walkPastLastRecordBlockEnds() {
    // A count beyond the 64 record blocks must not send the walk into blocks past 85.
    enterPollMode(3);
    faultCount.store(200);
    faultIndex.store(63);
    faultWalk.store(1);
    QCOMPARE(pass(3), QStringLiteral("85/32"));
    faultIndex.store(64);
    QCOMPARE(pass(3), QStringLiteral("-"));
    QCOMPARE(int(faultWalk.load()), 0);
    QCOMPARE(pass(3), QStringLiteral("6/5"));
}

void TestPollPlan::unknownModeReadsNothing() {
    pollPeriod.store(777);
    startAddr.store(24);
    enterPollMode(7);
    QCOMPARE(int(pollPeriod.load()), 777);
    QCOMPARE(pass(7), QStringLiteral("-"));
}

QTEST_APPLESS_MAIN(TestPollPlan)
#include "tst_pollplan.moc"
