// The simulated controller's request handler, framer and line model, without any I/O: answers
// compared byte for byte with frames worked out by hand (CRCs from the plain bitwise
// algorithm), the parameter read-back map, the clock, the live model's ranges, random input,
// and the line's byte times and collisions on a virtual clock.

#include "referencecrc.h"
#include "simcontroller.h"
#include "simframer.h"
#include "simline.h"

#include <QDateTime>
#include <QtTest>

#include <random>
#include <set>

namespace {


QByteArray withCrc(QByteArray body) {
    const uint16_t crc = referenceCrc(body);
    body.append(static_cast<char>(crc & 0xFF));
    body.append(static_cast<char>(crc >> 8));
    return body;
}

QByteArray hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text));
}

bool crcValid(const QByteArray &frame) {
    if (frame.size() < 4)
        return false;
    const uint16_t crc = referenceCrc(frame.left(frame.size() - 2));
    return static_cast<uint8_t>(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           static_cast<uint8_t>(frame.at(frame.size() - 1)) == (crc >> 8);
}

QVector<int16_t> snapshot(const SimController &c) {
    QVector<int16_t> cells;
    for (int b = 0; b < SimController::kBlocks; ++b)
        for (int r = 0; r < SimController::kBlockRegs; ++r)
            cells.append(c.reg(b, r));
    return cells;
}

// A frozen controller with a few hand-set cells.
void prepare(SimController &c) {
    c.setFrozen(true);
    c.setReg(91, 0, 3400); // 0x0D48
    c.setReg(91, 1, 30);   // 0x001E
    c.setReg(91, 2, -2);   // 0xFFFE
    c.setReg(0, 0, 4);
    c.setReg(5, 99, 0x1234);
}

// A line driven on a virtual clock: the host's writes are read at their times (ns after the
// line's origin), and the controller answers the first request as soon as its 8 bytes have
// arrived. Writes are read before anything else due at the same time, as the simulator does.
struct LineTrace {
    QByteArray atController; // every byte that reached the controller, in order
    QByteArray atHost;       // every byte that reached the host, in order
    QList<double> hostUs;    // when each of them reached it
};

LineTrace driveLine(SimLine &line, SimLine::Clock::time_point origin,
                    QList<QPair<qint64, QByteArray>> writes, const QByteArray &answer) {
    using namespace std::chrono;
    LineTrace trace;
    bool answered = false;
    for (;;) {
        auto t = line.nextDue();
        if (!writes.isEmpty())
            t = std::min(t, origin + nanoseconds(writes.first().first));
        if (t == SimLine::Clock::time_point::max())
            return trace;
        while (!writes.isEmpty() && origin + nanoseconds(writes.first().first) <= t) {
            const QByteArray bytes = writes.takeFirst().second;
            line.hostSent(bytes.constData(), bytes.size(), t);
        }
        QByteArray bytes;
        SimLine::Clock::time_point at;
        while (line.takeArrived(t, &bytes, &at)) {
            trace.atController += bytes;
            if (!answered && trace.atController.size() >= 8) {
                line.sendAnswer(answer, at);
                answered = true;
            }
        }
        const QByteArray out = line.takeForHost(t).bytes;
        trace.atHost += out;
        for (int i = 0; i < out.size(); ++i)
            trace.hostUs.append(duration<double, std::micro>(t - origin).count());
    }
}

} // namespace

class TestSimController : public QObject {
    Q_OBJECT

private slots:
    void knownFrames_data();
    void knownFrames();
    void respond_data();
    void respond();
    void writeReadBack_data();
    void writeReadBack();
    void multiRegisterWrite();
    void unmappedRegisterKeepsCells();
    void clockWrite_data();
    void clockWrite();
    void commands();
    void answerFaults_data();
    void answerFaults();
    void answerAll_data();
    void answerAll();
    void liveModelStaysPlausible();
    void frozenAndReset();
    void faultRecordsHaveValidDates();
    void randomInputIsSafe();
    void framer_data();
    void framer();
    void framerGap();
    void lineTiming_data();
    void lineTiming();
    void lineCollision_data();
    void lineCollision();
};

// Frames whose every byte was worked out by hand or is a well-known Modbus example.
void TestSimController::knownFrames_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    // Block 91, three registers: 3400, 30, -2.
    QTest::newRow("read block 91 x3")
        << hex("0104005B0003C1D8") << withCrc(hex("0104060D48001EFFFE"));
    QTest::newRow("exception illegal address (block 92)")
        << withCrc(hex("0104005C0001")) << hex("018402C2C1");
    // The write of 100 into register 5 (the codec's own example) and its echo.
    QTest::newRow("write echo register 5")
        << hex("011000050001020064A7EE") << withCrc(hex("011000050001"));
}

void TestSimController::knownFrames() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    SimController c;
    prepare(c);
    QCOMPARE(c.respond(request).toHex(' '), answer.toHex(' '));
}

