// The simulated controller on a real pseudo-terminal, seen from an independent Modbus RTU
// master (libmodbus): block reads, parameter writes and their read-back, the misbehaviour
// switches, answer-all mode, reopening the port, and the stand-alone vaduz-sim process. The
// line model (wire time, echo, glitch, collisions, bursts) is seen through a plain descriptor
// with the time each chunk of bytes arrives.

#include "ptysimulator.h"
#include "referencecrc.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <QtTest>

#include <modbus.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct ModbusDeleter {
    void operator()(modbus_t *ctx) const {
        modbus_close(ctx);
        modbus_free(ctx);
    }
};
using Master = std::unique_ptr<modbus_t, ModbusDeleter>;

// A libmodbus RTU master on path. RS-232/485 mode and RTS ioctls do not apply to a pty, so
// their failure is ignored.
Master openMaster(const QString &path, int slave, int timeoutMs = 1000) {
    modbus_t *ctx = modbus_new_rtu(path.toLocal8Bit().constData(), 9600, 'N', 8, 1);
    if (!ctx)
        return nullptr;
    Master m(ctx);
    modbus_set_slave(ctx, slave);
    modbus_set_response_timeout(ctx, 0, static_cast<uint32_t>(timeoutMs) * 1000);
    if (modbus_connect(ctx) != 0)
        return nullptr;
    (void)modbus_rtu_set_serial_mode(ctx, MODBUS_RTU_RS232);
    return m;
}

PtySimulator *currentSim = nullptr; // the simulator of the running test, for failure reports

// Requests, answers and the request log of the current simulator.
QString simTrace() {
    if (!currentSim)
        return {};
    QString text = QStringLiteral("; simulator: %1 requests, %2 answers")
                       .arg(currentSim->requestCount())
                       .arg(currentSim->answerCount());
    for (const SimRequest &q : currentSim->requests())
        text +=
            QStringLiteral("\n  %1 ms: %2").arg(q.msSinceStart).arg(QString(q.frame.toHex(' ')));
    return text;
}

// A libmodbus call that must return n; the failure names libmodbus's reason.
#define MB_EXPECT(call, n)                                                                         \
    do {                                                                                           \
        const int rc_ = (call);                                                                    \
        const int err_ = errno;                                                                    \
        QVERIFY2(rc_ == (n), qPrintable(QStringLiteral("%1 gave %2, %3")                           \
                                            .arg(QLatin1String(#call))                             \
                                            .arg(rc_)                                              \
                                            .arg(QLatin1String(modbus_strerror(err_))) +           \
                                        simTrace()));                                              \
    } while (false)

// The block-read counts of the poll plan, by block.
int countOfBlock(int block) {
    if (block <= 2)
        return 100;
    if (block == 3 || block == 4 || block == 89)
        return 20;
    if (block == 5)
        return 15;
    if (block == 6)
        return 5;
    if (block <= 21)
        return 92;
    if (block <= 85)
        return 32;
    if (block == 86 || block == 88)
        return 50;
    if (block == 90)
        return 10;
    if (block == 91)
        return 3;
    return 1;
}

} // namespace

class TestSimLink : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readBlock2();
    void readEveryBlock();
    void writeParameter_data();
    void writeParameter();
    void writeClock();
    void requestLog();
    void faults_data();
    void faults();
    void dropEvery();
    void answerAll();
    void reopenPort();
    void stopIsPrompt();
    void qserialportReopen();
    void noStaleAnswerAfterReopen();
    void deviceMode();
    void standaloneProcess();
    void lineShape_data();
    void lineShape();
    void lineCollision();
    void lineBursts_data();
    void lineBursts();
    void lineBaudRate_data();
    void lineBaudRate();
    void standaloneLineOptions();

private:
    std::unique_ptr<PtySimulator> sim;
};

void TestSimLink::init() {
    sim = std::make_unique<PtySimulator>();
    QVERIFY(sim->start());
    currentSim = sim.get();
    QVERIFY(sim->isRunning());
    QVERIFY(sim->slavePath().startsWith("/dev/pts/"));
}

void TestSimLink::cleanup() {
    sim.reset();
}

