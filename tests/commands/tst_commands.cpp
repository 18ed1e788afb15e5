// Parameter encodings, staging of single writes and the one-click list. Expected register bytes
// are worked out by hand from the values written beside each row.

#include "paramtable.h"
#include "registermirror.h"
#include "stagewrite.h"
#include "writelist.h"

#include <QPlainTextEdit>
#include <QWidget>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

namespace {

QByteArray stagedBytes() {
    const StagedWrite w = takeStagedWrite();
    return QByteArray(reinterpret_cast<const char *>(w.data), w.count * 2);
}

QByteArray entryBytes(const WriteListEntry &e) {
    return QByteArray(reinterpret_cast<const char *>(e.data), e.count * 2);
}

// A sentinel request, so that a rejected staging can be seen to leave it in place.
void stageSentinel() {
    const uint16_t word = 0xBEEF;
    stageWrite(&word, 999, 1, kDataWord);
    linkOp = 0;
    writePending = 0;
}

QPlainTextEdit *field(QWidget *parent, int n) {
    auto *edit = new QPlainTextEdit(parent);
    edit->setObjectName(QStringLiteral("W_Addr%1_text").arg(n));
    return edit;
}

} // namespace

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void paramTableHoles();
    void nameParsing_data();
    void nameParsing();

    void dataKinds_data();
    void dataKinds();
    void stagingReleasesRequest();
    void secondStagingReplacesFirst();

    void singleWrite_data();
    void singleWrite();
    void singleWriteRejected_data();
    void singleWriteRejected();
    void inputTip_data();
    void inputTip();
    void command();

    void listEntry_data();
    void listEntry();
    void listEntryNotQueued_data();
    void listEntryNotQueued();

    void listFollowsFieldOrder();
    void listRefusedWhole_data();
    void listRefusedWhole();
    void clearedFieldUnmarked_data();
    void clearedFieldUnmarked();
    void secondPressQueuesNothing();
    void singleWriteLeavesFlagSet();
    void untrackedFieldsAboveLimit();
    void everyTrackedParameterQueued();
    void rebuiltListNeverSeenHalfWritten();
    void listQueuedDuringRunSurvivesItsEnd();
    void connectDiscardsWhatWasStaged();
};

void TestCommands::initTestCase() {
    // A zone with daylight saving: the controller's clock must accept the hour the host skips.
    qputenv("TZ", "Europe/Berlin");
    tzset();
}

void TestCommands::init() {
    resetLinkState();
}

void TestCommands::paramTableHoles() {
    int count = 0;
    paramTable(&count);
    QCOMPARE(count, 102); // 1..108 without 92, 93, 98, 99, 101, 105
    for (int n : {0, 92, 93, 98, 99, 101, 105, 109})
        QVERIFY2(!paramInfo(n), qPrintable(QString::number(n)));
    for (int n : {1, 40, 74, 81, 84, 91, 94, 97, 100, 102, 104, 106, 108})
        QVERIFY2(paramInfo(n) && paramInfo(n)->number == n, qPrintable(QString::number(n)));
}

void TestCommands::nameParsing_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::newRow("edit field") << "W_Addr24_text" << 24;
    QTest::newRow("three digits") << "W_Addr108_text" << 108;
    QTest::newRow("button is no field") << "W_Addr24_btn" << 0;
    QTest::newRow("prefix is case-sensitive") << "w_addr24_text" << 0;
    QTest::newRow("suffix is case-sensitive") << "W_Addr24_Text" << 0;
    QTest::newRow("empty middle") << "W_Addr_text" << 0;
    QTest::newRow("middle no number") << "W_AddrX_text" << 0;
    QTest::newRow("read field") << "R_Addr2Num0_text" << 0;
    QTest::newRow("backup read field") << "R_Addr2Num0_backup_text" << 0;
    QTest::newRow("too short") << "W_Addr" << 0;
}

void TestCommands::nameParsing() {
    QFETCH(QString, name);
    QFETCH(int, n);
    QCOMPARE(paramNumberFromName(name), n);
}