void TestSimController::respond_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("silentOnBad");
    QTest::addColumn<QByteArray>("answer"); // empty: silence

    QTest::newRow("read one register of block 0")
        << withCrc(hex("010400000001")) << false << withCrc(hex("0104020004"));
    QTest::newRow("read last register via 100 of block 5 ends in 0x1234")
        << withCrc(hex("010400050064")) << false << QByteArray("len:205");
    QTest::newRow("count 101 is out of range")
        << withCrc(hex("010400020065")) << false << withCrc(hex("018402"));
    QTest::newRow("count 0 is an illegal value")
        << withCrc(hex("010400020000")) << false << withCrc(hex("018403"));
    QTest::newRow("count 126 is an illegal value")
        << withCrc(hex("01040002007E")) << false << withCrc(hex("018403"));
    QTest::newRow("block 0xFFFF out of range")
        << withCrc(hex("0104FFFF0001")) << false << withCrc(hex("018402"));
    QTest::newRow("out of range, silent mode")
        << withCrc(hex("0104005C0001")) << true << QByteArray();
    QTest::newRow("unknown function 3 -> illegal function")
        << withCrc(hex("010300000001")) << false << withCrc(hex("018301"));
    QTest::newRow("unknown function, silent mode")
        << withCrc(hex("010300000001")) << true << QByteArray();
    QTest::newRow("read request with an extra byte")
        << withCrc(hex("01040002000100")) << false << withCrc(hex("018403"));
    QTest::newRow("another address") << withCrc(hex("020400020001")) << false << QByteArray();
    QTest::newRow("bad crc") << hex("0104000200015021") << false << QByteArray();
    QTest::newRow("three bytes") << hex("010400") << false << QByteArray();
    QTest::newRow("empty") << QByteArray() << false << QByteArray();
    QTest::newRow("write byte count disagrees with count")
        << withCrc(hex("01100018000104000100")) << false << withCrc(hex("019003"));
    QTest::newRow("write frame longer than its byte count")
        << withCrc(hex("0110001800010200010000")) << false << withCrc(hex("019003"));
    QTest::newRow("write of 0 registers")
        << withCrc(hex("01100018000000")) << false << withCrc(hex("019003"));
    QTest::newRow("write past register 255")
        << withCrc(hex("011000FF00020400010002")) << false << withCrc(hex("019002"));
    QTest::newRow("broadcast write is not answered")
        << withCrc(hex("001000180001020001")) << false << QByteArray();
}

void TestSimController::respond() {
    QFETCH(QByteArray, request);
    QFETCH(bool, silentOnBad);
    QFETCH(QByteArray, answer);
    SimController c;
    prepare(c);
    if (silentOnBad)
        c.setBadRequestReply(SimController::BadRequestReply::Silence);
    const QByteArray got = c.respond(request);
    if (answer.startsWith("len:")) {
        QCOMPARE(got.size(), answer.mid(4).toInt());
        QVERIFY(crcValid(got));
        QCOMPARE(got.mid(0, 3).toHex(), QByteArray("0104c8"));
        QCOMPARE(got.mid(3 + 2 * 99, 2).toHex(), QByteArray("1234"));
    } else {
        QCOMPARE(got.toHex(' '), answer.toHex(' '));
    }
}

// A written parameter shows up in the read field beside its edit field.
void TestSimController::writeReadBack_data() {
    QTest::addColumn<int>("param");
    QTest::addColumn<QByteArray>("data"); // register data, wire order
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("reg");

    QTest::newRow("24 cell overvoltage 3.65 V -> 3.0") << 24 << hex("0E42") << 3 << 0;
    QTest::newRow("39 -> 3.15") << 39 << hex("0007") << 3 << 15;
    QTest::newRow("40 -> 4.0") << 40 << hex("0003") << 4 << 0;
    QTest::newRow("41 negative -> 4.1") << 41 << hex("FFFD") << 4 << 1;
    QTest::newRow("57 -> 4.17") << 57 << hex("0101") << 4 << 17;
    QTest::newRow("58 -> 5.0") << 58 << hex("0009") << 5 << 0;
    QTest::newRow("72 -> 5.14") << 72 << hex("0002") << 5 << 14;
    QTest::newRow("1 -> 2.16") << 1 << hex("FFFF") << 2 << 16;
    QTest::newRow("23 -> 2.29") << 23 << hex("1170") << 2 << 29;
    QTest::newRow("14 -> 2.51") << 14 << hex("0005") << 2 << 51;
    QTest::newRow("3 -> 2.55") << 3 << hex("0BB8") << 2 << 55;
    QTest::newRow("22 -> 2.62") << 22 << hex("0004") << 2 << 62;
    QTest::newRow("84 host id -> 2.0") << 84 << hex("0007") << 2 << 0;
    QTest::newRow("76 -> 86.12") << 76 << hex("01F6") << 86 << 12;
    QTest::newRow("85 -> 88.0") << 85 << hex("0000") << 88 << 0;
    QTest::newRow("94 -> 88.9") << 94 << hex("0006") << 88 << 9;
    QTest::newRow("100 -> 88.15") << 100 << hex("0002") << 88 << 15;
    QTest::newRow("102 -> 90.7") << 102 << hex("00FA") << 90 << 7;
    QTest::newRow("104 -> 90.9") << 104 << hex("0000") << 90 << 9;
    QTest::newRow("106 -> 91.0") << 106 << hex("0D7A") << 91 << 0;
    QTest::newRow("108 -> 91.2") << 108 << hex("000C") << 91 << 2;
    QTest::newRow("79 text ABCDEF -> 86.37..39") << 79 << QByteArray("ABCDEF") << 86 << 37;
    QTest::newRow("80 text shorter than its field")
        << 80 << QByteArray("ab\0\0\0\0\0\0\0\0", 10) << 86 << 40;
    QTest::newRow("73 text of 10 registers -> 2.63")
        << 73 << QByteArray("SN-2024-0000000042xy") << 2 << 63;
}