void TestSimLink::readBlock2() {
    Master m = openMaster(sim->slavePath(), 1);
    QVERIFY(m);
    uint16_t r[100] = {};
    MB_EXPECT(modbus_read_input_registers(m.get(), 2, 100, r), 100);
    const auto s = [&](int i) { return static_cast<int16_t>(r[i]); };
    QCOMPARE(s(0), int16_t(1));               // host ID = own address
    QVERIFY(s(1) >= 0 && s(1) <= 100);        // SOC
    QVERIFY(s(4) >= 0 && s(4) <= 5);          // system state
    QVERIFY(s(5) >= 0 && s(5) <= 3);          // charge state
    QVERIFY(s(13) == 0 || s(13) == 1);        // relay
    QCOMPARE(s(17), int16_t(1));              // device count
    QVERIFY(s(32) >= 3200 && s(32) <= 3400);  // max cell mV
    QVERIFY(s(35) >= 3200 && s(35) <= s(32)); // min cell mV
    QVERIFY(s(37) >= 15 && s(37) <= 35);      // max temperature
    QVERIFY(s(39) >= 15 && s(39) <= s(37));
    QVERIFY(r[63] >> 8 >= 0x20 && r[63] >> 8 < 0x7F); // serial number text
    QVERIFY(r[83] >> 8 >= 0x20 && r[83] >> 8 < 0x7F); // software version text
    const QDateTime clock = sim->clock();
    QCOMPARE(int(s(93)) + 2000, clock.date().year());
    QCOMPARE(int(s(94)), clock.date().month());
    QVERIFY(s(96) >= 0 && s(96) <= 23 && s(97) >= 0 && s(97) <= 59 && s(98) >= 0 && s(98) <= 59);
    QVERIFY(s(99) >= 15 && s(99) <= 35); // mean temperature
}

void TestSimLink::readEveryBlock() {
    sim->setFrozen(true);
    Master m = openMaster(sim->slavePath(), 1);
    QVERIFY(m);
    uint16_t r[100] = {};
    for (int block = 0; block < 92; ++block) {
        const int count = countOfBlock(block);
        MB_EXPECT(modbus_read_input_registers(m.get(), block, count, r), count);
        for (int i = 0; i < count; ++i)
            QCOMPARE(static_cast<int16_t>(r[i]), sim->reg(block, i));
    }
    // Past the last block: an exception the master decodes.
    MB_EXPECT(modbus_read_input_registers(m.get(), 92, 1, r), -1);
    QCOMPARE(errno, int(EMBXILADD));
    // Unknown function: illegal function.
    MB_EXPECT(modbus_read_registers(m.get(), 0, 1, r), -1);
    QCOMPARE(errno, int(EMBXILFUN));
}

void TestSimLink::writeParameter_data() {
    QTest::addColumn<int>("param");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("reg");
    QTest::newRow("24 -> 3.0") << 24 << QList<int>{3650 - 10} << 3 << 0;
    QTest::newRow("41 negative -> 4.1") << 41 << QList<int>{0xFFFD} << 4 << 1;
    QTest::newRow("1 -> 2.16") << 1 << QList<int>{12} << 2 << 16;
    QTest::newRow("84 host id -> 2.0") << 84 << QList<int>{9} << 2 << 0;
    QTest::newRow("107 -> 91.1") << 107 << QList<int>{44} << 91 << 1;
    QTest::newRow("103 -> 90.8") << 103 << QList<int>{321} << 90 << 8;
    QTest::newRow("77 text of 12 registers -> 86.15")
        << 77
        << QList<int>{0x6170, 0x6E2E, 0x6578, 0x616D, 0x706C, 0x652E, 0x636F, 0x6D00, 0, 0, 0, 0}
        << 86 << 15;
}

void TestSimLink::writeParameter() {
    QFETCH(int, param);
    QFETCH(QList<int>, values);
    QFETCH(int, block);
    QFETCH(int, reg);
    Master m = openMaster(sim->slavePath(), 1);
    QVERIFY(m);
    QVector<uint16_t> data;
    for (int v : values)
        data.append(static_cast<uint16_t>(v));
    MB_EXPECT(modbus_write_registers(m.get(), param, data.size(), data.constData()), data.size());
    uint16_t r[100] = {};
    MB_EXPECT(modbus_read_input_registers(m.get(), block, reg + data.size(), r), reg + data.size());
    for (int i = 0; i < data.size(); ++i)
        QCOMPARE(r[reg + i], data.at(i));
    // The bus address does not follow the host ID cell.
    MB_EXPECT(modbus_read_input_registers(m.get(), 91, 3, r), 3);
}

