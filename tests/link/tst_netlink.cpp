// The link's network transport against independent peers started as a user would start them:
// pymodbus's TCP server in both framings, libmodbus's TCP server and vaduz-sim's gateway. Each
// must answer every read of every page plan with the registers it holds, confirm a write, and
// when it goes away the connection is reported lost with its reason and comes back once the
// peer does. A silent gateway gives no answer within the time-out; a refused connection says so.
// Loopback only.

#include "linktestsupport.h"
#include "tcpsimulator.h"

#include "framecodec.h"
#include "pollplan.h"
#include "receiver.h"
#include "referencecrc.h"
#include "registermirror.h"
#include "tcpport.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTcpServer>
#include <QtTest>

namespace {

// What the pymodbus and libmodbus peers hold in input register i.
uint16_t peerRegister(int i) {
    return static_cast<uint16_t>((31 * i + 5) % 65536);
}

uint16_t freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A holding-register read (function 3), built by hand with the reference CRC.
QByteArray readHolding(int addr, int reg, int count) {
    QByteArray b;
    b.append(char(addr)).append(char(3)).append(char(reg >> 8)).append(char(reg & 0xFF));
    b.append(char(count >> 8)).append(char(count & 0xFF));
    const uint16_t crc = referenceCrc(b);
    return b.append(char(crc & 0xFF)).append(char(crc >> 8));
}

uint16_t word(const QByteArray &answer, int i) {
    return static_cast<uint16_t>((uint8_t(answer.at(3 + 2 * i)) << 8) |
                                 uint8_t(answer.at(4 + 2 * i)));
}

struct Peer {
    QString program;
    QStringList args; // %1: the port
    NetFramingKind framing;
    bool holdsPattern; // holds peerRegister(); else the simulated controller's blocks
};

} // namespace

Q_DECLARE_METATYPE(Peer)

class tst_NetLink : public QObject {
    Q_OBJECT

    QProcess peer;
    uint16_t port = 0;
    TcpPort link;
    MbapFraming mbap;

    bool startPeer(const Peer &p) {
        QStringList args;
        for (const QString &a : p.args)
            args << QString(a).replace(QStringLiteral("%1"), QString::number(port));
        peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer.start(p.program, args);
        return peer.waitForStarted(5000);
    }
    void stopPeer() {
        if (peer.state() == QProcess::NotRunning)
            return;
        peer.kill();
        peer.waitForFinished(5000);
    }
    // The peer takes a moment to listen: connect until it does.
    bool connectLink() {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (link.open(QStringLiteral("127.0.0.1"), port, 1000))
                return true;
            QTest::qWait(50);
        }
        return false;
    }
    NetOutcome transact(NetFramingKind framing, const QByteArray &request, QByteArray *answer) {
        const NetTiming timing =
            netTiming(framing, 1000, link.connectMicros(), charMicros(9600, 8, false, 1.0f), 205);
        return netTransaction(link, framing, mbap,
                              reinterpret_cast<const uint8_t *>(request.constData()),
                              request.size(), timing, answer);
    }

    // The settings record pointed at a gateway on this machine.
    static void useGateway(uint16_t at, NetFramingKind framing) {
        SerialSettings s;
        s.comConfigured = true;
        s.link = LinkKind::Network;
        s.host = QStringLiteral("127.0.0.1");
        s.tcpPort = at;
        s.framing = framing == NetFramingKind::Mbap ? NetFraming::Mbap : NetFraming::RtuOverTcp;
        s.baudRate = 115200;
        s.dataBits = 8;
        s.stopBits = 1.0f;
        setSerialSettings(s);
    }
    std::unique_ptr<Battert_Stack_Thread> startWorker(uint16_t at, NetFramingKind framing) {
        linktest::LinkRig::startTick();
        resetLinkState();
        resetPollPlan();
        clearMirror();
        deviceAddr.store(1);
        useGateway(at, framing);
        auto worker = std::make_unique<Battert_Stack_Thread>();
        pollMode.store(kModeHome);
        worker->startLink();
        return worker;
    }