void TestSimController::writeReadBack() {
    QFETCH(int, param);
    QFETCH(QByteArray, data);
    QFETCH(int, block);
    QFETCH(int, reg);
    SimController c;
    c.setFrozen(true);
    const int count = data.size() / 2;
    QByteArray req = hex("0110");
    req.append(static_cast<char>(param >> 8)).append(static_cast<char>(param & 0xFF));
    req.append(static_cast<char>(0)).append(static_cast<char>(count));
    req.append(static_cast<char>(2 * count)).append(data);
    const QByteArray answer = c.respond(withCrc(req));
    QCOMPARE(answer.toHex(' '), withCrc(req.left(6)).toHex(' '));
    for (int i = 0; i < count; ++i) {
        const uint16_t want = static_cast<uint16_t>((static_cast<uint8_t>(data.at(2 * i)) << 8) |
                                                    static_cast<uint8_t>(data.at(2 * i + 1)));
        QCOMPARE(static_cast<uint16_t>(c.reg(block, reg + i)), want);
        QCOMPARE(c.writtenRegister(param + i), want);
    }
    // Read back over the protocol as the link would.
    QByteArray read = hex("0104");
    read.append(static_cast<char>(0)).append(static_cast<char>(block));
    read.append(static_cast<char>(0)).append(static_cast<char>(reg + count));
    const QByteArray words = c.respond(withCrc(read));
    QVERIFY(crcValid(words));
    QCOMPARE(words.mid(3 + 2 * reg, 2 * count).toHex(), data.toHex());
}

void TestSimController::multiRegisterWrite() {
    // Registers 24..26 in one write land in 3.0..3.2; registers 2..3 in 2.17 and 2.55.
    SimController c;
    c.setFrozen(true);
    QCOMPARE(c.respond(withCrc(hex("011000180003060E100E740ED8"))).toHex(),
             withCrc(hex("011000180003")).toHex());
    QCOMPARE(c.reg(3, 0), int16_t(3600));
    QCOMPARE(c.reg(3, 1), int16_t(3700));
    QCOMPARE(c.reg(3, 2), int16_t(3800));
    QVERIFY(!c.respond(withCrc(hex("01100002000204000503E8"))).isEmpty());
    QCOMPARE(c.reg(2, 17), int16_t(5));
    QCOMPARE(c.deviceCount(), uint8_t(5));
    QCOMPARE(c.reg(2, 55), int16_t(1000));
    // A text parameter takes its own registers; a longer write goes on to the next register
    // numbers: 80 has five, the sixth register is 85 (88.0).
    QCOMPARE(c.reg(88, 0), int16_t(1));
    QVERIFY(!c.respond(withCrc(hex("0110005000060C4142434445464748494A0000"))).isEmpty());
    QCOMPARE(static_cast<uint16_t>(c.reg(86, 40)), uint16_t(0x4142));
    QCOMPARE(static_cast<uint16_t>(c.reg(86, 44)), uint16_t(0x494A));
    QCOMPARE(c.reg(88, 0), int16_t(0));
    // A shorter write leaves the rest of the text field as it was.
    const int16_t last = c.reg(86, 39);
    QVERIFY(!c.respond(withCrc(hex("0110004F0001025A5A"))).isEmpty());
    QCOMPARE(static_cast<uint16_t>(c.reg(86, 37)), uint16_t(0x5A5A));
    QCOMPARE(c.reg(86, 39), last);
}

void TestSimController::unmappedRegisterKeepsCells() {
    SimController c;
    c.setFrozen(true);
    const QVector<int16_t> before = snapshot(c);
    // 92, 93, 98 and 99 have no field: stored, accepted, no cell changes.
    QCOMPARE(c.respond(withCrc(hex("0110005C00020400110022"))).toHex(),
             withCrc(hex("0110005C0002")).toHex());
    QCOMPARE(snapshot(c), before);
    QCOMPARE(c.writtenRegister(92), uint16_t(0x0011));
    QCOMPARE(c.writtenRegister(93), uint16_t(0x0022));
}