void TestSimLink::writeClock() {
    Master m = openMaster(sim->slavePath(), 1);
    QVERIFY(m);
    const uint16_t when[6] = {24, 3, 5, 7, 8, 9};
    MB_EXPECT(modbus_write_registers(m.get(), 74, 6, when), 6);
    const QDateTime clock = sim->clock();
    QVERIFY(clock >= QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)));
    QVERIFY(clock < QDateTime(QDate(2024, 3, 5), QTime(7, 8, 19)));
    uint16_t r[100] = {};
    MB_EXPECT(modbus_read_input_registers(m.get(), 2, 100, r), 100);
    QCOMPARE(r[93], uint16_t(24));
    QCOMPARE(r[94], uint16_t(3));
    QCOMPARE(r[95], uint16_t(5));
    // An impossible date is refused with an exception and leaves the clock alone.
    const uint16_t bad[6] = {24, 2, 30, 10, 0, 0};
    MB_EXPECT(modbus_write_registers(m.get(), 74, 6, bad), -1);
    QCOMPARE(errno, int(EMBXILVAL));
    QVERIFY(sim->clock() < QDateTime(QDate(2024, 3, 6), QTime(0, 0)));
}

void TestSimLink::requestLog() {
    Master m = openMaster(sim->slavePath(), 1);
    QVERIFY(m);
    sim->clearRequests();
    const int before = sim->requestCount();
    uint16_t r[100] = {};
    MB_EXPECT(modbus_read_input_registers(m.get(), 2, 100, r), 100);
    QTRY_COMPARE_WITH_TIMEOUT(sim->requestCount(), before + 1, 2000);
    const QList<SimRequest> log = sim->requests();
    QCOMPARE(log.size(), 1);
    QCOMPARE(log.first().frame.toHex(' '), QByteArray("01 04 00 02 00 64 50 21"));
    QVERIFY(log.first().msSinceStart >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() >= 1, 2000);
}

void TestSimLink::faults_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("errorCode"); // 0: the read succeeds
    QTest::newRow("silent -> timeout") << "silent" << int(ETIMEDOUT);
    QTest::newRow("exception -> illegal address") << "exception" << int(EMBXILADD);
    QTest::newRow("corrupt crc -> crc error") << "corruptCrc" << int(EMBBADCRC);
    QTest::newRow("wrong address -> bad slave") << "wrongAddr" << int(EMBBADSLAVE);
    QTest::newRow("short answer -> bad data") << "shortBy" << int(EMBBADDATA);
    QTest::newRow("oversized answer -> bad data") << "oversize" << int(EMBBADDATA);
    QTest::newRow("delay within the timeout -> fine") << "delay" << 0;
    QTest::newRow("split with short gaps -> fine") << "split" << 0;
    QTest::newRow("stray byte -> fails") << "strayByte" << -1;
}

void TestSimLink::faults() {
    QFETCH(QString, fault);
    QFETCH(int, errorCode);
    SimFaults f;
    if (fault == "silent")
        f.silent = true;
    else if (fault == "exception")
        f.exception = true;
    else if (fault == "corruptCrc")
        f.corruptCrc = true;
    else if (fault == "wrongAddr")
        f.wrongAddr = 7;
    else if (fault == "shortBy")
        f.shortBy = 3;
    else if (fault == "oversize")
        f.oversizeTo = 12;
    else if (fault == "delay")
        f.delayMs = 60;
    else if (fault == "strayByte")
        f.strayByte = true;
    else if (fault == "split") {
        f.splitPieces = 4;
        f.splitGapMs = 15;
    }
    sim->setFaults(f);
    QCOMPARE(sim->faults().silent, f.silent);
    Master m = openMaster(sim->slavePath(), 1, 600);
    QVERIFY(m);
    uint16_t r[10] = {};
    QElapsedTimer t;
    t.start();
    const int rc = modbus_read_input_registers(m.get(), 5, 10, r);
    const int err = errno;
    if (errorCode == 0) {
        QVERIFY2(rc == 10, qPrintable(QLatin1String(modbus_strerror(err)) + simTrace()));
        for (int i = 0; i < 10; ++i)
            QCOMPARE(static_cast<int16_t>(r[i]), sim->reg(5, i));
        if (fault == "delay")
            QVERIFY(t.elapsed() >= 55);
        return;
    }
    QCOMPARE(rc, -1);
    if (errorCode > 0)
        QCOMPARE(err, errorCode);
    // Everything back to normal: the next exchange works.
    sim->setFaults(SimFaults());
    modbus_flush(m.get());
    QTRY_VERIFY_WITH_TIMEOUT(modbus_read_input_registers(m.get(), 5, 10, r) == 10, 3000);
}

