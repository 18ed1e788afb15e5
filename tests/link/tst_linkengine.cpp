// The transaction engine on the scripted fake port: every kind of outcome, the answer shapes
// of the simulated controller and where they land, the three attempts
// a response time-out apart, answers that arrive late, split, behind an echo or behind noise,
// the drain of late answers, a lost port and a stop, all on the virtual clock. Expected bytes
// are built here with the bitwise reference CRC, not with the link's own codec.

#include "battertstackthread.h"
#include "busround.h"
#include "fakeport.h"
#include "linkhealth.h"
#include "linkstats.h"
#include "mbapframing.h"
#include "linkmonitor.h"
#include "pollplan.h"
#include "pollsource.h"
#include "referencecrc.h"
#include "registermirror.h"
#include "simcontroller.h"
#include "systick.h"
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
    int64_t awayAtEchoUs = 0; // the engine's thread is elsewhere this long after an echo
};

// What the engine told its trace, in order.
class Recorder : public TransactionTrace {
public:
    QStringList events;
    int lateBytes = 0;
    std::function<void()> onEcho;
    void sent(const Request &, const Frame &) override { events << "sent"; }
    void echo(const Request &, const Frame &) override {
        events << "echo";
        if (onEcho)
            onEcho();
    }
    void skipped(const Request &, const QByteArray &b, bool damaged) override {
        events << (damaged ? "damaged" : QStringLiteral("skipped %1").arg(b.size()));
    }
    void received(const Request &, const uint8_t *, int n) override {
        events << QStringLiteral("received %1").arg(n);
    }
    void refused(const Request &, const uint8_t *, int, AnswerFault) override {
        events << "refused";
    }
    void lateDropped(const QByteArray &b) override {
        events << "late";
        lateBytes += b.size();
    }
};

SimFaults makeFaults(std::function<void(SimFaults &)> set) {
    SimFaults f;
    set(f);
    return f;
}

// The simulated controller as the fake port's peer: its answer bytes (with the faults that
// change them), delayed, split or withheld as its transport would.
fake::FakePort::Peer simPeer(SimController &sim) {
    return [&sim](int, const QByteArray &request) {
        const SimFaults &f = sim.faults();
        const QByteArray answer = sim.respond(request);
        if (f.silent || answer.isEmpty())
            return Pieces{};
        const int pieces = std::max(1, f.splitPieces);
        const int size = (answer.size() + pieces - 1) / pieces;
        Pieces out;
        for (int i = 0; i * size < answer.size(); ++i)
            out << Piece{(1 + f.delayMs + i * f.splitGapMs) * kMs, answer.mid(i * size, size)};
        return out;
    };
}

constexpr int16_t kSentinel = -1;
int16_t own(int block, int reg) {
    return static_cast<int16_t>((block << 8) | reg);
}

// Distinct values for every register of block in the controller, the sentinel in its cells.
void markBlock(SimController &sim, int block) {
    for (int i = 0; i < kBlockSize; ++i) {
        sim.setReg(block, i, own(block, i));
        setMirrorCell(block * kBlockSize + i, kSentinel);
    }
}

// An open fake port with peer, and an RTU engine on it.
struct EngineRig {
    explicit EngineRig(FakePort::Peer peer) : port(std::move(peer), log) {
        QString reason;
        port.open(&reason);
    }
    std::shared_ptr<fake::Log> log = std::make_shared<fake::Log>();
    FakePort port;
    RtuFraming rtu;
    TransactionEngine engine{port, rtu, {}};
};

} // namespace

Q_DECLARE_METATYPE(Row)
Q_DECLARE_METATYPE(SimFaults)
Q_DECLARE_METATYPE(Pieces)
Q_DECLARE_METATYPE(Outcome::Kind)
Q_DECLARE_METATYPE(AnswerFault)