void TestCommands::dataKinds_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("input");    // native bytes the data pointer points at
    QTest::addColumn<QByteArray>("expected"); // first bytes of writeData; the rest must be 0

    const uint16_t words[3] = {0x1234, 0xABCD, 0x0001};
    const QByteArray wordBytes(reinterpret_cast<const char *>(words), sizeof words);
    const uint32_t dword = 0x12345678;
    const QByteArray dwordBytes(reinterpret_cast<const char *>(&dword), sizeof dword);

    QTest::newRow("byte goes to the low byte")
        << 1 << 1 << QByteArray("\xAB", 1) << QByteArray::fromHex("00ab");
    QTest::newRow("word high byte first") << 2 << 1 << wordBytes << QByteArray::fromHex("1234");
    QTest::newRow("words, none for count 0") << 3 << 0 << wordBytes << QByteArray();
    QTest::newRow("words, one") << 3 << 1 << wordBytes << QByteArray::fromHex("1234");
    QTest::newRow("words, three") << 3 << 3 << wordBytes << QByteArray::fromHex("1234abcd0001");
    QTest::newRow("32-bit value high word first")
        << 4 << 2 << dwordBytes << QByteArray::fromHex("12345678");
    QTest::newRow("raw bytes unchanged") << 5 << 2 << QByteArray("ABCDEF") << QByteArray("ABCD");
    QTest::newRow("unknown kind writes nothing") << 7 << 1 << wordBytes << QByteArray();
}

void TestCommands::dataKinds() {
    QFETCH(int, kind);
    QFETCH(int, count);
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);

    uint8_t out[kWriteDataSize];
    std::memset(out, 0x5A, sizeof out); // must be cleared whatever was there
    fillWriteData(out, input.constData(), static_cast<uint8_t>(count), static_cast<uint8_t>(kind));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), expected.size()), expected);
    for (int i = expected.size(); i < kWriteDataSize; ++i)
        QVERIFY2(out[i] == 0, qPrintable(QStringLiteral("byte %1").arg(i)));
}

void TestCommands::stagingReleasesRequest() {
    uint8_t out[kWriteDataSize];
    fillWriteData(out, nullptr, 4, kDataRaw);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(out), 8), QByteArray(8, '\0'));

    QCOMPARE(int(linkOp), 0);
    const uint16_t value = 100;
    stageWrite(&value, 5, 1, kDataWords);
    QCOMPARE(int(writePending), 1);
    QCOMPARE(int(linkOp), 1);
    const StagedWrite w = takeStagedWrite();
    QCOMPARE(int(w.func), 16);
    QCOMPARE(int(w.start), 5);
    QCOMPARE(int(w.count), 1);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(w.data), 4),
             QByteArray::fromHex("00640000"));
}

void TestCommands::secondStagingReplacesFirst() {
    QVERIFY(stageParamWrite(79, QStringLiteral("ABCDEF")));
    QVERIFY(stageParamWrite(24, QStringLiteral("1")));
    const StagedWrite w = takeStagedWrite();
    QCOMPARE(int(w.start), 24);
    QCOMPARE(int(w.count), 1);
    // Nothing of the longer first request is left behind the second one's data.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(w.data), 6),
             QByteArray::fromHex("03e800000000"));
}