void TestSimController::clockWrite_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QDateTime>("clock");
    QTest::newRow("2024-03-05 07:08:09")
        << hex("001800030005000700080009") << true << QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9));
    QTest::newRow("leap day 2028-02-29 23:59:59")
        << hex("001C0002001D0017003B003B") << true
        << QDateTime(QDate(2028, 2, 29), QTime(23, 59, 59));
    QTest::newRow("no such day 2024-02-30")
        << hex("00180002001E000A00000000") << false << QDateTime();
    QTest::newRow("hour 24") << hex("001800010001001800000000") << false << QDateTime();
    QTest::newRow("month 13") << hex("0018000D0001000000000000") << false << QDateTime();
}

void TestSimController::clockWrite() {
    QFETCH(QByteArray, data);
    QFETCH(bool, accepted);
    QFETCH(QDateTime, clock);
    SimController c;
    c.setFrozen(true);
    const QDateTime before = c.clock();
    const QVector<int16_t> cellsBefore = snapshot(c);
    const QByteArray req = withCrc(hex("0110004A00060C") + data);
    const QByteArray answer = c.respond(req);
    if (!accepted) {
        QCOMPARE(answer.toHex(), withCrc(hex("019003")).toHex());
        QCOMPARE(c.clock(), before);
        QCOMPARE(snapshot(c), cellsBefore);
        return;
    }
    QCOMPARE(answer.toHex(), withCrc(hex("0110004A0006")).toHex());
    QCOMPARE(c.clock(), clock);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(c.reg(2, 93 + i), int16_t((static_cast<uint8_t>(data.at(2 * i)) << 8) |
                                           static_cast<uint8_t>(data.at(2 * i + 1))));
    // The clock keeps running, frozen or not.
    c.advance(61000);
    QCOMPARE(c.clock(), clock.addSecs(61));
    // 86.13 and the neighbouring parameters 75..79 are untouched by the clock write.
    QCOMPARE(c.reg(86, 37), cellsBefore.at(86 * 100 + 37));
}

void TestSimController::commands() {
    SimController c;
    c.setAddress(3);
    // Shutdown opens the relays and stops the current.
    QVERIFY(!c.respond(withCrc(hex("031000530001020001"))).isEmpty());
    c.advance(1000);
    QCOMPARE(c.reg(2, 13), int16_t(0));
    QCOMPARE(c.reg(0, 1), int16_t(0));
    c.advance(150000); // where the current would otherwise be strong
    QCOMPARE(c.reg(2, 7), int16_t(0));
    QCOMPARE(c.reg(0, 0), int16_t(0)); // Wait
    // Forced relay close brings it back.
    QVERIFY(!c.respond(withCrc(hex("031000520001020001"))).isEmpty());
    c.advance(1000);
    QCOMPARE(c.reg(2, 13), int16_t(1));
    QVERIFY(c.reg(2, 7) != 0);
    // Restore factory: parameters back to their factory values, host ID 1.
    QVERIFY(!c.respond(withCrc(hex("0310001800010203E8"))).isEmpty());
    QCOMPARE(c.reg(3, 0), int16_t(1000));
    QCOMPARE(c.reg(2, 0), int16_t(3));
    QVERIFY(!c.respond(withCrc(hex("031000510001020001"))).isEmpty());
    QCOMPARE(c.reg(3, 0), int16_t(3550));
    QCOMPARE(c.reg(2, 0), int16_t(1));
    // A command with the value 0 does nothing.
    QVERIFY(!c.respond(withCrc(hex("031000530001020000"))).isEmpty());
    c.advance(1000);
    QCOMPARE(c.reg(2, 13), int16_t(1));
}

void TestSimController::answerFaults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    const QByteArray read3 = hex("0104005B0003C1D8");
    QTest::newRow("short by 1") << "shortBy" << read3 << withCrc(hex("0104040D48001E"));
    QTest::newRow("short by all") << "shortBy9" << read3 << withCrc(hex("010400"));
    QTest::newRow("oversize to 4") << "oversize" << read3 << withCrc(hex("0104080D48001EFFFE0000"));
    QTest::newRow("wrong address 7") << "wrongAddr" << read3 << withCrc(hex("0704060D48001EFFFE"));
    QByteArray bad = withCrc(hex("0104060D48001EFFFE"));
    bad[bad.size() - 1] = static_cast<char>(bad.at(bad.size() - 1) ^ 0x5A);
    QTest::newRow("corrupt crc") << "corruptCrc" << read3 << bad;
    QTest::newRow("stray byte") << "strayByte" << read3
                                << hex("A5") + withCrc(hex("0104060D48001EFFFE"));
    QTest::newRow("exception on read") << "exception" << read3 << hex("018402C2C1");
    QTest::newRow("exception on write")
        << "exception" << hex("011000050001020064A7EE") << withCrc(hex("019002"));
    QTest::newRow("short by does not touch write echoes")
        << "shortBy" << hex("011000050001020064A7EE") << withCrc(hex("011000050001"));
}