class TestLinkEngine : public QObject {
    Q_OBJECT
private slots:
    void outcome_data();
    void outcome();
    void wrongAnswer_data();
    void wrongAnswer();
    void health_data();
    void health();
    void answerShapes_data();
    void answerShapes();
    void lateAnswersAreDrainedBeforeTheNextRequest();
    void lateAnswersNeverLandInAnotherBlock();
    void writeIsConfirmedOnlyByItsOwnEcho();
    void foreignFramesCanBeHeardWithoutEndingTheWait();
    void secondFrame_data();
    void secondFrame();
    void workerShowsAShortAnswerAsNotLive();
    void eachAddressLandsInItsOwnMirror();
    void busRoundFitsBetweenPageReads();
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

    // A pause mid-answer past the inter-byte gap: the run began as this answer and is held.
    r.peer = answerFirst({{2 * kMs, kAnswer.left(4)}, {60 * kMs, kAnswer.mid(4)}});
    QTest::newRow("answer pausing mid-way is held and taken whole")
        << r << Outcome::Answered << 1 << "sent received 9" << 0;
    r.peer = [](int, const QByteArray &) { return Pieces{{2 * kMs, kAnswer.left(4)}}; };
    QTest::newRow("answer stopping mid-way is dropped at its bound, three requests")
        << r << Outcome::NoAnswer << 3 << "sent skipped 4 sent skipped 4 sent skipped 4" << 12;

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