void TestCommands::singleWrite_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected"); // register count = size / 2

    QTest::newRow("milli 3.65 -> 3650") << 24 << "3.65" << QByteArray::fromHex("0e42");
    QTest::newRow("milli 3.3 rounds to 3300") << 24 << "3.3" << QByteArray::fromHex("0ce4");
    QTest::newRow("milli 5 top of the cell voltage range")
        << 38 << "5" << QByteArray::fromHex("1388");
    QTest::newRow("milli 0") << 30 << "0" << QByteArray::fromHex("0000");
    QTest::newRow("milli .5 and sign") << 25 << "+.5" << QByteArray::fromHex("01f4");
    QTest::newRow("deci 0.25 -> 3") << 41 << "0.25" << QByteArray::fromHex("0003");
    QTest::newRow("deci signed -0.25 -> -3") << 47 << "-0.25" << QByteArray::fromHex("fffd");
    QTest::newRow("deci signed -3276.8 bottom") << 49 << "-3276.8" << QByteArray::fromHex("8000");
    QTest::newRow("deci signed 3276.7 top") << 50 << "3276.7" << QByteArray::fromHex("7fff");
    QTest::newRow("deci 6553.5 top") << 41 << "6553.5" << QByteArray::fromHex("ffff");
    QTest::newRow("deci 4.1 -> 41") << 53 << "4.1" << QByteArray::fromHex("0029");
    QTest::newRow("deci page 2 1.5 -> 15") << 96 << "1.5" << QByteArray::fromHex("000f");
    QTest::newRow("int 65535 top") << 1 << "65535" << QByteArray::fromHex("ffff");
    QTest::newRow("int signed -1") << 8 << "-1" << QByteArray::fromHex("ffff");
    QTest::newRow("int signed -32768 bottom") << 15 << "-32768" << QByteArray::fromHex("8000");
    QTest::newRow("int signed 32767 top") << 72 << "32767" << QByteArray::fromHex("7fff");
    QTest::newRow("delay 0") << 58 << "0" << QByteArray::fromHex("0000");
    QTest::newRow("percentage 100") << 64 << "100" << QByteArray::fromHex("0064");
    QTest::newRow("temperature -40") << 10 << "-40" << QByteArray::fromHex("ffd8");
    QTest::newRow("temperature 150") << 52 << "150" << QByteArray::fromHex("0096");
    QTest::newRow("deci set point 150") << 102 << "150" << QByteArray::fromHex("05dc");
    QTest::newRow("int leading zeros and plus") << 2 << "+007" << QByteArray::fromHex("0007");
    QTest::newRow("int typed line break ignored") << 5 << " 100\n" << QByteArray::fromHex("0064");
    QTest::newRow("int single-word kind 88") << 88 << "-40" << QByteArray::fromHex("ffd8");
    QTest::newRow("int host id 84") << 84 << "2" << QByteArray::fromHex("0002");
    QTest::newRow("int page 1 108") << 108 << "3400" << QByteArray::fromHex("0d48");
    QTest::newRow("half 7 -> 3") << 40 << "7" << QByteArray::fromHex("0003");
    QTest::newRow("half 131071 -> 65535") << 40 << "131071" << QByteArray::fromHex("ffff");
    QTest::newRow("text ABCDEF fills 3 registers")
        << 79 << "ABCDEF" << QByteArray::fromHex("414243444546");
    QTest::newRow("text empty is zeros") << 79 << "" << QByteArray::fromHex("000000000000");
    QTest::newRow("text A padded with zeros") << 79 << "A" << QByteArray::fromHex("410000000000");
    QTest::newRow("text UTF-8 bytes")
        << 80 << QString::fromUtf8("\u00b0C") << QByteArray::fromHex("c2b04300000000000000");
    QTest::newRow("text 12 registers full")
        << 77 << "ABCDEFGHIJKLMNOPQRSTUVWX" << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWX");
    QTest::newRow("date and time")
        << 74 << "2024-03-05 07:08:09" << QByteArray::fromHex("001800030005000700080009");
    QTest::newRow("date before 2000")
        << 74 << "1999-12-31 23:59:59" << QByteArray::fromHex("ffff000c001f0017003b003b");
    QTest::newRow("date in the host's daylight-saving gap")
        << 74 << "2024-03-31 02:30:00" << QByteArray::fromHex("00180003001f0002001e0000");
    QTest::newRow("date with typed line break") << 74 << "2024-03-05 07:08:09\n"
                                                << QByteArray::fromHex("001800030005000700080009");
}

void TestCommands::singleWrite() {
    QFETCH(int, n);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);

    QVERIFY(stageParamWrite(n, text));
    const StagedWrite w = takeStagedWrite();
    QCOMPARE(int(w.func), 16);
    QCOMPARE(int(w.start), n);
    QCOMPARE(int(w.count), expected.size() / 2);
    QCOMPARE(stagedBytes(), expected);
    QCOMPARE(int(w.data[expected.size()]), 0);
    QCOMPARE(int(writePending), 1);
    QCOMPARE(int(linkOp), 1);

    // One-click setup sends a tracked parameter exactly as its Set button does.
    if (n <= kTrackedParamMax) {
        WriteListEntry e;
        QVERIFY(encodeListEntry(n, text, &e));
        QCOMPARE(int(e.reg), n);
        QCOMPARE(entryBytes(e), expected);
    }
}

