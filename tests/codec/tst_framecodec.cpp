#include "framecodec.h"
#include "registermirror.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

// The plain bitwise CRC-16/MODBUS, written from the polynomial, as an independent reference.
uint16_t referenceCrc(const uint8_t *p, int n)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

QByteArray bytes(const uint8_t *p, int n)
{
    return QByteArray(reinterpret_cast<const char *>(p), n);
}

QByteArray withCrc(QByteArray frame)
{
    const uint16_t crc =
        referenceCrc(reinterpret_cast<const uint8_t *>(frame.constData()), frame.size());
    frame.append(char(crc & 0xFF));
    frame.append(char(crc >> 8));
    return frame;
}

const uint8_t *u8(const QByteArray &a) { return reinterpret_cast<const uint8_t *>(a.constData()); }

} // namespace

class tst_FrameCodec : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        resetFrameBuffers();
        deviceAddr = 1;
        funcCode = 4;
    }

    void checkValue()
    {
        const QByteArray digits("123456789");
        QCOMPARE(crc16(0xFFFF, u8(digits), digits.size()), uint16_t(0x4B37));
    }

    void crcMatchesBitwiseReference()
    {
        QRandomGenerator rng(20261207);
        uint8_t buf[300];
        for (int round = 0; round < 5000; ++round) {
            const int n = int(rng.bounded(300));
            for (int i = 0; i < n; ++i)
                buf[i] = uint8_t(rng.bounded(256));
            QCOMPARE(crc16(0xFFFF, buf, n), referenceCrc(buf, n));
        }
    }

    void readFrame_data()
    {
        QTest::addColumn<int>("addr");
        QTest::addColumn<int>("block");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("block 2, 100 registers") << 1 << 2 << 100
                                               << QByteArray::fromHex("010400020064" "5021");
        QTest::newRow("block 91, 3 registers") << 1 << 91 << 3
                                               << QByteArray::fromHex("0104005B0003" "C1D8");
        QTest::newRow("address 2, block 0, 100 registers")
            << 2 << 0 << 100 << withCrc(QByteArray::fromHex("020400000064"));
    }
    void readFrame()
    {
        QFETCH(int, addr);
        QFETCH(int, block);
        QFETCH(int, count);
        QFETCH(QByteArray, expected);
        deviceAddr = uint8_t(addr);
        buildReadFrame(4, uint16_t(block), uint16_t(count));
        QCOMPARE(int(txLen), 8);
        QCOMPARE(bytes(txBuf, txLen).toHex(), expected.toHex().toLower());
    }

    void writeFrame_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("value 100 into register 5")
            << 5 << QByteArray::fromHex("0064") << QByteArray::fromHex("011000050001020064A7EE");
        QTest::newRow("three registers into register 75")
            << 75 << QByteArray::fromHex("414243444547")
            << withCrc(QByteArray::fromHex("1000" "4B0003" "06414243444547").prepend('\x01'));
    }
    void writeFrame()
    {
        QFETCH(int, reg);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, expected);
        buildWriteFrame(u8(data), 16, uint16_t(reg), uint16_t(data.size() / 2));
        QCOMPARE(int(txLen), expected.size());
        QCOMPARE(bytes(txBuf, txLen).toHex(), expected.toHex().toLower());
    }

    void writeFrameNeverPastTheBuffer()
    {
        // A register count above what fits a frame is clamped to 123 registers (255 bytes).
        uint8_t data[512] = {};
        buildWriteFrame(data, 16, 1, 200);
        QCOMPARE(int(txLen), 2 * 123 + 9);
        QCOMPARE(int(txBuf[5]), 123);
        QVERIFY(isFrameComplete(txBuf, txLen));
    }

    void completion_data()
    {
        QTest::addColumn<QByteArray>("run");
        QTest::addColumn<bool>("complete");
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("three bytes, never") << QByteArray::fromHex("01ffff") << false;
        QTest::newRow("three bytes with own crc") << withCrc(QByteArray::fromHex("01")) << false;
        QTest::newRow("four bytes ending with crc of first two")
            << withCrc(QByteArray::fromHex("0104")) << true;
        QTest::newRow("read answer") << withCrc(QByteArray::fromHex("010404000100020003"))
                                     << true;
        QTest::newRow("read answer missing last byte")
            << withCrc(QByteArray::fromHex("010404000100020003")).chopped(1) << false;
        QTest::newRow("stray byte before a valid answer")
            << withCrc(QByteArray::fromHex("0104020007")).prepend('\x55') << false;
        QTest::newRow("corrupt crc") << QByteArray::fromHex("0104020007ffff") << false;
    }
    void completion()
    {
        QFETCH(QByteArray, run);
        QFETCH(bool, complete);
        QCOMPARE(isFrameComplete(u8(run), run.size()), complete);
    }

    void check_data()
    {
        QTest::addColumn<int>("func");
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<int>("result");
        QTest::newRow("valid read answer") << 4 << withCrc(QByteArray::fromHex("0104020007")) << 0;
        QTest::newRow("byte count disagrees with data, still valid")
            << 4 << withCrc(QByteArray::fromHex("01040a0007")) << 0;
        QTest::newRow("other address") << 4 << withCrc(QByteArray::fromHex("0204020007")) << -1;
        QTest::newRow("exception answer to a read")
            << 4 << withCrc(QByteArray::fromHex("018402")) << -1;
        QTest::newRow("write answer checked against a read")
            << 4 << withCrc(QByteArray::fromHex("011000050001")) << -1;
        QTest::newRow("valid write echo") << 16 << withCrc(QByteArray::fromHex("011000050001"))
                                          << 0;
        QTest::newRow("bad crc") << 4 << QByteArray::fromHex("01040200070000") << -1;
    }
    void check()
    {
        QFETCH(int, func);
        QFETCH(QByteArray, response);
        QFETCH(int, result);
        funcCode = uint8_t(func);
        QCOMPARE(checkResponse(u8(response), uint16_t(response.size())), result);
    }

    void resetClearsBuffers()
    {
        buildReadFrame(4, 2, 100);
        rxBuf[10] = 0x55;
        rxLen = 11;
        resetFrameBuffers();
        QCOMPARE(int(txLen), 0);
        QCOMPARE(int(rxLen), 0);
        for (int i = 0; i < kFrameBufSize; ++i) {
            QCOMPARE(int(txBuf[i]), 0);
            QCOMPARE(int(rxBuf[i]), 0);
        }
    }
};

QTEST_APPLESS_MAIN(tst_FrameCodec)
#include "tst_framecodec.moc"