    // The rest of the answer came while the engine's thread was away past the inter-byte gap:
    // the line was not quiet, and the answer is whole.
    r.peer = [](int n, const QByteArray &request) {
        return n == 0 ? Pieces{{1 * kMs, request + kAnswer.left(4)}, {3 * kMs, kAnswer.mid(4)}}
                      : Pieces{};
    };
    r.awayAtEchoUs = 40 * kMs;
    QTest::newRow("bytes that came while the engine was away end no answer")
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
    trace.onEcho = [&] { port.advance(row.awayAtEchoUs); };
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

void TestLinkEngine::wrongAnswer_data() {
    QTest::addColumn<bool>("mbap");
    QTest::addColumn<bool>("write");   // a write of 0x0064 to register 5; else a read of block 6, 2
    QTest::addColumn<QByteArray>("pdu"); // address (unit) and PDU of every answer the peer sends
    QTest::addColumn<AnswerFault>("fault");
    QTest::addColumn<int>("attempts");
    struct Case {
        const char *name;
        bool write;
        const char *pdu;
        AnswerFault fault;
        int attempts;
    };
    const Case cases[] = {
        {"write: echo of another register", true, "011000090001", AnswerFault::OtherEcho, 3},
        {"write: echo of another count", true, "011000050002", AnswerFault::OtherEcho, 3},
        {"write: a function-4 answer", true, "0104020064", AnswerFault::OtherFunction, 3},
        {"write: a function-3 answer", true, "0103020064", AnswerFault::OtherFunction, 3},
        {"write: echo from another unit", true, "021000050001", AnswerFault::OtherUnit, 1},
        {"read: a function-16 echo", false, "011000060002", AnswerFault::OtherFunction, 3},
        {"read: a function-3 answer", false, "010304000a000b", AnswerFault::OtherFunction, 3},
        {"read: byte count above the count asked", false, "010406000a000b000c",
         AnswerFault::ByteCount, 3},
        {"read: odd byte count", false, "010403000a00", AnswerFault::ByteCount, 3},
        {"read: answer from another unit", false, "020404000a000b", AnswerFault::OtherUnit, 1},
    };
    for (const bool mbap : {false, true})
        for (const Case &c : cases)
            QTest::newRow(qPrintable(QStringLiteral("%1, %2")
                                         .arg(QLatin1String(mbap ? "Modbus TCP" : "RTU"),
                                              QLatin1String(c.name))))
                << mbap << c.write << QByteArray::fromHex(c.pdu) << c.fault << c.attempts;
}

void TestLinkEngine::wrongAnswer() {
    // Every attempt is answered with a well-formed frame that is no answer to the request: it
    // is never taken (nothing to confirm or land), the attempt is retried like an unanswered
    // one (one from another unit fails at once), and the counters call it a wrong answer.
    QFETCH(bool, mbap);
    QFETCH(bool, write);
    QFETCH(QByteArray, pdu);
    QFETCH(int, attempts);
    // Modbus TCP: the request's transaction id and protocol, the length, unit and PDU.
    const auto wrap = [mbap, pdu](const QByteArray &request) {
        if (!mbap)
            return withCrc(pdu);
        return request.left(4) + char(pdu.size() >> 8) + char(pdu.size() & 0xFF) + pdu;
    };
    EngineRig rig([wrap](int, const QByteArray &request) {
        return Pieces{{2 * kMs, wrap(request)}};
    });
    MbapFraming tcp;
    Recorder trace;
    TransactionEngine engine(rig.port, mbap ? static_cast<Framing &>(tcp) : rig.rtu, {}, &trace);
    const uint8_t value[2] = {0x00, 0x64};
    const Request request = write ? Request::write(1, 5, value, 1) : Request::read(1, 6, 2);

    const Outcome o = engine.run(request, serialTiming(kRespTimeoutMs, 0, 9));

    QCOMPARE(o.kind, Outcome::WrongAnswer);
    QTEST(o.fault, "fault");
    QCOMPARE(o.attempts, attempts);
    QCOMPARE(rig.log->writes.size(), attempts);
    QFETCH(AnswerFault, fault);
    QCOMPARE(trace.events.count(QStringLiteral("refused")),
             fault == AnswerFault::OtherUnit ? 0 : attempts);
    LinkStats stats;
    stats.add(o);
    QCOMPARE(stats.wrongAnswers, quint64(attempts));
    QCOMPARE(stats.answered, quint64(0));
    QCOMPARE(stats.requestsSent, stats.answered + stats.wrongAnswers + stats.noAnswer + stats.cutShort);
}

void TestLinkEngine::health_data() {
    // Transactions one second apart, each "a" (answered) or by what came back instead:
    // "s" silence, "c" bad CRC, "u" another unit, "w" a wrong answer, "x" a cut connection.
    QTest::addColumn<QString>("transactions");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("hint");
    QTest::newRow("answered") << "aaa" << "Refreshing Data" << "";
    QTest::newRow("two failures stay below the threshold") << "acc" << "Refreshing Data" << "";
    QTest::newRow("silence") << "sss" << "No answer" << "";
    QTest::newRow("bad CRC on every answer") << "ccc" << "No answer"
        << "Every answer has a bad CRC: check baud rate, parity and wiring.";
    QTest::newRow("bad CRC among silence names no cause") << "scc" << "No answer" << "";
    QTest::newRow("another unit answers") << "uuu" << "No answer"
        << "Answers come from another unit: another device answers at this address.";
    QTest::newRow("wrong answers") << "www" << "No answer"
        << "Answers do not match the requests (another function, register or byte count): "
           "check the gateway's settings.";
    QTest::newRow("accept and close") << "xxx" << "No answer"
        << "The gateway closes the connection.\nConnection closed by the gateway 3 times in the "
           "last minute.";
    QTest::newRow("every fifth connection cut, answered between") << "aaaaxaaaax"
        << "Refreshing Data" << "Connection closed by the gateway 2 times in the last minute.";
    QTest::newRow("a cut over a minute ago is forgotten") << "x" + QString(61, QLatin1Char('a'))
        << "Refreshing Data" << "";
    QTest::newRow("answers again after failing") << "wwwa" << "Refreshing Data" << "";
    QTest::newRow("two requests in three lost: failing between answers")
        << QString(QStringLiteral("sas")).repeated(4) << "No answer"
        << "Only 3 of the last 10 requests were answered.";
    QTest::newRow("half lost is not most") << QString(QStringLiteral("as")).repeated(5)
                                           << "Refreshing Data" << "";
    QTest::newRow("a third lost") << QString(QStringLiteral("aas")).repeated(4) << "Refreshing Data"
                                  << "";
    QTest::newRow("mostly failing, then answering again")
        << QString(QStringLiteral("sas")).repeated(4) + QStringLiteral("aaa") << "Refreshing Data"
        << "";
}

void TestLinkEngine::health() {
    QFETCH(QString, transactions);
    LinkHealth h;
    uint32_t now = 0;
    for (const QChar c : transactions) {
        now += 1000;
        h = nextHealth(h, {HealthEvent::ReadStarts}, now);
        HealthEvent e{HealthEvent::Transaction};
        e.answered = c == QLatin1Char('a');
        const int at = QStringLiteral("scuwx").indexOf(c);
        const LinkHealth::Cause causes[] = {LinkHealth::Silence, LinkHealth::BadCrc,
                                            LinkHealth::WrongUnit, LinkHealth::WrongAnswer,
                                            LinkHealth::Closed};
        e.cause = at >= 0 ? causes[at] : LinkHealth::Silence;
        h = nextHealth(h, e, now);
    }
    QTEST(QString::fromLatin1(healthText(h)), "status");
    QTEST(QString::fromLatin1(healthHint(h, now)), "hint");
}

void TestLinkEngine::answerShapes_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<SimFaults>("faults");
    QTest::addColumn<int>("requests"); // requests the one transaction sends
    QTest::addColumn<bool>("ok");      // the read succeeds
    QTest::addColumn<int>("landed");   // registers that land (the rest keep their values)