void TestCommands::singleWriteRejected_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::newRow("no 30 February") << 74 << "2024-02-30 10:00:00";
    QTest::newRow("date without time") << 74 << "2024-03-05";
    QTest::newRow("hour 25") << 74 << "2024-03-05 25:00:00";
    QTest::newRow("slashes") << 74 << "2024/03/05 07:08:09";
    QTest::newRow("empty date") << 74 << "";
    QTest::newRow("command has no field") << 81 << "1";
    QTest::newRow("no parameter 92") << 92 << "1";
    QTest::newRow("no parameter 0") << 0 << "1";
    QTest::newRow("no parameter 109") << 109 << "1";
    // Text that is no number of the parameter's kind.
    QTest::newRow("milli unit typed") << 24 << "3.6V";
    QTest::newRow("milli decimal comma") << 24 << "3,65";
    QTest::newRow("milli letters") << 24 << "abc";
    QTest::newRow("milli empty") << 24 << "";
    QTest::newRow("milli blanks only") << 24 << " \n";
    QTest::newRow("milli exponent") << 24 << "1e1";
    QTest::newRow("milli infinity") << 24 << "inf";
    QTest::newRow("milli two points") << 24 << "1.2.3";
    QTest::newRow("milli sign alone") << 24 << "-";
    QTest::newRow("deci letters") << 96 << "x";
    QTest::newRow("int decimal point") << 4 << "95.5";
    QTest::newRow("int letters") << 1 << "abc";
    QTest::newRow("int empty") << 1 << "";
    QTest::newRow("int hexadecimal") << 85 << "0x10";
    QTest::newRow("int two numbers") << 58 << "1 2";
    QTest::newRow("half decimal") << 40 << "7.5";
    // Values the register cannot hold, after scaling.
    QTest::newRow("int 70000 above 65535") << 1 << "70000";
    QTest::newRow("int beyond 64 bits") << 2 << "99999999999999999999";
    QTest::newRow("int unsigned -1") << 1 << "-1";
    QTest::newRow("int signed 32768") << 5 << "32768";
    QTest::newRow("int signed -32769") << 84 << "-32769";
    QTest::newRow("int unsigned page 2 65536") << 108 << "65536";
    QTest::newRow("half unsigned -7") << 40 << "-7";
    QTest::newRow("half 131072") << 40 << "131072";
    QTest::newRow("milli 99999999") << 24 << "99999999";
    QTest::newRow("milli 65.5355 rounds to 65536") << 24 << "65.5355";
    QTest::newRow("milli unsigned -0.0005") << 30 << "-0.0005";
    // Ranges by meaning, at and past their limits.
    QTest::newRow("negative delay") << 58 << "-5";
    QTest::newRow("delay above the signed register") << 58 << "32768";
    QTest::newRow("percentage above 100") << 64 << "101";
    QTest::newRow("negative percentage") << 9 << "-1";
    QTest::newRow("cell voltage above 5 V") << 24 << "5.001";
    QTest::newRow("cell voltage rounding to 0 from below") << 30 << "-0.0004";
    QTest::newRow("temperature below -40") << 10 << "-41";
    QTest::newRow("temperature above 150") << 52 << "151";
    QTest::newRow("deci temperature above 150") << 102 << "150.1";
    QTest::newRow("negative temperature difference") << 94 << "-1";
    QTest::newRow("switch 2") << 21 << "2";
    QTest::newRow("work mode 5") << 86 << "5";
    QTest::newRow("host id 0") << 84 << "0";
    QTest::newRow("balancing voltage above 5000 mV") << 106 << "5001";
    QTest::newRow("negative retries") << 68 << "-1";
    QTest::newRow("milli 70 is 70000") << 38 << "70";
    QTest::newRow("deci unsigned -0.1") << 41 << "-0.1";
    QTest::newRow("deci unsigned 6553.6") << 103 << "6553.6";
    QTest::newRow("deci signed 3276.8") << 42 << "3276.8";
    QTest::newRow("deci signed -3276.9") << 54 << "-3276.9";
    // Texts longer than their registers.
    QTest::newRow("text 7 bytes in 3 registers") << 79 << "ABCDEFG";
    QTest::newRow("text 26 bytes in 12 registers") << 77 << "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    QTest::newRow("text two-byte letter overflows") << 79 << QString::fromUtf8("ABCDE\u00b0");
}