void TestSimLink::dropEvery() {
    SimFaults f;
    f.dropEvery = 3;
    sim->setFaults(f);
    Master m = openMaster(sim->slavePath(), 1, 500);
    QVERIFY(m);
    uint16_t r[5] = {};
    QList<int> results;
    for (int i = 0; i < 6; ++i)
        results.append(modbus_read_input_registers(m.get(), 6, 5, r));
    QCOMPARE(results, (QList<int>{5, 5, -1, 5, 5, -1}));
    QString log;
    for (const SimRequest &q : sim->requests())
        log += QStringLiteral("%1 ms: %2\n").arg(q.msSinceStart).arg(QString(q.frame.toHex(' ')));
    QVERIFY2(sim->requestCount() == 6, qPrintable(log));
    QTRY_COMPARE_WITH_TIMEOUT(sim->answerCount(), 4, 2000);
}

void TestSimLink::answerAll() {
    sim->setDeviceCount(3);
    sim->setAnswerAll(true);
    uint16_t r[20] = {};
    for (int slave = 1; slave <= 4; ++slave) {
        Master m = openMaster(sim->slavePath(), slave, 500);
        QVERIFY(m);
        const int rc = modbus_read_input_registers(m.get(), 2, 20, r);
        if (slave <= 3) {
            QCOMPARE(rc, 20);
            QCOMPARE(r[17], uint16_t(3));
        } else {
            QCOMPARE(rc, -1);
            QCOMPARE(errno, int(ETIMEDOUT));
        }
    }
    // Only address 2 once answer-all is off again.
    sim->setAnswerAll(false);
    sim->setAddress(2);
    Master one = openMaster(sim->slavePath(), 1, 500);
    MB_EXPECT(modbus_read_input_registers(one.get(), 2, 1, r), -1);
    modbus_set_slave(one.get(), 2);
    MB_EXPECT(modbus_read_input_registers(one.get(), 2, 1, r), 1);
}

void TestSimLink::reopenPort() {
    uint16_t r[3] = {};
    for (int i = 0; i < 3; ++i) {
        Master m = openMaster(sim->slavePath(), 1);
        QVERIFY(m);
        MB_EXPECT(modbus_read_input_registers(m.get(), 91, 3, r), 3);
    }
    QVERIFY(sim->isRunning());
}

void TestSimLink::stopIsPrompt() {
    Master m = openMaster(sim->slavePath(), 1);
    QVERIFY(m);
    SimFaults f;
    f.delayMs = 5000; // an answer still pending at stop
    sim->setFaults(f);
    uint16_t r[3] = {};
    modbus_set_response_timeout(m.get(), 0, 50000);
    MB_EXPECT(modbus_read_input_registers(m.get(), 91, 3, r), -1);
    QElapsedTimer t;
    t.start();
    sim->stop();
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!sim->isRunning());
    sim->stop(); // twice is harmless
    // And it can start again on a new pty.
    QVERIFY(sim->start());
    sim->setFaults(SimFaults());
    Master again = openMaster(sim->slavePath(), 1);
    QVERIFY(again);
    MB_EXPECT(modbus_read_input_registers(again.get(), 91, 3, r), 3);
}

namespace {

// The read request for block 91, 3 registers (the codec's own example) and the answer bytes
// expected from a frozen controller with 91.0..2 = 0x0D48, 0x001E, 0xFFFE (CRC by hand
// through the bitwise algorithm: see tst_simcontroller).
const QByteArray kRead91 = QByteArray::fromHex("0104005B0003C1D8");

QByteArray exchange(QSerialPort &port, const QByteArray &request, int expected) {
    port.write(request);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < expected && t.elapsed() < 3000) {
        if (port.bytesAvailable() || port.waitForReadyRead(100))
            got += port.readAll();
    }
    return got;
}

} // namespace

void TestSimLink::qserialportReopen() {
    sim->setFrozen(true);
    sim->setReg(91, 0, 0x0D48);
    sim->setReg(91, 1, 0x001E);
    sim->setReg(91, 2, -2);
    for (int round = 0; round < 3; ++round) {
        QSerialPort port(sim->slavePath());
        port.setBaudRate(9600);
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        const QByteArray answer = exchange(port, kRead91, 11);
        QCOMPARE(answer.toHex(' '), QByteArray("01 04 06 0d 48 00 1e ff fe 21 f6"));
        port.close();
    }
}