    QTest::newRow("plain answer lands") << 0 << SimFaults{} << 1 << true << 100;
    QTest::newRow("split answer is taken when complete") << 0 << makeFaults([](SimFaults &f) {
        f.splitPieces = 4;
        f.splitGapMs = 15;
    }) << 1 << true << 100;
    QTest::newRow("late answer completes attempt 2")
        << 0 << makeFaults([](SimFaults &f) { f.delayMs = 150; }) << 2 << true << 100;
    QTest::newRow("answer from another address fails at once")
        << 0 << makeFaults([](SimFaults &f) { f.wrongAddr = 2; }) << 1 << false << 0;
    QTest::newRow("exception answer fails at once")
        << 0 << makeFaults([](SimFaults &f) { f.exception = true; }) << 1 << false << 0;
    QTest::newRow("silent controller costs three requests")
        << 0 << makeFaults([](SimFaults &f) { f.silent = true; }) << 3 << false << 0;
    QTest::newRow("bad CRC never completes, three requests")
        << 3 << makeFaults([](SimFaults &f) { f.corruptCrc = true; }) << 3 << false << 0;
    // Broken 205-byte answers are skipped as they come and never fill the receive buffer.
    QTest::newRow("broken whole-block answers are skipped, three requests")
        << 0 << makeFaults([](SimFaults &f) { f.corruptCrc = true; }) << 3 << false << 0;
    QTest::newRow("stray byte before the answer costs nothing")
        << 3 << makeFaults([](SimFaults &f) { f.strayByte = true; }) << 1 << true << 5;
    QTest::newRow("short answer lands only the registers it carries")
        << 0 << makeFaults([](SimFaults &f) { f.shortBy = 10; }) << 1 << true << 90;
    // A byte count above the registers asked cannot begin this request's answer.
    QTest::newRow("answer with more registers than asked is no answer")
        << 3 << makeFaults([](SimFaults &f) { f.oversizeTo = 120; }) << 3 << false << 0;
    QTest::newRow("whole-block answer with 25 registers too many is no answer")
        << 0 << makeFaults([](SimFaults &f) { f.oversizeTo = 125; }) << 3 << false << 0;
    QTest::newRow("answer too big for the receive buffer is no answer")
        << 0 << makeFaults([](SimFaults &f) { f.oversizeTo = 127; }) << 3 << false << 0;
}