void TestCommands::singleWriteRejected() {
    QFETCH(int, n);
    QFETCH(QString, text);
    stageSentinel();
    QVERIFY(!stageParamWrite(n, text));
    QCOMPARE(int(takeStagedWrite().start), 999);
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(writePending), 0);
    // Nor is it taken into a one-click list.
    WriteListEntry e;
    QVERIFY(!encodeListEntry(n, text, &e));
}

void TestCommands::inputTip_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("tip");
    // The caption and unit beside the field, and the range its meaning allows.
    QTest::newRow("count") << 1
                           << "Packs per Rack takes a whole number from 0 to 65535, for example "
                              "100.";
    QTest::newRow("signed register, no meaning range")
        << 15 << "CAN Protocol takes a whole number from -32768 to 32767, for example -10.";
    QTest::newRow("delay of a signed register")
        << 58 << "OV Warning Delay (s) takes a whole number from 0 to 32767, for example 100.";
    QTest::newRow("temperature") << 52
                                 << "Heater Start Temp (°C) takes a whole number from -40 to "
                                    "150, for example -10.";
    QTest::newRow("switch")
        << 13 << "Auto Restart (0/1) takes a whole number from 0 to 1, for example 1.";
    QTest::newRow("percentage") << 64
                                << "SOC High Warning (%) takes a whole number from 0 to 100, for "
                                   "example 100.";
    QTest::newRow("half") << 40
                          << "Limit Delay (×2 s) takes a whole number from 0 to 131071, for "
                             "example 100.";
    QTest::newRow("cell voltage") << 24
                                  << "Cell OV Warning (V) takes a number from 0 to 5, for example "
                                     "3.65.";
    QTest::newRow("deci set point") << 103
                                    << "Heating Set Point (°C) takes a number from 0 to 150, "
                                       "for example 25.5.";
    QTest::newRow("deci temperature") << 51
                                      << "Charge Temp High (°C) takes a number from -40 to "
                                         "150, for example -2.5.";
    QTest::newRow("voltage of a signed register")
        << 42 << "Total UV Warning (V) takes a number from 0 to 3276.7, for example 25.5.";
    QTest::newRow("label caption") << 108
                                   << "BalStoptVoltDiff (mV) takes a whole number from 0 to 5000, "
                                      "for example 100.";
    QTest::newRow("text") << 79
                          << "Region Code takes a text of at most 6 bytes (a letter or digit is "
                             "one byte), for example ABC123.";
    QTest::newRow("date and time") << 74
                                   << "Date and Time takes a date and time as yyyy-MM-dd "
                                      "hh:mm:ss, for example 2024-03-05 07:08:09.";
    QTest::newRow("command has no field") << 81 << "";
    QTest::newRow("no parameter") << 92 << "";
}

void TestCommands::inputTip() {
    QFETCH(int, n);
    QFETCH(QString, tip);
    QCOMPARE(paramInputTip(n), tip);
}

void TestCommands::command() {
    stageCommand(81);
    const StagedWrite w = takeStagedWrite();
    QCOMPARE(int(w.start), 81);
    QCOMPARE(int(w.count), 1);
    QCOMPARE(stagedBytes(), QByteArray::fromHex("0001"));
    QCOMPARE(int(linkOp), 1);
}

void TestCommands::listEntry_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("milli 3.65 -> 3650") << 24 << "3.65" << QByteArray::fromHex("0e42");
    QTest::newRow("milli 3.3 rounds to 3300 as Set") << 24 << "3.3" << QByteArray::fromHex("0ce4");
    QTest::newRow("deci 0.25 rounds to 3 as Set") << 41 << "0.25" << QByteArray::fromHex("0003");
    QTest::newRow("deci 4.1 -> 41 as Set") << 41 << "4.1" << QByteArray::fromHex("0029");
    QTest::newRow("deci -0.25 rounds to -3 as Set") << 47 << "-0.25" << QByteArray::fromHex("fffd");
    QTest::newRow("int 76") << 76 << "2" << QByteArray::fromHex("0002");
    QTest::newRow("half 7 -> 3 for 40") << 40 << "7" << QByteArray::fromHex("0003");
    QTest::newRow("int host id 84") << 84 << "7" << QByteArray::fromHex("0007");
    QTest::newRow("date and time six registers")
        << 74 << "2024-03-05 07:08:09" << QByteArray::fromHex("001800030005000700080009");
    QTest::newRow("text ABCDEF in three registers")
        << 79 << "ABCDEF" << QByteArray::fromHex("414243444546");
    QTest::newRow("text 73 in ten registers")
        << 73 << "SN01" << QByteArray("SN01").append(16, '\0');
    QTest::newRow("text 75 in 22 bytes")
        << 75 << "0123456789ABCDEFGHIJKL" << QByteArray("0123456789ABCDEFGHIJKL");
}