void TestSimController::answerFaults() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    SimController c;
    prepare(c);
    SimFaults f;
    if (fault == "shortBy")
        f.shortBy = 1;
    else if (fault == "shortBy9")
        f.shortBy = 9;
    else if (fault == "oversize")
        f.oversizeTo = 4;
    else if (fault == "wrongAddr")
        f.wrongAddr = 7;
    else if (fault == "corruptCrc")
        f.corruptCrc = true;
    else if (fault == "strayByte")
        f.strayByte = true;
    else if (fault == "exception")
        f.exception = true;
    c.setFaults(f);
    c.setReg(91, 3, 0); // the cell after the three set ones, read by the oversized answer
    QCOMPARE(c.respond(request).toHex(' '), answer.toHex(' '));
    if (fault == "exception")
        QCOMPARE(c.writtenRegister(5), uint16_t(0)); // refused, not executed
}

void TestSimController::answerAll_data() {
    QTest::addColumn<bool>("all");
    QTest::addColumn<int>("devices");
    QTest::addColumn<QList<int>>("answered");
    QTest::newRow("own address only") << false << 4 << QList<int>{2};
    QTest::newRow("all of 4") << true << 4 << QList<int>{1, 2, 3, 4};
    QTest::newRow("all of 1") << true << 1 << QList<int>{1};
    QTest::newRow("all of 247") << true << 247 << QList<int>{1, 100, 247};
}

void TestSimController::answerAll() {
    QFETCH(bool, all);
    QFETCH(int, devices);
    QFETCH(QList<int>, answered);
    SimController c;
    c.setAddress(2);
    c.setDeviceCount(static_cast<uint8_t>(devices));
    c.setAnswerAll(all);
    QCOMPARE(c.reg(2, 17), int16_t(devices));
    for (int a = 0; a < 256; ++a) {
        QByteArray req;
        req.append(static_cast<char>(a)).append(hex("040002000A"));
        const QByteArray got = c.respond(withCrc(req));
        const bool expectAnswer = answered.contains(a) || (all && a >= 1 && a <= devices);
        QVERIFY2(got.isEmpty() != expectAnswer, qPrintable(QString("address %1").arg(a)));
        if (expectAnswer)
            QCOMPARE(static_cast<uint8_t>(got.at(0)), uint8_t(a));
    }
    // Distinct: every other address a controller of its own (SOC 3 % lower per address).
    if (!all || devices < 4)
        return;
    c.setFrozen(true);
    c.setDistinct(true);
    const auto soc = [&c](int a) {
        QByteArray req;
        req.append(static_cast<char>(a)).append(hex("0400020002"));
        const QByteArray got = c.respond(withCrc(req));
        return (uint8_t(got.at(5)) << 8) | uint8_t(got.at(6));
    };
    QCOMPARE(soc(2), int(uint16_t(c.reg(2, 1)))); // its own address: as it is
    QCOMPARE(soc(4), std::max(0, int(c.reg(2, 1)) - 12));
    QVERIFY(soc(3) != soc(4));
}

void TestSimController::liveModelStaysPlausible() {
    SimController c;
    const QDateTime start = c.clock();
    bool charged = false, discharged = false, alarmSet = false, alarmClearedAfterSet = false;
    std::set<int> systemStates;
    int minSoc = 100, maxSoc = 0;
    for (int step = 0; step < 1800; ++step) { // 30 minutes in 1 s steps
        c.advance(1000);
        const int current = c.reg(2, 7);
        charged |= current > 20;
        discharged |= current < -20;
        QVERIFY(c.reg(2, 4) >= 0 && c.reg(2, 4) <= 5);
        QVERIFY(c.reg(2, 5) >= 0 && c.reg(2, 5) <= 3);
        QCOMPARE(c.reg(0, 0), c.reg(2, 4));
        systemStates.insert(c.reg(2, 4));
        const int soc = c.reg(2, 1);
        QVERIFY(soc >= 0 && soc <= 100);
        minSoc = std::min(minSoc, soc);
        maxSoc = std::max(maxSoc, soc);
        const bool alarms = c.reg(6, 0) || c.reg(6, 1) || c.reg(6, 2) || c.reg(6, 3);
        alarmClearedAfterSet |= alarmSet && !alarms;
        alarmSet |= alarms;
        if (step % 60 != 0)
            continue;
        for (int k = 0; k < SimController::kPackCount; ++k) {
            for (int cell = 0; cell < 52; ++cell) {
                const int mv = c.reg(7 + k, 9 + cell);
                QVERIFY2(mv >= 3200 && mv <= 3400, qPrintable(QString::number(mv)));
            }
            for (int t = 0; t < 22; ++t) {
                const int deg = c.reg(7 + k, 61 + t);
                QVERIFY2(deg >= 15 && deg <= 35, qPrintable(QString::number(deg)));
            }
            QVERIFY(c.reg(7 + k, 1) >= c.reg(7 + k, 2)); // max >= min
        }
        for (int r = 0; r < SimController::kRackCount; ++r) {
            const int b = r < 8 ? 0 : 1, i = r < 8 ? 24 + 9 * r : 9 * (r - 8);
            QVERIFY(c.reg(b, i) >= 0 && c.reg(b, i) <= 100); // SOC
            QVERIFY(c.reg(b, i + 3) >= c.reg(b, i + 4));     // max >= min cell
            QVERIFY(c.reg(b, i + 7) >= 0 && c.reg(b, i + 7) <= 5);
        }
        QVERIFY(c.reg(2, 32) >= c.reg(2, 35));
        QVERIFY(c.reg(2, 37) >= c.reg(2, 39));
    }
    QVERIFY(charged);
    QVERIFY(discharged);
    QVERIFY(systemStates.count(4) && systemStates.count(5));
    QVERIFY2(maxSoc > minSoc, "the SOC follows the current");
    QVERIFY(alarmSet);
    QVERIFY(alarmClearedAfterSet);
    QCOMPARE(c.clock(), start.addSecs(1800));
    const QDateTime t = c.clock();
    QCOMPARE(int(c.reg(2, 93)), t.date().year() - 2000);
    QCOMPARE(int(c.reg(2, 95)), t.date().day());
    QCOMPARE(int(c.reg(2, 98)), t.time().second());
    // Strings, two characters per register.
    QCOMPARE(static_cast<uint16_t>(c.reg(2, 83)), uint16_t(('S' << 8) | 'W'));
    QCOMPARE(c.reg(2, 17), int16_t(1));
}