void TestSimLink::noStaleAnswerAfterReopen() {
    // An answer that lands while the port is closed must not greet the next user of the port.
    sim->setFrozen(true);
    sim->setReg(91, 0, 0x0D48);
    SimFaults late;
    late.delayMs = 150;
    sim->setFaults(late);
    {
        QSerialPort port(sim->slavePath());
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(QByteArray::fromHex("010400020064") + QByteArray::fromHex("5021"));
        QVERIFY(port.waitForBytesWritten(1000));
        QTRY_COMPARE_WITH_TIMEOUT(sim->requestCount(), 1, 2000);
        port.close();
    }
    QTRY_COMPARE_WITH_TIMEOUT(sim->answerCount(), 1, 3000);
    sim->setFaults(SimFaults());
    QSerialPort port(sim->slavePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    const QByteArray answer = exchange(port, kRead91, 11);
    QCOMPARE(answer.left(5).toHex(' '), QByteArray("01 04 06 0d 48"));
    QCOMPARE(answer.size(), 11);
}

void TestSimLink::deviceMode() {
    // The simulator on an existing terminal: here the slave of a pty made by the test, whose
    // master plays the program's side.
    currentSim = nullptr;
    sim.reset();
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(grantpt(master) == 0 && unlockpt(master) == 0);
    const QString slave = QString::fromLocal8Bit(ptsname(master));
    PtySimulator dev;
    QVERIFY(dev.startOnDevice(slave, 19200));
    QCOMPARE(dev.slavePath(), slave);
    dev.setFrozen(true);
    dev.setReg(91, 0, 0x0D48);
    dev.setReg(91, 1, 0x001E);
    dev.setReg(91, 2, -2);
    QCOMPARE(int(::write(master, kRead91.constData(), 8)), 8);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < 11 && t.elapsed() < 3000) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buf[64];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0)
                got.append(buf, static_cast<int>(n));
        }
    }
    QCOMPARE(got.toHex(' '), QByteArray("01 04 06 0d 48 00 1e ff fe 21 f6"));
    // The other end goes away: the simulator keeps running quietly and stops promptly.
    ::close(master);
    QTRY_VERIFY_WITH_TIMEOUT(dev.isRunning(), 200);
    QElapsedTimer s;
    s.start();
    dev.stop();
    QVERIFY(s.elapsed() < 1000);
    QVERIFY(!dev.startOnDevice(QStringLiteral("/nonexistent/tty")));
}

void TestSimLink::standaloneProcess() {
    currentSim = nullptr;
    sim.reset();
    QProcess proc;
    proc.start(QStringLiteral(VADUZ_SIM_BIN), {"--pty", "--address", "5", "--devices", "4"});
    QVERIFY(proc.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(proc.canReadLine(), 5000);
    const QString path = QString::fromLocal8Bit(proc.readLine()).trimmed();
    QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));
    {
        Master m = openMaster(path, 5, 1000);
        QVERIFY(m);
        uint16_t r[100] = {};
        MB_EXPECT(modbus_read_input_registers(m.get(), 2, 100, r), 100);
        QCOMPARE(r[0], uint16_t(5));
        QCOMPARE(r[17], uint16_t(4));
        QVERIFY(r[1] <= 100);
        QVERIFY(r[32] >= 3200 && r[32] <= 3400);
        modbus_set_slave(m.get(), 1);
        modbus_set_response_timeout(m.get(), 0, 200000);
        MB_EXPECT(modbus_read_input_registers(m.get(), 2, 1, r), -1);
    }
    proc.terminate(); // SIGTERM to this process by its id
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 0);

    // Bad options are refused with a message and exit code 2.
    QProcess bad;
    bad.start(QStringLiteral(VADUZ_SIM_BIN), {"--pty", "--address", "300"});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--address"));
}