void TestCommands::listEntry() {
    QFETCH(int, n);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);

    WriteListEntry e;
    std::memset(e.data, 0x5A, sizeof e.data);
    QVERIFY(encodeListEntry(n, text, &e));
    QCOMPARE(int(e.reg), n);
    QCOMPARE(int(e.count), expected.size() / 2);
    QCOMPARE(entryBytes(e), expected);
}

void TestCommands::listEntryNotQueued_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::newRow("invalid date") << 74 << "2024-02-30 10:00:00";
    QTest::newRow("text too long") << 75 << "0123456789ABCDEFGHIJKLM";
    QTest::newRow("above 84") << 85 << "1";
    QTest::newRow("command") << 82 << "1";
    QTest::newRow("no parameter") << 0 << "1";
}

void TestCommands::listEntryNotQueued() {
    QFETCH(int, n);
    QFETCH(QString, text);
    WriteListEntry e;
    QVERIFY(!encodeListEntry(n, text, &e));
}

void TestCommands::listFollowsFieldOrder() {
    // Fields on two pages in creation order; 8 is created before 3. Read fields, buttons and
    // other edits among them are no parameter fields.
    QWidget window;
    auto *page1 = new QWidget(&window);
    auto *f8 = field(page1, 8);
    auto *readField = new QPlainTextEdit(page1);
    readField->setObjectName(QStringLiteral("R_Addr2Num18_text"));
    auto *f3 = field(page1, 3);
    auto *page2 = new QWidget(&window);
    auto *f24 = field(page2, 24);
    auto *button = new QWidget(page2);
    button->setObjectName(QStringLiteral("W_Addr24_btn"));
    const auto fields = trackedParamFields({page1, f8, readField, f3, page2, f24, button});
    QCOMPARE(fields, (QList<QPlainTextEdit *>{f8, f3, f24}));
    connectEditTracking(fields);

    f24->setPlainText(QStringLiteral("3.65"));
    f3->setPlainText(QStringLiteral("30"));
    f8->setPlainText(QStringLiteral("80"));
    readField->setPlainText(QStringLiteral("1"));

    QCOMPARE(queueOneClickSetup(fields, 2), 3);
    QCOMPARE(int(linkOp), 2);
    WriteListEntry list[kWriteListEntries];
    QCOMPARE(takeWriteList(list), 3);
    QCOMPARE(int(list[0].reg), 8);
    QCOMPARE(entryBytes(list[0]), QByteArray::fromHex("0050"));
    QCOMPARE(int(list[1].reg), 3);
    QCOMPARE(entryBytes(list[1]), QByteArray::fromHex("001e"));
    QCOMPARE(int(list[2].reg), 24);
    QCOMPARE(entryBytes(list[2]), QByteArray::fromHex("0e42"));
}

void TestCommands::listRefusedWhole_data() {
    QTest::addColumn<int>("bad");
    QTest::addColumn<QString>("text");
    QTest::newRow("letters in an integer") << 3 << "abc";
    QTest::newRow("decimal in an integer") << 4 << "95.5";
    QTest::newRow("milli out of range") << 24 << "99999999";
    QTest::newRow("invalid date") << 74 << "2024-02-30 10:00:00";
    QTest::newRow("text too long") << 79 << "ABCDEFG";
    QTest::newRow("negative delay") << 58 << "-5";
}

void TestCommands::clearedFieldUnmarked_data() {
    QTest::addColumn<QString>("last");
    QTest::addColumn<int>("queued"); // entries the one-click list takes: field 8 and field 3
    QTest::newRow("cleared") << "" << 1;
    QTest::newRow("blanks and a line break") << "  \n" << 1;
    QTest::newRow("changed, not cleared") << "7" << 2;
}