void TestSimController::frozenAndReset() {
    SimController c;
    c.setFrozen(true);
    const QVector<int16_t> before = snapshot(c);
    c.advance(120000);
    QVector<int16_t> after = snapshot(c);
    // Only the clock cells move while frozen.
    for (int i = 93; i <= 98; ++i)
        after[200 + i] = before[200 + i];
    QCOMPARE(after, before);

    c.resetRegisters();
    QCOMPARE(snapshot(c), QVector<int16_t>(SimController::kBlocks * 100, 0));
    c.advance(1000);
    QCOMPARE(c.reg(7, 9), int16_t(0)); // still frozen
    c.setFrozen(false);
    c.advance(1000);
    QVERIFY(c.reg(7, 9) >= 3200);
    QCOMPARE(c.reg(3, 0), int16_t(0)); // parameters stay lost after a reboot
}

void TestSimController::faultRecordsHaveValidDates() {
    SimController c;
    QDateTime previous = c.clock();
    for (int k = 0; k < SimController::kFaultRecords; ++k) {
        const int b = 22 + k;
        const auto w = [&](int i) { return static_cast<uint16_t>(c.reg(b, i)); };
        const QDate d(2000 + (w(0) >> 8), w(0) & 0xFF, w(1) >> 8);
        const QTime t(w(1) & 0xFF, w(2) >> 8, w(2) & 0xFF);
        QVERIFY2(d.isValid() && t.isValid(), qPrintable(QString("record %1").arg(k)));
        const QDateTime when(d, t);
        QVERIFY2(when < previous, "records run from the newest back");
        previous = when;
        QVERIFY(w(3) >= w(4)); // max >= min cell voltage
        QVERIFY(w(3) >= 2500 && w(3) <= 3700);
        QVERIFY(w(16) <= 100); // SOC
        QVERIFY(w(5) >= 1 && w(5) <= 15);
        QVERIFY(c.reg(b, 7) >= c.reg(b, 8));
        QVERIFY(w(19) || w(20) || w(21) || w(22)); // every record holds a fault bit
    }
}

// Any bytes at all: no crash, and every answer is a sane frame.
void TestSimController::randomInputIsSafe() {
    SimController c;
    c.setAnswerAll(true);
    c.setDeviceCount(3);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> byte(0, 255), len(0, 300), pick(0, 9);
    int answered = 0;
    for (int i = 0; i < 100000; ++i) {
        QByteArray req;
        const int n = len(rng);
        for (int k = 0; k < n; ++k)
            req.append(static_cast<char>(byte(rng)));
        // Most frames get a valid CRC, a plausible address and one of the two functions so
        // that the parser, not the CRC check, has to reject them.
        if (n >= 4 && pick(rng) < 8) {
            req[0] = static_cast<char>(byte(rng) % 5);
            if (pick(rng) < 7)
                req[1] = static_cast<char>(pick(rng) < 5 ? 4 : 16);
            if (req.at(1) == 16 && n >= 7 && pick(rng) < 5)
                req[6] = static_cast<char>(n - 9);
            req = withCrc(req.left(n - 2));
        }
        const QByteArray got = c.respond(req);
        if (got.isEmpty())
            continue;
        ++answered;
        QVERIFY(crcValid(got));
        QVERIFY(got.size() <= 255);
        QCOMPARE(got.at(0), req.at(0));
        const uint8_t f = static_cast<uint8_t>(got.at(1));
        QVERIFY(f == static_cast<uint8_t>(req.at(1)) ||
                f == (static_cast<uint8_t>(req.at(1)) | 0x80));
        if (f == 4)
            QCOMPARE(got.size(), 5 + static_cast<uint8_t>(got.at(2)));
        if (f & 0x80)
            QCOMPARE(got.size(), 5);
    }
    QVERIFY(answered > 1000);
    c.advance(1000); // the model is intact after the storm
    QVERIFY(c.reg(2, 1) >= 0 && c.reg(2, 1) <= 100);
}

