// The transaction engine on the scripted fake port: every kind of outcome, the three attempts
// a response time-out apart, answers that arrive late, split, behind an echo or behind noise,
// the drain of late answers, a lost port and a stop, all on the virtual clock. Expected bytes
// are built here with the bitwise reference CRC, not with the link's own codec.

#include "fakeport.h"
#include "referencecrc.h"
#include "transaction.h"

#include <QtTest>

using fake::FakePort;
using fake::Piece;
using fake::Pieces;

namespace {

constexpr int kRespTimeoutMs = 100;
constexpr int64_t kMs = 1000;

QByteArray withCrc(QByteArray b) {
    const uint16_t crc = referenceCrc(b);
    b.append(char(crc & 0xFF)).append(char(crc >> 8));
    return b;
}

// "01 04 04 00 0a 00 0b": address 1, answer to a read of two registers.
QByteArray frame(const char *hex) {
    return withCrc(QByteArray::fromHex(hex));
}

const QByteArray kReadRequest = frame("010400060002"); // block 6, 2 registers
const QByteArray kAnswer = frame("010404000a000b");

// The peer's script for a row: what answers write n.
using Script = std::function<Pieces(int n, const QByteArray &request)>;

Script answerFirst(Pieces pieces) {
    return [pieces](int n, const QByteArray &) { return n == 0 ? pieces : Pieces{}; };
}

struct Row {
    Script peer;
    int failWrites = 0;
    int64_t lostAfterUs = -1; // after the first request
    bool stopInWait = false;
};

// What the engine told its trace, in order.
class Recorder : public TransactionTrace {
public:
    QStringList events;
    int lateBytes = 0;
    void sent(const Request &, const Frame &) override { events << "sent"; }
    void echo(const Request &, const Frame &) override { events << "echo"; }
    void skipped(const Request &, const QByteArray &b, bool damaged) override {
        events << (damaged ? "damaged" : QStringLiteral("skipped %1").arg(b.size()));
    }
    void received(const Request &, const uint8_t *, int n) override {
        events << QStringLiteral("received %1").arg(n);
    }
    void lateDropped(const QByteArray &b) override {
        events << "late";
        lateBytes += b.size();
    }
};

} // namespace

Q_DECLARE_METATYPE(Row)
Q_DECLARE_METATYPE(Outcome::Kind)

class TestLinkEngine : public QObject {
    Q_OBJECT
private slots:
    void outcome_data();
    void outcome();
    void lateAnswersAreDrainedBeforeTheNextRequest();
    void writeIsConfirmedOnlyByItsOwnEcho();
    void foreignFramesCanBeHeardWithoutEndingTheWait();
};