void TestLinkEngine::answerShapes() {
    QFETCH(int, mode);
    QFETCH(SimFaults, faults);
    QFETCH(int, requests);
    QFETCH(bool, ok);
    QFETCH(int, landed);

    // The read the page's plan starts with: Home block 2, 100 registers; Fault block 6, 5.
    const int block = mode == kModeHome ? 2 : 6;
    const int count = mode == kModeHome ? 100 : 5;
    SimController sim;
    sim.setFrozen(true);
    sim.setFaults(faults);
    markBlock(sim, block);
    markBlock(sim, block + 1); // a long answer must not spill into the next block
    EngineRig rig(simPeer(sim));
    auto &log = rig.log;
    auto &port = rig.port;
    auto &rtu = rig.rtu;
    auto &engine = rig.engine;

    const Request read = Request::read(1, uint16_t(block), uint16_t(count));
    const Outcome o = engine.run(read, serialTiming(kRespTimeoutMs, 0, 5 + 2 * count));
    QCOMPARE(o.kind == Outcome::Answered, ok);
    if (o.kind == Outcome::Answered)
        landReadAnswer(*registerMirror, uint16_t(block), count, rtu.decode(o.answer.bytes, o.answer.length));

    QCOMPARE(log->writes.size(), requests);
    // Every attempt sends the same request; retries follow the 100 ms time-out.
    for (const fake::Written &w : log->writes)
        QCOMPARE(w.bytes, log->writes.first().bytes);
    for (int i = 1; i < log->writes.size(); ++i)
        QVERIFY(log->writes.at(i).atUs - log->writes.at(i - 1).atUs >= kRespTimeoutMs * kMs);
    // The leading cells of block hold the controller's values, and nothing else changed.
    auto landedCells = [](int b) {
        int n = 0;
        while (n < kBlockSize && mirrorCell(b, n) == own(b, n))
            ++n;
        for (int i = n; i < kBlockSize; ++i)
            if (mirrorCell(b, i) != kSentinel)
                return -1;
        return n;
    };
    QCOMPARE(landedCells(block), landed);
    QCOMPARE(landedCells(block + 1), 0);
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

void TestLinkEngine::lateAnswersNeverLandInAnotherBlock() {
    // The Pack page's cycle, blocks 7 to 21 of 92 registers, with every answer 150 ms late:
    // each read is answered by the late answer to its first attempt, and the answer to its
    // second attempt must not land in the next block.
    constexpr int kFirst = 7, kLast = 21, kRegs = 92;
    SimController sim;
    sim.setFrozen(true);
    sim.setFaults(makeFaults([](SimFaults &f) { f.delayMs = 150; }));
    for (int b = kFirst; b <= kLast; ++b)
        markBlock(sim, b);
    EngineRig rig(simPeer(sim));
    auto &log = rig.log;
    auto &port = rig.port;
    auto &rtu = rig.rtu;
    auto &engine = rig.engine;
    for (int b = kFirst; b <= kLast; ++b) {
        port.advance(200 * kMs); // the Pack page's poll period
        engine.discardInput();
        const Request read = Request::read(1, uint16_t(b), kRegs);
        const Outcome o = engine.run(read, serialTiming(kRespTimeoutMs, 0, 5 + 2 * kRegs));
        QCOMPARE(o.kind, Outcome::Answered);
        QCOMPARE(o.attempts, 2);
        landReadAnswer(*registerMirror, uint16_t(b), kRegs, rtu.decode(o.answer.bytes, o.answer.length));
        for (int c = kFirst; c <= kLast; ++c)
            for (int i = 0; i < kRegs; ++i) {
                const int16_t v = mirrorCell(c, i);
                QVERIFY2(v == (c <= b ? own(c, i) : kSentinel),
                         qPrintable(QStringLiteral("after block %1: cell %2:%3 holds %4")
                                        .arg(b)
                                        .arg(c)
                                        .arg(i)
                                        .arg(v)));
            }
    }
}

void TestLinkEngine::writeIsConfirmedOnlyByItsOwnEcho() {
    // A write to register 5 answered first by the echo of a write to register 9 (a late answer
    // to an earlier request): that is no confirmation; its own echo is.
    const QByteArray other = frame("011000090001");
    const QByteArray own = frame("011000050001");
    EngineRig rig(answerFirst({{2 * kMs, other}, {5 * kMs, own}}));
    auto &log = rig.log;
    auto &port = rig.port;
    auto &rtu = rig.rtu;
    auto &engine = rig.engine;
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
    EngineRig rig(answerFirst({{2 * kMs, frame("0304020007")}, {20 * kMs, frame("0404020008")}}));
    auto &log = rig.log;
    auto &port = rig.port;
    auto &rtu = rig.rtu;
    auto &engine = rig.engine;
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

void TestLinkEngine::secondFrame_data() {
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<int>("second");
    QTest::newRow("answer alone") << Pieces{{2 * kMs, kAnswer}} << 0;
    QTest::newRow("an unasked frame right behind the answer")
        << Pieces{{2 * kMs, kAnswer + frame("010404000c000d")}} << 1;
    QTest::newRow("another address's frame in the same burst")
        << Pieces{{2 * kMs, kAnswer}, {2 * kMs, frame("070404000c000d")}} << 1;
    QTest::newRow("an incomplete run behind the answer is no frame")
        << Pieces{{2 * kMs, kAnswer + QByteArray::fromHex("010404")}} << 0;
}

void TestLinkEngine::secondFrame() {
    QFETCH(Pieces, pieces);
    EngineRig rig(answerFirst(pieces));
    auto &log = rig.log;
    auto &port = rig.port;
    auto &rtu = rig.rtu;
    auto &engine = rig.engine;
    const Outcome o = engine.run(Request::read(1, 6, 2), serialTiming(kRespTimeoutMs, 0, 9));
    QCOMPARE(o.kind, Outcome::Answered);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(o.answer.bytes), o.answer.length).toHex(),
             kAnswer.toHex());
    QTEST(o.secondFrames, "second");
}