void TestSimController::framer_data() {
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("frames");
    const QByteArray read = hex("0104000200645021");
    const QByteArray write = hex("011000050001020064A7EE");
    QTest::newRow("one read in one piece") << QList<QByteArray>{read} << QList<QByteArray>{read};
    QTest::newRow("read byte by byte")
        << QList<QByteArray>{read.left(1), read.mid(1, 1), read.mid(2, 3), read.mid(5)}
        << QList<QByteArray>{read};
    QTest::newRow("write split inside its byte count")
        << QList<QByteArray>{write.left(6), write.mid(6)} << QList<QByteArray>{write};
    QTest::newRow("two requests back to back")
        << QList<QByteArray>{read + write} << QList<QByteArray>{read, write};
    QTest::newRow("stray byte before a read")
        << QList<QByteArray>{hex("A5") + read} << QList<QByteArray>{hex("A5"), read};
    QTest::newRow("garbage before a write")
        << QList<QByteArray>{hex("00FF1234"), write} << QList<QByteArray>{hex("00FF1234"), write};
    QTest::newRow("unknown function ending in its CRC")
        << QList<QByteArray>{withCrc(hex("01070000"))}
        << QList<QByteArray>{withCrc(hex("01070000"))};
    QTest::newRow("incomplete read waits")
        << QList<QByteArray>{read.left(7)} << QList<QByteArray>{};
    QTest::newRow("read with bad CRC waits for the gap")
        << QList<QByteArray>{hex("0104000200645022")} << QList<QByteArray>{};
}

void TestSimController::framer() {
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, frames);
    SimFramer framer;
    const auto t0 = SimFramer::Clock::now();
    QList<QByteArray> got;
    for (const QByteArray &chunk : chunks)
        got += framer.feed(reinterpret_cast<const uint8_t *>(chunk.constData()), chunk.size(), t0);
    QCOMPARE(got, frames);
}

void TestSimController::framerGap() {
    SimFramer framer;
    const auto t0 = SimFramer::Clock::now();
    const QByteArray junk = hex("0104000200645022");
    QVERIFY(framer.feed(reinterpret_cast<const uint8_t *>(junk.constData()), junk.size(), t0)
                .isEmpty());
    QVERIFY(framer.expire(t0 + std::chrono::milliseconds(SimFramer::kGapMs - 1)).isEmpty());
    QCOMPARE(framer.expire(t0 + std::chrono::milliseconds(SimFramer::kGapMs)),
             QList<QByteArray>{junk});
    QVERIFY(!framer.hasBytes());
    // Bytes after a gap start a new run: the old incomplete one comes out first.
    const QByteArray half = hex("010400");
    const QByteArray read = hex("0104000200645021");
    framer.feed(reinterpret_cast<const uint8_t *>(half.constData()), half.size(), t0);
    const auto later = t0 + std::chrono::milliseconds(50);
    QCOMPARE(framer.feed(reinterpret_cast<const uint8_t *>(read.constData()), read.size(), later),
             (QList<QByteArray>{half, read}));
    // A run that never forms a frame is dropped at the size limit.
    QByteArray noise(SimFramer::kMaxRunBytes + 1, '\x01');
    noise[1] = '\x10';
    noise[6] = '\xFF';
    const QList<QByteArray> out =
        framer.feed(reinterpret_cast<const uint8_t *>(noise.constData()), noise.size(), later);
    QCOMPARE(out.size(), 1);
    QCOMPARE(out.first().size(), noise.size());
    QVERIFY(!framer.hasBytes());
}

void TestSimController::lineTiming_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("glitch");
    QTest::addColumn<int>("burstMs");
    QTest::addColumn<double>("firstUs"); // the first byte at the host
    QTest::addColumn<double>("lastUs");  // the last byte at the host
    QTest::addColumn<int>("deliveries"); // distinct times bytes reach the host
    // The request is read at 1000 us. A character takes 1041.67 us at 9600, 86.81 us at 115200:
    // the request's last byte arrives 8 characters on, the answer's i-th byte 8 + i after that
    // (one more behind a glitch); the echo of the request's i-th byte comes at character i.
    QTest::newRow("instant") << 0 << false << false << 0 << 1000.0 << 1000.0 << 1;
    QTest::newRow("instant, echo") << 0 << true << false << 0 << 1000.0 << 1000.0 << 1;
    QTest::newRow("instant, glitch") << 0 << false << true << 0 << 1000.0 << 1000.0 << 1;
    QTest::newRow("9600") << 9600 << false << false << 0 << 10375.0 << 20791.67 << 11;
    QTest::newRow("115200") << 115200 << false << false << 0 << 1781.25 << 2649.31 << 11;
    QTest::newRow("9600, echo") << 9600 << true << false << 0 << 2041.67 << 20791.67 << 19;
    QTest::newRow("9600, glitch") << 9600 << false << true << 0 << 10375.0 << 21833.33 << 12;
    // Held to the next multiple of the burst time: 5 answer bytes by 15 ms, 5 by 20, 1 by 25.
    QTest::newRow("9600, bursts of 5 ms") << 9600 << false << false << 5 << 15000.0 << 25000.0 << 3;
    QTest::newRow("instant, bursts of 5 ms") << 0 << false << false << 5 << 5000.0 << 5000.0 << 1;
    // Echo due 2.04..9.33 ms, glitch 10.38, answer 11.42..21.83: bursts at 4, 8, ..., 24 ms.
    QTest::newRow("9600, echo, glitch, bursts of 4 ms")
        << 9600 << true << true << 4 << 4000.0 << 24000.0 << 6;
}

