#include "framecodec.h"
#include "framing.h"
#include "linetiming.h"
#include "linkmonitor.h"
#include "mbapframing.h"
#include "receivescan.h"
#include "registermirror.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// The plain bitwise CRC-16/MODBUS, written from the polynomial, as an independent reference.
uint16_t referenceCrc(const uint8_t *p, int n) {
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

QByteArray bytes(const uint8_t *p, int n) {
    return QByteArray(reinterpret_cast<const char *>(p), n);
}

QByteArray withCrc(QByteArray frame) {
    const uint16_t crc =
        referenceCrc(reinterpret_cast<const uint8_t *>(frame.constData()), frame.size());
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

const uint8_t *u8(const QByteArray &a) {
    return reinterpret_cast<const uint8_t *>(a.constData());
}

} // namespace

class tst_FrameCodec : public QObject {
    Q_OBJECT
private slots:
    void init() {
        deviceAddr = 1;
        funcCode = 4;
    }

    void checkValue() {
        const QByteArray digits("123456789");
        QCOMPARE(crc16(0xFFFF, u8(digits), digits.size()), uint16_t(0x4B37));
    }

    void crcMatchesBitwiseReference() {
        QRandomGenerator rng(20261207);
        uint8_t buf[300];
        for (int round = 0; round < 5000; ++round) {
            const int n = int(rng.bounded(300));
            for (int i = 0; i < n; ++i)
                buf[i] = uint8_t(rng.bounded(256));
            QCOMPARE(crc16(0xFFFF, buf, n), referenceCrc(buf, n));
        }
    }

    void readFrame_data() {
        QTest::addColumn<int>("addr");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("block 2, 100 registers") << 1 << 2 << 100
                                                << QByteArray::fromHex("010400020064"
                                                                       "5021");
        QTest::newRow("block 91, 3 registers") << 1 << 91 << 3
                                               << QByteArray::fromHex("0104005B0003"
                                                                      "C1D8");
        QTest::newRow("address 2, block 0, 100 registers")
            << 2 << 0 << 100 << withCrc(QByteArray::fromHex("020400000064"));
    }
    void readFrame() {
        QFETCH(int, addr);
        QFETCH(int, block);
        QFETCH(int, count);
        QFETCH(QByteArray, expected);
        const Frame f =
            RtuFraming().encode(Request::read(uint8_t(addr), uint16_t(block), uint16_t(count)));
        QCOMPARE(f.length, 8);
        QCOMPARE(bytes(f.bytes, f.length).toHex(), expected.toHex().toLower());
    }

    void writeFrame_data() {
        QTest::addColumn<int>("reg");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("value 100 into register 5")
            << 5 << QByteArray::fromHex("0064") << QByteArray::fromHex("011000050001020064A7EE");
        QTest::newRow("three registers into register 75")
            << 75 << QByteArray::fromHex("414243444547")
            << withCrc(QByteArray::fromHex("1000"
                                           "4B0003"
                                           "06414243444547")
                           .prepend('\x01'));
    }
    void writeFrame() {
        QFETCH(int, reg);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, expected);
        const Frame f = RtuFraming().encode(
            Request::write(1, uint16_t(reg), u8(data), uint16_t(data.size() / 2)));
        QCOMPARE(f.length, expected.size());
        QCOMPARE(bytes(f.bytes, f.length).toHex(), expected.toHex().toLower());
    }

    void writeFrameNeverPastTheBuffer() {
        // A register count above what fits a frame is clamped to 123 registers (255 bytes).
        uint8_t data[512] = {};
        const Frame f = RtuFraming().encode(Request::write(1, 1, data, 200));
        QCOMPARE(f.length, 2 * 123 + 9);
        QCOMPARE(int(f.bytes[5]), 123);
        QVERIFY(isFrameComplete(f.bytes, f.length));
    }

    void completion_data() {
        QTest::addColumn<QByteArray>("run");
        QTest::addColumn<bool>("complete");
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("three bytes, never") << QByteArray::fromHex("01ffff") << false;
        QTest::newRow("three bytes with own crc") << withCrc(QByteArray::fromHex("01")) << false;
        QTest::newRow("four bytes ending with crc of first two")
            << withCrc(QByteArray::fromHex("0104")) << true;
        QTest::newRow("read answer") << withCrc(QByteArray::fromHex("010404000100020003")) << true;
        QTest::newRow("read answer missing last byte")
            << withCrc(QByteArray::fromHex("010404000100020003")).chopped(1) << false;
        QTest::newRow("stray byte before a valid answer")
            << withCrc(QByteArray::fromHex("0104020007")).prepend('\x55') << false;
        QTest::newRow("corrupt crc") << QByteArray::fromHex("0104020007ffff") << false;
    }
    void completion() {
        QFETCH(QByteArray, run);
        QFETCH(bool, complete);
        QCOMPARE(isFrameComplete(u8(run), run.size()), complete);
    }

    // The receive scan against a read of block 6, 2 registers, or a write of register 5.
    void scan_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("quiet");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("skipped");
        QTest::addColumn<int>("echo");
        QTest::addColumn<int>("length");
        const QByteArray read = withCrc(QByteArray::fromHex("010400060002"));
        const QByteArray answer = withCrc(QByteArray::fromHex("01040400010002"));
        const QByteArray write = withCrc(QByteArray::fromHex("0110000500010200 64"));
        const QByteArray echo = withCrc(QByteArray::fromHex("011000050001"));
        const QByteArray otherEcho = withCrc(QByteArray::fromHex("011000060001"));
        QByteArray broken = answer;
        broken[broken.size() - 1] = char(broken.at(broken.size() - 1) ^ 0x5A);
        const int W = int(RxState::Waiting), P = int(RxState::Partial), A = int(RxState::Answer),
                  F = int(RxState::Foreign);

        QTest::newRow("plain answer") << read << answer << false << A << 0 << 0 << 9;
        QTest::newRow("echo, then the answer")
            << read << read + answer << false << A << 8 << 8 << 9;
        QTest::newRow("echo still arriving") << read << read.left(5) << false << P << 0 << 0 << 0;
        QTest::newRow("echo alone") << read << read << false << W << 8 << 8 << 0;
        QTest::newRow("glitches around the echo")
            << read << QByteArray(1, '\0') + read + QByteArray(1, '\xff') + answer << false << A
            << 10 << 8 << 9;
        QTest::newRow("answer arriving") << read << answer.left(4) << false << P << 0 << 0 << 0;
        QTest::newRow("answer cut off by a quiet line")
            << read << answer.left(6) << true << W << 6 << 0 << 0;
        QTest::newRow("more registers than asked")
            << read << withCrc(QByteArray::fromHex("010406000100020003")) << true << W << 11 << 0
            << 0;
        QTest::newRow("odd byte count")
            << read << withCrc(QByteArray::fromHex("010403000100")) << true << W << 8 << 0 << 0;
        QTest::newRow("broken answer, then a whole one")
            << read << broken + answer << false << A << 9 << 0 << 9;
        QTest::newRow("another address")
            << read << withCrc(QByteArray::fromHex("02040400010002")) << false << F << 0 << 0 << 9;
        QTest::newRow("exception")
            << read << withCrc(QByteArray::fromHex("018402")) << false << A << 0 << 0 << 5;
        QTest::newRow("write: echo, then the answer")
            << write << write + echo << false << A << 11 << 11 << 8;
        QTest::newRow("write: another write's answer is skipped")
            << write << otherEcho + echo << false << A << 8 << 0 << 8;
        QTest::newRow("write: a read's answer is skipped")
            << write << answer + echo << false << A << 9 << 0 << 8;
    }
    void scan() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, received);
        QFETCH(bool, quiet);
        RxExpect e;
        e.request = u8(request);
        e.requestLength = request.size();
        e.addr = 1;
        e.func = uint8_t(request.at(1));
        e.maxRegs = e.func == 4 ? 2 : 0;
        const RxScan got = scanReceived(u8(received), received.size(), e, quiet);
        QTEST(int(got.state), "state");
        QTEST(got.skipped, "skipped");
        QTEST(got.echoBytes, "echo");
        QTEST(got.length, "length");
    }

    void charTime_data() {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<bool>("parity");
        QTest::addColumn<float>("stopBits");
        QTest::addColumn<int>("micros");
        QTest::newRow("9600 8N1") << 9600 << 8 << false << 1.0f << 1042;
        QTest::newRow("9600 8E1") << 9600 << 8 << true << 1.0f << 1146;
        QTest::newRow("9600 7N1.5") << 9600 << 7 << false << 1.5f << 990;
        QTest::newRow("115200 8N2") << 115200 << 8 << false << 2.0f << 96;
    }
    void charTime() {
        QFETCH(int, baud);
        QFETCH(int, dataBits);
        QFETCH(bool, parity);
        QFETCH(float, stopBits);
        QTEST(int(charMicros(baud, dataBits, parity, stopBits)), "micros");
    }

    // The link monitor's reading of every frame kind the link sends or takes.
    void monitorDecodes_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("fromHost");
        QTest::addColumn<QString>("meaning");
        QTest::addColumn<bool>("mbap");
        const QByteArray answer = withCrc(QByteArray::fromHex("010406") + QByteArray(6, '\0'));
        QByteArray badCrc = answer;
        badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 0x5A);
        QTest::newRow("read request") << QByteArray::fromHex("010400020064"
                                                             "5021")
                                      << true << "addr 1 read block 2, 100 registers" << false;
        QTest::newRow("read answer") << answer << false << "addr 1 answer to block 7: 3 registers" << false;
        QTest::newRow("read answer, bad CRC")
            << badCrc << false << "addr 1 answer to block 7: 3 registers, bad CRC" << false;
        QTest::newRow("write request") << withCrc(QByteArray::fromHex("0110004a0001020007")) << true
                                       << "addr 1 write register 74, 1 registers" << false;
        QTest::newRow("write confirmed") << withCrc(QByteArray::fromHex("0110004a0001")) << false
                                         << "addr 1 write confirmed: register 74, 1 registers" << false;
        QTest::newRow("exception") << withCrc(QByteArray::fromHex("019002")) << false
                                   << "addr 1 exception 2 (illegal data address) to function 16" << false;
        QTest::newRow("unknown exception code") << withCrc(QByteArray::fromHex("078409")) << false
                                                << "addr 7 exception 9 to function 4" << false;
        QTest::newRow("other function")
            << withCrc(QByteArray::fromHex("0103020001")) << false << "addr 1 function 3, 7 bytes" << false;
        QTest::newRow("fragment") << QByteArray::fromHex("0104") << false
                                  << "2 bytes, too short for a frame" << false;
        // Modbus TCP: transaction, protocol 0, length, unit, PDU.
        QTest::newRow("Modbus TCP read request")
            << QByteArray::fromHex("0005000000060104000200" "64") << true
            << "transaction 5 unit 1 read block 2, 100 registers" << true;
        QTest::newRow("Modbus TCP read answer")
            << QByteArray::fromHex("000500000009010406000100020003") << false
            << "transaction 5 unit 1 answer to block 7: 3 registers" << true;
        QTest::newRow("Modbus TCP write confirmed")
            << QByteArray::fromHex("002a0000000603100005" "0001") << false
            << "transaction 42 unit 3 write confirmed: register 5, 1 registers" << true;
        QTest::newRow("Modbus TCP exception")
            << QByteArray::fromHex("0102000000030184" "02") << false
            << "transaction 258 unit 1 exception 2 (illegal data address) to function 4" << true;
        QTest::newRow("Modbus TCP other function, length field wrong")
            << QByteArray::fromHex("00070000000901690203e8") << false
            << "transaction 7 unit 1 function 105, 11 bytes, length field 9 for 5 bytes" << true;
        QTest::newRow("Modbus TCP header only") << QByteArray::fromHex("00070000000101") << false
                                                << "7 bytes, too short for a frame" << true;
    }

    void monitorDecodes() {
        QFETCH(QByteArray, frame);
        QFETCH(bool, fromHost);
        QFETCH(bool, mbap);
        QTEST(describeFrame(frame, fromHost, 7, mbap ? MonitorFraming::Mbap : MonitorFraming::Rtu),
              "meaning");
    }

    // The longest answer a request can bring bounds the wait for it: a read of either function
    // brings its byte count and registers, a write the echo of register and count.
    void maxAnswerBytes_data() {
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("rtu");
        QTest::addColumn<int>("mbap");
        QTest::newRow("read input registers, 100") << 4 << 100 << 205 << 209;
        QTest::newRow("read holding registers, 100") << 3 << 100 << 205 << 209;
        QTest::newRow("read holding registers, 1") << 3 << 1 << 7 << 11;
        QTest::newRow("write of 6 registers") << 16 << 6 << 8 << 12;
    }
    void maxAnswerBytes() {
        QFETCH(int, function);
        QFETCH(int, count);
        Request r = Request::read(1, 2, uint16_t(count));
        r.function = uint8_t(function);
        QTEST(RtuFraming().maxAnswerBytes(r), "rtu");
        QTEST(MbapFraming().maxAnswerBytes(r), "mbap");
    }
};

QTEST_APPLESS_MAIN(tst_FrameCodec)
#include "tst_framecodec.moc"