void TestLinkEngine::workerShowsAShortAnswerAsNotLive() {
    // The worker on the fake port, its peer the simulated controller answering the Home block
    // with 50 of its 100 registers: the 50 land, the block is not live, the monitor says so.
    SysTimerThread tickThread;
    tickThread.start();
    resetLinkState();
    deviceAddr.store(1);
    pollMode.store(kModeHome);
    SimController sim;
    sim.setFrozen(true);
    sim.setFaults(makeFaults([](SimFaults &f) { f.shortBy = 50; }));
    markBlock(sim, 2);
    auto log = std::make_shared<fake::Log>();
    LinkSetup setup;
    setup.makePort = [&] { return std::make_unique<FakePort>(simPeer(sim), log); };
    linkMonitor().clear();
    linkMonitor().setEnabled(true);
    Battert_Stack_Thread worker;
    worker.startLink(setup);
    QTRY_VERIFY_WITH_TIMEOUT(worker.stats().readsOk >= 1, 3000);
    worker.stopLink();
    linkMonitor().setEnabled(false);
    tickThread.stop();

    QCOMPARE(worker.stats().shortAnswers, quint64(1));
    QVERIFY(blockLandedShort(2));
    QCOMPARE(mirrorCell(2, 49), own(2, 49));
    QCOMPARE(mirrorCell(2, 50), kSentinel);
    quint64 seq = 0;
    QStringList outcomes;
    QStringList notes;
    for (const MonitorEvent &e : linkMonitor().takeSince(&seq))
        (e.kind == MonitorEvent::Outcome ? outcomes : notes) << e.text;
    QVERIFY2(notes.contains(QStringLiteral("read block 2: short answer: 50 of 100 registers")),
             qPrintable(notes.join(QLatin1String("; "))));
    // One outcome line per read, the one the stop cut short included.
    QCOMPARE(quint64(outcomes.size()), worker.stats().readsOk + worker.stats().readsFailed);
}

namespace {

// Every address but silent answers a read, register i of any block holding address * 1000 + i.
fake::FakePort::Peer answerAsAddress(int silent) {
    return [silent](int, const QByteArray &request) {
        const int addr = uint8_t(request[0]);
        if (addr == silent)
            return Pieces{};
        const int count = uint8_t(request[5]);
        QByteArray answer;
        answer.append(char(addr)).append(char(4)).append(char(2 * count));
        for (int i = 0; i < count; ++i) {
            const int v = addr * 1000 + i;
            answer.append(char(v >> 8)).append(char(v & 0xFF));
        }
        const uint16_t crc = referenceCrc(answer);
        answer.append(char(crc & 0xFF)).append(char(crc >> 8));
        return Pieces{Piece{1 * kMs, answer}};
    };
}

} // namespace