void TestLinkEngine::outcome_data() {
    QTest::addColumn<Row>("row");
    QTest::addColumn<Outcome::Kind>("kind");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("detail"); // exception code, answering address, or skipped bytes

    const Pieces answer{{2 * kMs, kAnswer}};
    Row r;
    r.peer = answerFirst(answer);
    QTest::newRow("answer") << r << Outcome::Answered << 1 << "sent received 9" << 0;

    r.peer = answerFirst({{2 * kMs, kAnswer.left(4)}, {12 * kMs, kAnswer.mid(4)}});
    QTest::newRow("split answer is taken when complete")
        << r << Outcome::Answered << 1 << "sent received 9" << 0;

    // The answer to attempt 1 comes after its time-out: attempt 2 has gone out and it counts.
    r.peer = answerFirst({{150 * kMs, kAnswer}});
    QTest::newRow("late answer completes attempt 2")
        << r << Outcome::Answered << 2 << "sent sent received 9" << 0;

    // Bytes keep coming across the first-byte time: no retry collides with them.
    Pieces slow;
    for (int i = 0; i < kAnswer.size(); ++i)
        slow << Piece{(95 + 5 * i) * kMs, kAnswer.mid(i, 1)};
    r.peer = answerFirst(slow);
    QTest::newRow("answer arriving across the time-out is not retried")
        << r << Outcome::Answered << 1 << "sent received 9" << 0;

    r.peer = [](int, const QByteArray &) { return Pieces{}; };
    QTest::newRow("silence costs three requests")
        << r << Outcome::NoAnswer << 3 << "sent sent sent" << 0;

    r.peer = answerFirst({{2 * kMs, frame("018402")}});
    QTest::newRow("exception fails at once")
        << r << Outcome::Exception << 1 << "sent received 5" << 2;

    r.peer = answerFirst({{2 * kMs, frame("020404000a000b")}});
    QTest::newRow("answer from another address fails at once")
        << r << Outcome::WrongAnswer << 1 << "sent received 9" << 2;

    QByteArray bad = kAnswer;
    bad[bad.size() - 1] = char(bad.at(bad.size() - 1) ^ 0x55);
    r.peer = [bad](int, const QByteArray &) { return Pieces{{2 * kMs, bad}}; };
    QTest::newRow("bad CRC every time: three requests")
        << r << Outcome::BadCrc << 3 << "sent damaged sent damaged sent damaged" << 27;

    r.peer = answerFirst({{1 * kMs, QByteArray("\xff", 1)}, {3 * kMs, kAnswer}});
    QTest::newRow("stray byte before the answer is skipped")
        << r << Outcome::Answered << 1 << "sent skipped 1 received 9" << 1;

    r.peer = [](int n, const QByteArray &request) {
        return n == 0 ? Pieces{{0, request}, {3 * kMs, kAnswer}} : Pieces{};
    };
    QTest::newRow("echo is skipped and listed before the answer")
        << r << Outcome::Answered << 1 << "sent echo received 9" << 0;

    r = Row{};
    r.peer = [](int n, const QByteArray &) {
        return n == 1 ? Pieces{{2 * kMs, kAnswer}} : Pieces{};
    };
    r.failWrites = 1;
    QTest::newRow("request that does not get out is sent again")
        << r << Outcome::Answered << 2 << "sent sent received 9" << 0;

    r = Row{};
    r.peer = [](int, const QByteArray &) { return Pieces{}; };
    r.lostAfterUs = 30 * kMs;
    QTest::newRow("port lost in the wait: no further attempt")
        << r << Outcome::PortLost << 1 << "sent" << 0;

    r = Row{};
    r.peer = [](int, const QByteArray &) { return Pieces{}; };
    r.stopInWait = true;
    QTest::newRow("stop ends the wait: no further attempt")
        << r << Outcome::Stopped << 1 << "sent" << 0;
}

void TestLinkEngine::outcome() {
    QFETCH(Row, row);
    auto log = std::make_shared<fake::Log>();
    FakePort port(row.peer, log);
    port.failWrites = row.failWrites;
    QString reason;
    QVERIFY(port.open(&reason));
    if (row.lostAfterUs >= 0)
        port.lostAtUs = port.nowUs() + row.lostAfterUs;
    RtuFraming rtu;
    Recorder trace;
    bool stop = false;
    TransactionEngine engine(
        port, rtu,
        [&] {
            return stop || (row.stopInWait && !log->writes.isEmpty() &&
                            port.nowUs() - log->writes.first().atUs > 10 * kMs);
        },
        &trace);

    const Outcome o = engine.run(Request::read(1, 6, 2), serialTiming(kRespTimeoutMs, 0, 9));

    QTEST(o.kind, "kind");
    QTEST(o.attempts, "attempts");
    QTEST(trace.events.join(QLatin1Char(' ')), "events");
    QFETCH(int, detail);
    if (o.kind == Outcome::Exception)
        QCOMPARE(int(o.exceptionCode), detail);
    else if (o.kind == Outcome::WrongAnswer)
        QCOMPARE(int(o.fromAddr), detail);
    else
        QCOMPARE(o.skippedBytes, detail);
    // Every request is the same frame, and attempts go out one response time-out apart.
    QCOMPARE(log->writes.size(), o.attempts);
    for (int i = 0; i < log->writes.size(); ++i) {
        QCOMPARE(log->writes.at(i).bytes.toHex(), kReadRequest.toHex());
        if (i > 0 && row.failWrites == 0) {
            const int64_t gap = log->writes.at(i).atUs - log->writes.at(i - 1).atUs;
            QVERIFY2(gap >= kRespTimeoutMs * kMs && gap < 2 * kRespTimeoutMs * kMs,
                     qPrintable(QString::number(gap)));
        }
    }
    if (o.gotFrame())
        QCOMPARE(o.timedOut, o.attempts - 1);
    QVERIFY(o.attempts >= o.timedOut + (o.gotFrame() ? 1 : 0));
}