private slots:
    void cleanupTestCase() { linktest::LinkRig::stopTick(); }
    void cleanup() {
        link.close();
        stopPeer();
    }

    // The whole link over each peer: every page fills with the peer's registers, a write is
    // confirmed once, and the link comes back by itself after the peer was gone.
    void linkOverPeers_data() {
        QTest::addColumn<Peer>("p");
        const QString py = QStringLiteral("/usr/bin/python3");
        const QString script = QStringLiteral(VADUZ_PYMODBUS_SERVER);
        QTest::newRow("pymodbus, Modbus TCP")
            << Peer{py, {script, "%1", "mbap"}, NetFramingKind::Mbap, true};
        QTest::newRow("pymodbus, RTU over TCP")
            << Peer{py, {script, "%1", "rtu"}, NetFramingKind::RtuOverTcp, true};
        QTest::newRow("libmodbus, Modbus TCP")
            << Peer{QStringLiteral(VADUZ_LIBMODBUS_SERVER), {"%1"}, NetFramingKind::Mbap, true};
    }
    void linkOverPeers() {
        QFETCH(Peer, p);
        port = freePort();
        QVERIFY(startPeer(p));
        QVERIFY2(connectLink(), qPrintable(link.problem()));
        link.close();
        auto worker = startWorker(port, p.framing);
        for (const int mode : {kModeHome, kModeData, kModeSettings, kModeFault, kModePack}) {
            pollMode.store(mode);
            wakeLinkWorker();
            int blocks[16];
            const int n = pageBlocks(mode, blocks);
            for (int i = 0; i < n; ++i)
                QTRY_COMPARE_WITH_TIMEOUT(mirrorCell(blocks[i], 1),
                                          int16_t(peerRegister(blocks[i] + 1)), 6000);
        }
        const uint8_t value[2] = {0x00, 0x64};
        stageWriteRequest(16, 5, 1, value, 2);
        QTRY_COMPARE_WITH_TIMEOUT(linktest::statusText(), QStringLiteral("Setting Successful"),
                                  3000);
        QCOMPARE(worker->stats().writesOk, quint64(1));
        QCOMPARE(worker->stats().writesFailed, quint64(0));

        stopPeer();
        QTRY_COMPARE_WITH_TIMEOUT(linktest::statusText(), QStringLiteral("Connection failed"),
                                  5000);
        char problem[2 * kStatusTextSize];
        readLinkProblem(problem);
        QVERIFY2(QByteArray(problem).contains("connection refused"), problem);
        const quint64 reads = worker->stats().readsOk;
        QVERIFY(startPeer(p));
        QTRY_VERIFY_WITH_TIMEOUT(worker->stats().readsOk > reads + 2, 15000);
        QVERIFY(worker->stats().portLosses >= 1);
        worker->stopLink();
    }

    // The simulated gateway misbehaving, under the whole link: a slow gateway is waited for, a
    // garbling one and a silent one give "No answer", one that drops the connection is
    // reconnected without anyone pressing anything.
    void gatewayFaults_data() {
        QTest::addColumn<bool>("mbapFraming");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("garbage");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<int>("dropEvery");
        QTest::addColumn<QString>("status");
        QTest::newRow("Modbus TCP, slow") << true << 60 << false << false << 0 << "Refreshing Data";
        QTest::newRow("Modbus TCP, other transaction")
            << true << 0 << true << false << 0 << "No answer";
        QTest::newRow("RTU over TCP, bad CRC") << false << 0 << true << false << 0 << "No answer";
        QTest::newRow("Modbus TCP, silent") << true << 0 << false << true << 0 << "No answer";
        QTest::newRow("Modbus TCP, drops the connection")
            << true << 0 << false << false << 4 << "Refreshing Data";
        QTest::newRow("RTU over TCP, drops the connection")
            << false << 0 << false << false << 4 << "Refreshing Data";
    }
    void gatewayFaults() {
        QFETCH(bool, mbapFraming);
        QFETCH(int, delayMs);
        QFETCH(bool, garbage);
        QFETCH(bool, silent);
        QFETCH(int, dropEvery);
        QFETCH(QString, status);
        TcpSimulator gateway;
        gateway.setFrozen(true);
        SimFaults f;
        f.delayMs = delayMs;
        f.corruptCrc = garbage;
        f.silent = silent;
        gateway.setFaults(f);
        gateway.setDropConnectionEvery(dropEvery);
        QVERIFY(gateway.start(0, mbapFraming ? TcpSimulator::Framing::Mbap
                                             : TcpSimulator::Framing::Rtu));
        auto worker = startWorker(gateway.port(),
                                  mbapFraming ? NetFramingKind::Mbap : NetFramingKind::RtuOverTcp);
        QTRY_VERIFY_WITH_TIMEOUT(gateway.requestCount() >= 12, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(linktest::statusText(), status, 3000);
        const LinkStats s = worker->stats();
        QCOMPARE(s.readsOk > 0, status == QLatin1String("Refreshing Data"));
        if (dropEvery > 0)
            QVERIFY(s.portLosses >= 2 && gateway.connectionCount() >= 3);
        worker->stopLink();
    }

    void peers_data() {
        QTest::addColumn<Peer>("p");
        const QString py = QStringLiteral("/usr/bin/python3");
        const QString script = QStringLiteral(VADUZ_PYMODBUS_SERVER);
        const QString sim = QStringLiteral(VADUZ_SIM_PROGRAM);
        QTest::newRow("pymodbus, Modbus TCP")
            << Peer{py, {script, "%1", "mbap"}, NetFramingKind::Mbap, true};
        QTest::newRow("pymodbus, RTU over TCP")
            << Peer{py, {script, "%1", "rtu"}, NetFramingKind::RtuOverTcp, true};
        QTest::newRow("libmodbus, Modbus TCP")
            << Peer{QStringLiteral(VADUZ_LIBMODBUS_SERVER), {"%1"}, NetFramingKind::Mbap, true};
        QTest::newRow("vaduz-sim, Modbus TCP")
            << Peer{sim, {"--tcp", "%1", "--mbap", "--frozen"}, NetFramingKind::Mbap, false};
        QTest::newRow("vaduz-sim, RTU over TCP")
            << Peer{sim, {"--tcp", "%1", "--frozen"}, NetFramingKind::RtuOverTcp, false};
    }
    // Every page plan's reads, one write, the peer gone and back.
    void peers() {
        QFETCH(Peer, p);
        port = freePort();
        QVERIFY(startPeer(p));
        QVERIFY2(connectLink(), qPrintable(link.problem()));

        uint8_t request[kFrameBufSize];
        QByteArray answer;
        for (const int mode : {kModeHome, kModeData, kModeSettings, kModeFault, kModePack}) {
            resetPollPlan();
            enterPollMode(mode);
            for (int pass = 0; pass < 16; ++pass) {
                pollPlan(mode);
                if (readPending.load() != 1)
                    continue;
                const int block = startAddr.load();
                const int count = regCount.load();
                const int n = buildReadFrameTo(request, 1, kFunctionRead, block, count);
                QCOMPARE(
                    transact(p.framing, QByteArray(reinterpret_cast<char *>(request), n), &answer),
                    NetOutcome::Answered);
                QCOMPARE(checkResponseFor(reinterpret_cast<const uint8_t *>(answer.constData()),
                                          answer.size(), 1, kFunctionRead),
                         0);
                QCOMPARE(answer.size(), 5 + 2 * count);
                if (p.holdsPattern)
                    for (int i = 0; i < count; ++i)
                        QCOMPARE(word(answer, i), peerRegister(block + i));
            }
        }

        // Parameter 5 <- 100, confirmed, and held by the peer (read back over Modbus TCP from
        // its holding registers, which it keeps apart from the input registers).
        const uint8_t value[2] = {0, 100};
        const int n = buildWriteFrameTo(request, 1, value, kFunctionWrite, 5, 1);
        QCOMPARE(transact(p.framing, QByteArray(reinterpret_cast<char *>(request), n), &answer),
                 NetOutcome::Answered);
        QCOMPARE(answer.toHex(' '), withCrcHex("01 10 00 05 00 01"));
        if (p.holdsPattern && p.framing == NetFramingKind::Mbap) {
            QCOMPARE(transact(p.framing, readHolding(1, 5, 1), &answer), NetOutcome::Answered);
            QCOMPARE(word(answer, 0), uint16_t(100));
        }

        // The peer goes: the connection is lost, and why; it comes back: so does the link.
        stopPeer();
        const int built = buildReadFrameTo(request, 1, kFunctionRead, 2, 10);
        const QByteArray read(reinterpret_cast<char *>(request), built);
        QCOMPARE(transact(p.framing, read, &answer), NetOutcome::Lost);
        QVERIFY2(link.problem().endsWith(QStringLiteral("closed by the gateway.")),
                 qPrintable(link.problem()));
        QVERIFY(!link.open(QStringLiteral("127.0.0.1"), port, 1000));
        QVERIFY2(link.problem().contains(QStringLiteral("connection refused")),
                 qPrintable(link.problem()));
        QVERIFY(startPeer(p));
        QVERIFY2(connectLink(), qPrintable(link.problem()));
        QCOMPARE(transact(p.framing, read, &answer), NetOutcome::Answered);
    }

    // A gateway that takes the connection and never answers: no answer within the time-out,
    // and the connection stays.
    void silentGateway() {
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        port = silent.serverPort();
        QVERIFY(link.open(QStringLiteral("127.0.0.1"), port, 1000));
        uint8_t request[kFrameBufSize];
        const int n = buildReadFrameTo(request, 1, kFunctionRead, 2, 100);
        QByteArray answer;
        NetTiming timing = netTiming(NetFramingKind::Mbap, 100, link.connectMicros(), 0, 205);
        QElapsedTimer t;
        t.start();
        QCOMPARE(netTransaction(link, NetFramingKind::Mbap, mbap, request, n, timing, &answer),
                 NetOutcome::NoAnswer);
        QVERIFY(t.elapsed() >= 100);
        QVERIFY(link.isOpen());
    }

    // vaduz-sim's fault: every third request closes the connection.
    void droppingGateway() {
        port = freePort();
        QVERIFY(startPeer(Peer{QStringLiteral(VADUZ_SIM_PROGRAM),
                               {"--tcp", "%1", "--mbap", "--drop-connection", "3"},
                               NetFramingKind::Mbap,
                               false}));
        QVERIFY(connectLink());
        uint8_t request[kFrameBufSize];
        const int n = buildReadFrameTo(request, 1, kFunctionRead, 2, 10);
        const QByteArray read(reinterpret_cast<char *>(request), n);
        QByteArray answer;
        QList<NetOutcome> outcomes;
        for (int i = 0; i < 3; ++i)
            outcomes << transact(NetFramingKind::Mbap, read, &answer);
        QCOMPARE(outcomes,
                 (QList<NetOutcome>{NetOutcome::Answered, NetOutcome::Answered, NetOutcome::Lost}));
        QVERIFY2(link.problem().endsWith(QStringLiteral("closed by the gateway.")),
                 qPrintable(link.problem()));
        QVERIFY(connectLink());
        QCOMPARE(transact(NetFramingKind::Mbap, read, &answer), NetOutcome::Answered);
    }

    // The MBAP header: the request's bytes worked out by hand, the answer under another
    // transaction identifier dropped, a header that is no Modbus TCP refused.
    void mbapHeader() {
        MbapFraming f;
        const uint8_t rtu[] = {0x01, 0x04, 0x00, 0x02, 0x00, 0x64, 0x50, 0x21};
        QCOMPARE(f.encode(rtu, 8).toHex(' '), QByteArray("00 01 00 00 00 06 01 04 00 02 00 64"));
        QCOMPARE(f.encode(rtu, 8).toHex(' '), QByteArray("00 02 00 00 00 06 01 04 00 02 00 64"));
        QByteArray in = QByteArray::fromHex("0001000000050104020007"
                                            "0002000000050104020009");
        QByteArray rtuAnswer;
        QCOMPARE(f.take(in, &rtuAnswer), MbapFraming::Take::Stale);
        QCOMPARE(f.take(in, &rtuAnswer), MbapFraming::Take::Answer);
        QCOMPARE(rtuAnswer.toHex(' '), withCrcHex("01 04 02 00 09"));
        QVERIFY(in.isEmpty());
        in = QByteArray::fromHex("00020001000501040200");
        QCOMPARE(f.take(in, &rtuAnswer), MbapFraming::Take::Broken);
    }

private:
    static QByteArray withCrcHex(const char *hex) {
        QByteArray b = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
        const uint16_t crc = referenceCrc(b);
        return b.append(char(crc & 0xFF)).append(char(crc >> 8)).toHex(' ');
    }
};

QTEST_GUILESS_MAIN(tst_NetLink)
#include "tst_netlink.moc"