void TestCommands::clearedFieldUnmarked() {
    // Field 3 is typed into and then set to `last`; field 8 holds a good value throughout.
    QFETCH(QString, last);
    QFETCH(int, queued);
    QWidget window;
    auto *f8 = field(&window, 8);
    auto *f3 = field(&window, 3);
    const auto fields = trackedParamFields({f8, f3});
    connectEditTracking(fields);
    f8->setPlainText(QStringLiteral("80"));
    f3->setPlainText(QStringLiteral("5"));
    f3->setPlainText(last);
    QCOMPARE(int(paramEdited[3]), queued - 1);
    WriteListEntry entries[kWriteListEntries];
    QCOMPARE(buildWriteList(fields, entries), queued);
    QCOMPARE(int(entries[0].reg), 8);
}

void TestCommands::listRefusedWhole() {
    // Two good fields around the bad one: none of them is queued, every mark stays.
    QFETCH(int, bad);
    QFETCH(QString, text);
    QWidget window;
    auto *before = field(&window, 8);
    auto *badField = field(&window, bad);
    auto *after = field(&window, 30);
    const auto fields = trackedParamFields({before, badField, after});
    connectEditTracking(fields);
    before->setPlainText(QStringLiteral("80"));
    badField->setPlainText(text);
    after->setPlainText(QStringLiteral("3.65"));

    int refused = 0;
    QCOMPARE(queueOneClickSetup(fields, 2, &refused), -1);
    QCOMPARE(refused, bad);
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(writeListCount), 0);
    for (int n : {8, bad, 30})
        QVERIFY2(paramEdited[n] == 1, qPrintable(QString::number(n)));
    QCOMPARE(badField->toPlainText(), text);
}

void TestCommands::secondPressQueuesNothing() {
    QWidget window;
    auto *f3 = field(&window, 3);
    const auto fields = trackedParamFields({f3});
    connectEditTracking(fields);
    f3->setPlainText(QStringLiteral("1"));
    QCOMPARE(queueOneClickSetup(fields, 3), 1);
    QCOMPARE(int(linkOp), 3);
    QCOMPARE(int(writeListCount), 1);

    linkOp = 0; // the worker has taken it
    QCOMPARE(queueOneClickSetup(fields, 3), 0);
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(paramEdited[3]), 0);
}

void TestCommands::singleWriteLeavesFlagSet() {
    QWidget window;
    auto *f5 = field(&window, 5);
    const auto fields = trackedParamFields({f5});
    connectEditTracking(fields);
    f5->setPlainText(QStringLiteral("100"));
    QVERIFY(stageParamWrite(5, f5->toPlainText()));
    QCOMPARE(int(paramEdited[5]), 1);
    QCOMPARE(queueOneClickSetup(fields, 2), 1);
}

void TestCommands::untrackedFieldsAboveLimit() {
    QWidget window;
    auto *f85 = field(&window, 85);
    auto *f108 = field(&window, 108);
    auto *other = new QPlainTextEdit(&window);
    other->setObjectName(QStringLiteral("needReadFaultCnt_text"));
    const auto fields = trackedParamFields({f85, f108, other});
    QVERIFY(fields.isEmpty());
    connectEditTracking({f85, f108, other});
    f85->setPlainText(QStringLiteral("1"));
    f108->setPlainText(QStringLiteral("1"));
    other->setPlainText(QStringLiteral("1"));
    for (int n = 0; n < kParamCount; ++n)
        QCOMPARE(int(paramEdited[n]), 0);
    QCOMPARE(queueOneClickSetup({f85, f108, other}, 2), 0);
    QCOMPARE(int(linkOp), 0);
}

void TestCommands::everyTrackedParameterQueued() {
    QWidget window;
    QList<QWidget *> widgets;
    for (int n = 84; n >= 1; --n)
        if (n < 81 || n > 83)
            widgets << field(&window, n);
    const auto fields = trackedParamFields(widgets);
    QCOMPARE(fields.size(), 81);
    connectEditTracking(fields);
    for (QPlainTextEdit *f : fields)
        f->setPlainText(paramNumberFromName(f->objectName()) == 74
                            ? QStringLiteral("2024-03-05 07:08:09")
                            : QStringLiteral("1"));
    WriteListEntry list[kWriteListEntries];
    QCOMPARE(buildWriteList(fields, list), 81);
    QCOMPARE(int(list[0].reg), 84);
    QCOMPARE(int(list[80].reg), 1);
    for (int n = 1; n <= 84; ++n)
        QCOMPARE(int(paramEdited[n]), 0);
}