void TestLinkEngine::eachAddressLandsInItsOwnMirror() {
    // Every address answers, register i of any block holding address * 1000 + i. The page's
    // plan reads the Home block of the selected controller (1) while a read list reads blocks
    // 2 and 3 of address 2: each answer lands in its own controller's mirror only.
    SysTimerThread tickThread;
    tickThread.start();
    resetLinkState();
    resetPollPlan();
    mirrorOf(1).clear();
    mirrorOf(2).clear();
    deviceAddr.store(1);
    pollMode.store(kModeHome);
    const uint32_t block3OfAddress1 = mirrorOf(1).landings(3);
    const uint32_t homeOfAddress1 = mirrorOf(1).landings(2);
    auto log = std::make_shared<fake::Log>();
    LinkSetup setup;
    setup.makePort = [&] { return std::make_unique<FakePort>(answerAsAddress(0), log); };
    Battert_Stack_Thread worker;
    worker.startLink(setup);
    const PlanRead reads[2] = {{2, 100}, {3, 20}};
    const uint32_t list = queueReadList(2, reads, 2);
    QTRY_VERIFY_WITH_TIMEOUT(readListLanded(list) == 3u && mirrorOf(1).landings(2) != homeOfAddress1,
                               5000);
    worker.stopLink();
    tickThread.stop();

    for (const int i : {0, 17, 99}) {
        QCOMPARE(int(mirrorOf(1).cell(2, i)), 1000 + i);
        QCOMPARE(int(mirrorOf(2).cell(2, i)), 2000 + i);
    }
    QCOMPARE(int(mirrorOf(2).cell(3, 19)), 2019);
    QCOMPARE(mirrorOf(1).landings(3), block3OfAddress1);
    QCOMPARE(int(deviceAddr.load()), 1);
    // The pages show the selected controller's values.
    QCOMPARE(int(mirrorCell(2, 17)), 1017);
}

namespace {

// A page plan reading block 1 of address 9 every 30 ms.
class EveryThirtyMs : public PollSource {
public:
    int64_t phase() const override { return 0; }
    int periodMs() const override { return 30; }
    bool next(PollRead *read) override {
        *read = PollRead{9, kFunctionRead, 1, 10};
        return true;
    }
};

} // namespace

void TestLinkEngine::busRoundFitsBetweenPageReads() {
    // The page's reads of address 9 with the round over 1, 2 and 3 fitted in between, one bus
    // read after each page read; 3 never answers and is asked once, then left for 5 s.
    SysTimerThread tickThread;
    tickThread.start();
    resetLinkState();
    auto log = std::make_shared<fake::Log>();
    LinkSetup setup;
    setup.makePort = [&] { return std::make_unique<FakePort>(answerAsAddress(3), log); };
    auto round = std::make_unique<BusRound>(std::make_unique<EveryThirtyMs>());
    BusRound *bus = round.get();
    bus->setAddresses({1, 2, 3});
    Battert_Stack_Thread worker;
    worker.setPollSource(std::move(round));
    worker.startLink(setup);
    // 11 page reads and 9 answered bus reads: the 22 requests below have gone out.
    QTRY_VERIFY_WITH_TIMEOUT(worker.stats().readsOk >= 20, 5000);
    worker.stopLink();
    tickThread.stop();

    QStringList sent; // address/block of each request, the engine's retries included
    for (const fake::Written &w : log->writes)
        sent << QStringLiteral("%1/%2").arg(uint8_t(w.bytes[0])).arg(uint8_t(w.bytes[3]));
    const QString expected = QStringLiteral(
        "9/1 1/2 9/1 1/6 9/1 2/2 9/1 2/6 9/1 3/2 3/2 3/2 9/1 1/2 9/1 1/6 9/1 2/2 9/1 2/6 9/1 1/2");
    QCOMPARE(sent.mid(0, expected.count(QLatin1Char(' ')) + 1).join(QLatin1Char(' ')), expected);
    const std::vector<BusController> accounts = bus->controllers();
    QCOMPARE(accounts.size(), size_t(3));
    QCOMPARE(accounts[2].asked, quint64(1));
    QCOMPARE(accounts[2].noAnswer, quint64(1));
    QVERIFY(accounts[0].answered >= 2 && accounts[0].noAnswer == 0);
    QCOMPARE(int(mirrorOf(2).cell(6, 4)), 2004);
}

QTEST_GUILESS_MAIN(TestLinkEngine)
#include "tst_linkengine.moc"