void TestSimController::lineTiming() {
    QFETCH(int, baud);
    QFETCH(bool, echo);
    QFETCH(bool, glitch);
    QFETCH(int, burstMs);
    QFETCH(double, firstUs);
    QFETCH(double, lastUs);
    QFETCH(int, deliveries);
    const QByteArray request = hex("0104005B0003C1D8");
    const QByteArray answer = hex("0104060D48001EFFFE21F6");
    const auto origin = SimLine::Clock::now();
    SimLine line(origin);
    SimLine::Settings s;
    s.paceBaud = baud;
    s.echo = echo;
    s.glitch = glitch;
    s.burstMs = burstMs;
    line.setSettings(s);
    const LineTrace trace = driveLine(line, origin, {{1000000, request}}, answer);

    QCOMPARE(trace.atController, request);
    const int echoed = echo ? request.size() : 0;
    const int front = echoed + (glitch ? 1 : 0);
    QCOMPARE(trace.atHost.size(), front + answer.size());
    QCOMPARE(trace.atHost.left(echoed), request.left(echoed));
    QCOMPARE(trace.atHost.mid(front), answer);
    QVERIFY2(qAbs(trace.hostUs.first() - firstUs) < 1.0,
             qPrintable(QString::number(trace.hostUs.first())));
    QVERIFY2(qAbs(trace.hostUs.last() - lastUs) < 1.0,
             qPrintable(QString::number(trace.hostUs.last())));
    QCOMPARE(int(std::set<double>(trace.hostUs.begin(), trace.hostUs.end()).size()), deliveries);
    QCOMPARE(line.nextDue(), SimLine::Clock::time_point::max());
}

void TestSimController::lineCollision_data() {
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("secondAt"); // the second request is read this many characters on
    QTest::addColumn<int>("intact");   // answer bytes the host gets unharmed
    QTest::addColumn<int>("lost");     // bytes of the second request that never arrive
    // The first request is read at 0 and arrives over characters 0..8; the 25-byte answer
    // starts at once and is on the wire over characters 8..33.
    QTest::newRow("after the answer") << 9600 << 34 << 25 << 0;
    QTest::newRow("right after its last byte") << 9600 << 33 << 25 << 0;
    QTest::newRow("into the answer") << 9600 << 18 << 10 << 8;
    QTest::newRow("into its last byte") << 9600 << 32 << 24 << 1;
    QTest::newRow("back to back with the first") << 9600 << 0 << 0 << 8;
    QTest::newRow("115200, into the answer") << 115200 << 18 << 10 << 8;
    QTest::newRow("instant line, back to back") << 0 << 0 << 25 << 0;
}

void TestSimController::lineCollision() {
    QFETCH(int, baud);
    QFETCH(int, secondAt);
    QFETCH(int, intact);
    QFETCH(int, lost);
    const QByteArray first = hex("0104005B0003C1D8");
    const QByteArray second = hex("010400020064") + hex("5021");
    QByteArray answer;
    for (int i = 0; i < 25; ++i)
        answer.append(static_cast<char>(0x30 + i));
    const qint64 charNs = baud > 0 ? 10000000000LL / baud : 0; // in whole ns, as the line has it
    const auto origin = SimLine::Clock::now();
    SimLine line(origin);
    SimLine::Settings s;
    s.paceBaud = baud;
    s.halfDuplex = true;
    line.setSettings(s);
    const LineTrace trace =
        driveLine(line, origin, {{0, first}, {secondAt * charNs, second}}, answer);

    QCOMPARE(trace.atController, first + second.mid(lost));
    QCOMPARE(trace.atHost.size(), answer.size());
    QCOMPARE(trace.atHost.left(intact), answer.left(intact));
    for (int i = intact; i < answer.size(); ++i)
        QVERIFY2(trace.atHost.at(i) != answer.at(i), qPrintable(QString::number(i)));
}

QTEST_APPLESS_MAIN(TestSimController)
#include "tst_simcontroller.moc"