void TestCommands::rebuiltListNeverSeenHalfWritten() {
    // The worker takes its copy of the list while the operator rebuilds it. Every copy must be
    // one whole build: all entries carry the same value, and their number is the one that build
    // queued (value % 3 + 1).
    QWidget window;
    QPlainTextEdit *fields[3] = {field(&window, 1), field(&window, 2), field(&window, 3)};
    const auto tracked = trackedParamFields({fields[0], fields[1], fields[2]});
    connectEditTracking(tracked);

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> taken{0};
    std::thread worker([&] {
        WriteListEntry copy[kWriteListEntries];
        while (!done.load(std::memory_order_acquire)) {
            std::this_thread::yield();
            if (linkOp.load(std::memory_order_acquire) != 2)
                continue;
            const int n = takeWriteList(copy);
            if (n == 0)
                continue;
            const int value = (copy[0].data[0] << 8) | copy[0].data[1];
            bool whole = n == value % 3 + 1;
            for (int i = 1; i < n; ++i)
                whole = whole && copy[i].data[0] == copy[0].data[0] &&
                        copy[i].data[1] == copy[0].data[1];
            if (!whole)
                torn.fetch_add(1);
            taken.fetch_add(1);
        }
    });
    for (int value = 1; value <= 3000; ++value) {
        const int k = value % 3 + 1;
        for (int i = 0; i < k; ++i)
            fields[i]->setPlainText(QString::number(value));
        QCOMPARE(queueOneClickSetup(tracked, 2), k);
    }
    QTRY_VERIFY_WITH_TIMEOUT(taken.load() > 0, 5000);
    done.store(true, std::memory_order_release);
    worker.join();
    QCOMPARE(torn.load(), 0);
}

void TestCommands::listQueuedDuringRunSurvivesItsEnd() {
    WriteListEntry a[2];
    a[0].reg = 8;
    a[0].count = 1;
    a[1].reg = 3;
    a[1].count = 1;
    WriteListEntry b[1];
    b[0].reg = 5;
    b[0].count = 1;
    WriteListEntry copy[kWriteListEntries];
    uint32_t generation = 0;

    // The worker takes list A to every address; while it runs, list B is queued for the
    // current address and then again for every address.
    for (uint8_t opB : {uint8_t(2), uint8_t(3)}) {
        queueWriteList(a, 2, 3);
        QCOMPARE(takeWriteList(copy, &generation), 2);
        queueWriteList(b, 1, opB);
        QVERIFY(!finishWriteList(generation, 3)); // A's end must not drop B
        QCOMPARE(int(linkOp), int(opB));
        QCOMPARE(int(writeListCount), 1);
        QCOMPARE(takeWriteList(copy, &generation), 1);
        QCOMPARE(int(copy[0].reg), 5);
        QVERIFY(finishWriteList(generation, opB));
        QCOMPARE(int(linkOp), 0);
        QCOMPARE(int(writeListCount), 0);
    }

    // A single write staged during a run is performed when the run ends.
    queueWriteList(a, 2, 2);
    takeWriteList(copy, &generation);
    stageCommand(81);
    QCOMPARE(int(linkOp), 2);
    QVERIFY(finishWriteList(generation, 2));
    QCOMPARE(int(linkOp), 1);
    QCOMPARE(int(writeListCount), 0);

    // Staged while the list waits for the worker: the list stays named, runs whole, and the
    // write follows it.
    resetLinkState();
    queueWriteList(a, 2, 3);
    stageCommand(82);
    QCOMPARE(int(linkOp), 3);
    QCOMPARE(int(writePending), 1);
    QCOMPARE(takeWriteList(copy, &generation), 2);
    QVERIFY(finishWriteList(generation, 3));
    QCOMPARE(int(linkOp), 1);
    QCOMPARE(int(takeStagedWrite().start), 82);
}

void TestCommands::connectDiscardsWhatWasStaged() {
    WriteListEntry a[1];
    a[0].reg = 8;
    a[0].count = 1;
    queueWriteList(a, 1, 2);
    stageCommand(83);
    discardStagedRequests();
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(writePending), 0);
    QCOMPARE(int(writeListCount), 0);
    WriteListEntry copy[kWriteListEntries];
    QCOMPARE(takeWriteList(copy), 0);
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