void TestLinkEngine::lateAnswersAreDrainedBeforeTheNextRequest() {
    // Block 6 is answered only after all three attempts timed out, three times over; block 7's
    // request must not take one of those answers as its own.
    const QByteArray block7 = frame("010404007a007b");
    auto log = std::make_shared<fake::Log>();
    FakePort port(
        [&](int n, const QByteArray &) {
            if (n < 3)
                return Pieces{{320 * kMs - 100 * kMs * n, kAnswer}};
            return Pieces{{2 * kMs, block7}};
        },
        log);
    QString reason;
    QVERIFY(port.open(&reason));
    RtuFraming rtu;
    Recorder trace;
    TransactionEngine engine(port, rtu, {}, &trace);
    const TransactionTiming timing = serialTiming(kRespTimeoutMs, 0, 9);

    QCOMPARE(engine.run(Request::read(1, 6, 2), timing).kind, Outcome::NoAnswer);
    const Outcome o = engine.run(Request::read(1, 7, 2), timing);
    QCOMPARE(o.kind, Outcome::Answered);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(o.answer.bytes), o.answer.length).toHex(),
             block7.toHex());
    QCOMPARE(trace.lateBytes, 3 * kAnswer.size());
    // The next request waited for two time-outs of quiet after the last late answer.
    const int64_t quiet = log->writes.at(3).atUs - (log->writes.at(0).atUs + 320 * kMs);
    QVERIFY2(quiet >= 2 * kRespTimeoutMs * kMs, qPrintable(QString::number(quiet)));
}

void TestLinkEngine::writeIsConfirmedOnlyByItsOwnEcho() {
    // A write to register 5 answered first by the echo of a write to register 9 (a late answer
    // to an earlier request): that is no confirmation; its own echo is.
    const QByteArray other = frame("011000090001");
    const QByteArray own = frame("011000050001");
    auto log = std::make_shared<fake::Log>();
    FakePort port(answerFirst({{2 * kMs, other}, {5 * kMs, own}}), log);
    QString reason;
    QVERIFY(port.open(&reason));
    RtuFraming rtu;
    TransactionEngine engine(port, rtu, {});
    const uint8_t value[2] = {0x00, 0x64};
    const Outcome o =
        engine.run(Request::write(1, 5, value, 1), serialTiming(kRespTimeoutMs, 0, 8));
    QCOMPARE(o.kind, Outcome::Answered);
    QCOMPARE(o.attempts, 1);
    QCOMPARE(log->writes.first().bytes.toHex(), QByteArray("011000050001020064a7ee"));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(o.answer.bytes), o.answer.length).toHex(),
             own.toHex());
}

void TestLinkEngine::foreignFramesCanBeHeardWithoutEndingTheWait() {
    // The device scan's use: an answer from address 3 while address 4 is asked is heard, and
    // the wait for address 4 goes on.
    auto log = std::make_shared<fake::Log>();
    FakePort port(answerFirst({{2 * kMs, frame("0304020007")}, {20 * kMs, frame("0404020008")}}),
                  log);
    QString reason;
    QVERIFY(port.open(&reason));
    RtuFraming rtu;
    TransactionEngine engine(port, rtu, {});
    QList<int> heard;
    engine.setForeignFrameHandler([&](const Answer &a) {
        heard << a.addr;
        return true;
    });
    TransactionTiming timing = serialTiming(kRespTimeoutMs, 0, 7);
    timing.attempts = 1;
    const Outcome o = engine.run(Request::read(4, 2, 1), timing);
    QCOMPARE(o.kind, Outcome::Answered);
    QCOMPARE(heard, QList<int>{3});
}

QTEST_APPLESS_MAIN(TestLinkEngine)
#include "tst_linkengine.moc"