namespace {

// The read of block 2, 100 registers: its answer is 205 bytes.
const QByteArray kRead2 = QByteArray::fromHex("0104000200645021");
constexpr int kAnswer100 = 205;


bool crcValid(const QByteArray &frame) {
    if (frame.size() < 4)
        return false;
    const uint16_t crc = referenceCrc(frame.left(frame.size() - 2));
    return static_cast<uint8_t>(frame.at(frame.size() - 2)) == (crc & 0xFF) &&
           static_cast<uint8_t>(frame.at(frame.size() - 1)) == (crc >> 8);
}

// The program's end of the line as a plain descriptor.
struct PlainPort {
    explicit PlainPort(const QString &path)
        : fd(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~PlainPort() {
        if (fd >= 0)
            ::close(fd);
    }
    PlainPort(const PlainPort &) = delete;
    PlainPort &operator=(const PlainPort &) = delete;
    bool write(const QByteArray &bytes) const {
        return ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
    }
    int fd = -1;
};

// Bytes as they reached the port, each chunk with its time (ms on the test's clock).
struct Received {
    QByteArray bytes;
    QList<double> chunkMs;
    QList<int> chunkSize;
};

// Reads until `total` bytes have come (or timeoutMs has passed, or nothing more comes for
// quietMs once total is reached).
void receive(const PlainPort &port, const QElapsedTimer &clock, Received &into, int total,
             int timeoutMs = 3000) {
    const qint64 end = clock.elapsed() + timeoutMs;
    while (into.bytes.size() < total && clock.elapsed() < end) {
        pollfd p{port.fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        char buf[512];
        const ssize_t n = ::read(port.fd, buf, sizeof buf);
        if (n <= 0)
            continue;
        into.bytes.append(buf, static_cast<int>(n));
        into.chunkMs.append(clock.nsecsElapsed() / 1e6);
        into.chunkSize.append(static_cast<int>(n));
    }
}

// Whatever else comes within ms.
QByteArray trailing(const PlainPort &port, int ms) {
    QElapsedTimer t;
    t.start();
    QByteArray extra;
    while (t.elapsed() < ms) {
        pollfd p{port.fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) {
            char buf[512];
            const ssize_t n = ::read(port.fd, buf, sizeof buf);
            if (n > 0)
                extra.append(buf, static_cast<int>(n));
        }
    }
    return extra;
}

// When the i-th byte received came.
double byteMs(const Received &r, int i) {
    for (int c = 0, seen = 0; c < r.chunkSize.size(); ++c) {
        seen += r.chunkSize.at(c);
        if (i < seen)
            return r.chunkMs.at(c);
    }
    return -1;
}

} // namespace

void TestSimLink::lineShape_data() {
    QTest::addColumn<int>("pace");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<bool>("glitch");
    QTest::addColumn<bool>("halfDuplex");
    QTest::addColumn<int>("minMs");       // the request's write to the answer's last byte
    QTest::addColumn<int>("maxMs");       //
    QTest::addColumn<int>("minSpreadMs"); // the answer's first byte to its last
    // 8 + 205 characters: 222 ms of wire time at 9600, 18.5 ms at 115200.
    QTest::newRow("9600") << 9600 << false << false << false << 200 << 1500 << 150;
    QTest::newRow("115200") << 115200 << false << false << false << 15 << 500 << 10;
    QTest::newRow("9600, echo first") << 9600 << true << false << false << 200 << 1500 << 150;
    QTest::newRow("instant, echo first") << 0 << true << false << false << 0 << 500 << 0;
    QTest::newRow("9600, glitch in front") << 9600 << false << true << false << 200 << 1500 << 150;
    QTest::newRow("instant, glitch in front") << 0 << false << true << false << 0 << 500 << 0;
    QTest::newRow("9600, echo and glitch") << 9600 << true << true << false << 200 << 1500 << 150;
    QTest::newRow("9600 half-duplex, host waits")
        << 9600 << false << false << true << 200 << 1500 << 150;
}

void TestSimLink::lineShape() {
    QFETCH(int, pace);
    QFETCH(bool, echo);
    QFETCH(bool, glitch);
    QFETCH(bool, halfDuplex);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    QFETCH(int, minSpreadMs);
    SimFaults f;
    f.paceBaud = pace;
    f.echo = echo;
    f.glitch = glitch;
    f.halfDuplex = halfDuplex;
    sim->setFaults(f);
    PlainPort port(sim->slavePath());
    QVERIFY(port.fd >= 0);
    QElapsedTimer clock;
    clock.start();
    const double sent = clock.nsecsElapsed() / 1e6;
    QVERIFY(port.write(kRead2));
    const int front = (echo ? kRead2.size() : 0) + (glitch ? 1 : 0);
    Received got;
    receive(port, clock, got, front + kAnswer100);
    got.bytes += trailing(port, 100);
    QVERIFY2(got.bytes.size() == front + kAnswer100, qPrintable(got.bytes.toHex(' ') + simTrace()));
    if (echo)
        QCOMPARE(got.bytes.left(kRead2.size()).toHex(' '), kRead2.toHex(' '));
    const QByteArray answer = got.bytes.mid(front);
    QCOMPARE(answer.left(3).toHex(' '), QByteArray("01 04 c8"));
    QVERIFY(crcValid(answer));
    const double total = got.chunkMs.last() - sent;
    const double spread = got.chunkMs.last() - byteMs(got, front);
    const QString times = QStringLiteral("%1 ms in all, answer over %2 ms").arg(total).arg(spread);
    QVERIFY2(total >= minMs && total <= maxMs, qPrintable(times));
    QVERIFY2(spread >= minSpreadMs, qPrintable(times));
}

void TestSimLink::lineCollision() {
    // A second request while the answer to the first is on a shared pair: the rest of the
    // answer is garbled and the second request never reaches the controller.
    sim->setFrozen(true);
    SimFaults f;
    f.paceBaud = 9600;
    f.halfDuplex = true;
    sim->setFaults(f);
    // The clean answer to a read of block 1, 100 registers, from the controller's cells.
    const QByteArray read1 = QByteArray::fromHex("010400010064A021");
    QByteArray clean = QByteArray::fromHex("0104C8");
    for (int i = 0; i < 100; ++i) {
        const auto v = static_cast<uint16_t>(sim->reg(1, i));
        clean.append(static_cast<char>(v >> 8));
        clean.append(static_cast<char>(v & 0xFF));
    }
    const uint16_t crc = referenceCrc(clean);
    clean.append(static_cast<char>(crc & 0xFF));
    clean.append(static_cast<char>(crc >> 8));

    PlainPort port(sim->slavePath());
    QVERIFY(port.fd >= 0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.write(read1));
    Received got;
    receive(port, clock, got, 40);
    const QByteArray before = got.bytes;
    QVERIFY2(before.size() >= 40 && before.size() < 100, qPrintable(before.toHex(' ')));
    QVERIFY(port.write(kRead2));
    receive(port, clock, got, kAnswer100);
    got.bytes += trailing(port, 300); // nothing more: the second request went unheard
    QVERIFY2(got.bytes.size() == kAnswer100, qPrintable(got.bytes.toHex(' ') + simTrace()));
    QCOMPARE(got.bytes.left(before.size()), clean.left(before.size()));
    for (int i = kAnswer100 - 80; i < kAnswer100; ++i)
        QVERIFY2(got.bytes.at(i) != clean.at(i), qPrintable(QString::number(i)));
    QVERIFY(!crcValid(got.bytes));
    QCOMPARE(sim->requestCount(), 1);

    // Once the line is quiet, the next request is answered cleanly.
    QVERIFY(port.write(read1));
    Received again;
    receive(port, clock, again, kAnswer100);
    QCOMPARE(again.bytes.toHex(' '), clean.toHex(' '));
    QCOMPARE(sim->requestCount(), 2);
}

void TestSimLink::lineBursts_data() {
    QTest::addColumn<int>("pace");
    QTest::addColumn<int>("splitPieces");
    QTest::addColumn<int>("burstMs");
    QTest::addColumn<int>("minBursts");
    // 222 ms of paced bytes come in about 14 bursts; an instant answer in 8 pieces 5 ms apart
    // comes in 2 or 3.
    QTest::newRow("9600 in bursts of 16 ms") << 9600 << 0 << 16 << 5;
    QTest::newRow("split answer in bursts of 25 ms") << 0 << 8 << 25 << 2;
}

void TestSimLink::lineBursts() {
    QFETCH(int, pace);
    QFETCH(int, splitPieces);
    QFETCH(int, burstMs);
    QFETCH(int, minBursts);
    SimFaults f;
    f.paceBaud = pace;
    f.splitPieces = splitPieces;
    f.splitGapMs = 5;
    f.burstMs = burstMs;
    sim->setFaults(f);
    PlainPort port(sim->slavePath());
    QVERIFY(port.fd >= 0);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.write(kRead2));
    Received got;
    receive(port, clock, got, kAnswer100);
    QCOMPARE(got.bytes.size(), kAnswer100);
    QVERIFY(crcValid(got.bytes));
    // Chunks less than 2 ms apart are one burst (a write may be read in more than one go).
    QList<double> bursts;
    for (double ms : got.chunkMs) {
        if (bursts.isEmpty() || ms - bursts.last() >= 2.0)
            bursts.append(ms);
    }
    QList<double> gaps;
    for (int i = 1; i < bursts.size(); ++i)
        gaps.append(bursts.at(i) - bursts.at(i - 1));
    std::sort(gaps.begin(), gaps.end());
    QString text;
    for (double ms : bursts)
        text += QString::number(ms, 'f', 1) + QLatin1Char(' ');
    QVERIFY2(bursts.size() >= minBursts, qPrintable(text));
    // The median gap, so one late wake-up on a busy machine does not decide.
    QVERIFY2(gaps.at(gaps.size() / 2) >= 0.75 * burstMs, qPrintable(text));
}

void TestSimLink::lineBaudRate_data() {
    QTest::addColumn<int>("controllerBaud"); // 0: none set
    QTest::addColumn<int>("hostBaud");
    QTest::addColumn<int>("pace");
    QTest::addColumn<bool>("answered");
    QTest::newRow("no rate set, host at 9600") << 0 << 9600 << 0 << true;
    QTest::newRow("no rate set, host at 115200") << 0 << 115200 << 0 << true;
    QTest::newRow("19200 both") << 19200 << 19200 << 0 << true;
    QTest::newRow("19200 both, paced") << 19200 << 19200 << 19200 << true;
    QTest::newRow("controller 19200, host 9600") << 19200 << 9600 << 0 << false;
    QTest::newRow("controller 19200, host 9600, paced") << 19200 << 9600 << 9600 << false;
    QTest::newRow("controller 9600, host 115200") << 9600 << 115200 << 0 << false;
}

void TestSimLink::lineBaudRate() {
    QFETCH(int, controllerBaud);
    QFETCH(int, hostBaud);
    QFETCH(int, pace);
    QFETCH(bool, answered);
    sim->setBaudRate(controllerBaud);
    SimFaults f;
    f.paceBaud = pace;
    f.echo = true; // the host's own adapter echoes at the host's rate, understood or not
    sim->setFaults(f);
    PlainPort port(sim->slavePath());
    QVERIFY(port.fd >= 0);
    termios tio{};
    QCOMPARE(::tcgetattr(port.fd, &tio), 0);
    const speed_t speed = hostBaud == 9600 ? B9600 : hostBaud == 19200 ? B19200 : B115200;
    QCOMPARE(::cfsetspeed(&tio, speed), 0);
    QCOMPARE(::tcsetattr(port.fd, TCSANOW, &tio), 0);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(port.write(kRead2));
    Received got;
    receive(port, clock, got, kRead2.size() + (answered ? kAnswer100 : 0));
    got.bytes += trailing(port, 300);
    QCOMPARE(got.bytes.left(kRead2.size()).toHex(' '), kRead2.toHex(' '));
    QCOMPARE(got.bytes.size(), kRead2.size() + (answered ? kAnswer100 : 0));
    if (answered)
        QVERIFY(crcValid(got.bytes.mid(kRead2.size())));
    // The controller saw the request, or garbage in its place.
    QTRY_COMPARE_WITH_TIMEOUT(sim->requestCount(), 1, 2000);
    const SimRequest seen = sim->requests().value(0);
    QCOMPARE(seen.garbled, !answered);
    QCOMPARE(seen.frame == kRead2, answered);
}

void TestSimLink::standaloneLineOptions() {
    currentSim = nullptr;
    sim.reset();
    QProcess proc;
    proc.start(QStringLiteral(VADUZ_SIM_BIN), {"--pty", "--pace", "9600", "--echo"});
    QVERIFY(proc.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(proc.canReadLine(), 5000);
    const QString path = QString::fromLocal8Bit(proc.readLine()).trimmed();
    QVERIFY2(path.startsWith("/dev/pts/"), qPrintable(path));
    {
        PlainPort port(path);
        QVERIFY(port.fd >= 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port.write(kRead2));
        Received got;
        receive(port, clock, got, kRead2.size() + kAnswer100);
        QCOMPARE(got.bytes.size(), kRead2.size() + kAnswer100);
        QCOMPARE(got.bytes.left(kRead2.size()).toHex(' '), kRead2.toHex(' '));
        QVERIFY(crcValid(got.bytes.mid(kRead2.size())));
        QVERIFY2(got.chunkMs.last() >= 200, qPrintable(QString::number(got.chunkMs.last())));
    }
    proc.terminate(); // SIGTERM to this process by its id
    QVERIFY(proc.waitForFinished(5000));
    QCOMPARE(proc.exitCode(), 0);

    // A rate the line model cannot frame at is refused.
    QProcess bad;
    bad.start(QStringLiteral(VADUZ_SIM_BIN), {"--pty", "--pace", "300"});
    QVERIFY(bad.waitForFinished(5000));
    QCOMPARE(bad.exitCode(), 2);
    QVERIFY(bad.readAllStandardError().contains("--pace"));
}

QTEST_GUILESS_MAIN(TestSimLink)
#include "tst_simlink.moc"
