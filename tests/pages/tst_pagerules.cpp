// The formatting rules and the display snapshot's transformations, without widgets.

#include "alarmevents.h"
#include "displaysnapshot.h"
#include "fieldformat.h"
#include "fieldtables.h"
#include "mirrorcells.h"
#include "namedvalues.h"
#include "registermirror.h"

#include <QSet>
#include <QtTest>

Q_DECLARE_METATYPE(Cells)

namespace {} // namespace

class tst_PageRules : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { clearMirror(); }

    void rules_data();
    void rules();
    void enumerationFallbacks_data();
    void enumerationFallbacks();
    void snapshotTransforms_data();
    void snapshotTransforms();
    void faultBitMapCoversGridOnce();
    void tablesAreAscendingAndDisjoint();
    void namedValue_data();
    void namedValue();
    void alarmEvents_data();
    void alarmEvents();
};

void tst_PageRules::rules_data() {
    QTest::addColumn<QString>("rule");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("expected");

    QTest::newRow("signed 0xFFFF is -1") << "signed" << 0xFFFF << "-1";
    QTest::newRow("signed 0x8000 is -32768") << "signed" << 0x8000 << "-32768";
    QTest::newRow("signed 0x7FFF") << "signed" << 0x7FFF << "32767";
    QTest::newRow("unsigned 0xFFFF is 65535") << "unsigned" << 0xFFFF << "65535";
    QTest::newRow("unsigned 0") << "unsigned" << 0 << "0";
    QTest::newRow("hex 6699 lower case") << "hex" << 6699 << "1a2b";
    QTest::newRow("hex 0 no leading zeros") << "hex" << 0 << "0";
    QTest::newRow("hex 0x00A0") << "hex" << 0xA0 << "a0";
    QTest::newRow("hex 0xFFFF") << "hex" << 0xFFFF << "ffff";
    QTest::newRow("x0.1 signed 1234") << "s0.1" << 1234 << "123.4";
    QTest::newRow("x0.1 signed -50") << "s0.1" << 0xFFCE << "-5.0";
    QTest::newRow("x0.1 signed 0") << "s0.1" << 0 << "0.0";
    QTest::newRow("x0.1 unsigned 0xFFFF") << "u0.1" << 0xFFFF << "6553.5";
    QTest::newRow("x0.01 unsigned 1234") << "u0.01" << 1234 << "12.34";
    QTest::newRow("x0.001 signed 3215") << "s0.001" << 3215 << "3.215";
    QTest::newRow("x0.001 signed 0xFFFF") << "s0.001" << 0xFFFF << "-0.001";
    QTest::newRow("x0.001 unsigned 0xFFFF") << "u0.001" << 0xFFFF << "65.535";
    QTest::newRow("x0.001 unsigned 3650") << "u0.001" << 3650 << "3.650";
    QTest::newRow("x0.001 unsigned 0") << "u0.001" << 0 << "0.000";
}

void tst_PageRules::rules() {
    QFETCH(QString, rule);
    QFETCH(int, cell);
    QFETCH(QString, expected);
    const auto w = static_cast<uint16_t>(cell);
    QString text;
    if (rule == "signed")
        text = signedText(w);
    else if (rule == "unsigned")
        text = unsignedText(w);
    else if (rule == "hex")
        text = hexText(w);
    else if (rule.startsWith('s'))
        text = scaledText(static_cast<int16_t>(w), rule.size() - 3); // s0.1, s0.01, s0.001
    else
        text = scaledText(w, rule.size() - 3);
    QCOMPARE(text, expected);
}

void tst_PageRules::enumerationFallbacks_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("system state 5") << "system" << 5 << "Discharging";
    QTest::newRow("system state 6 is empty") << "system" << 6 << "";
    QTest::newRow("system state 0xFFFF is empty") << "system" << 0xFFFF << "";
    QTest::newRow("charge state 3") << "charge" << 3 << "Fault";
    QTest::newRow("charge state 4 is empty") << "charge" << 4 << "";
    QTest::newRow("relay 0 disconnect") << "relay" << 0 << "Disconnect";
    QTest::newRow("relay 1 connect") << "relay" << 1 << "Connect";
    QTest::newRow("relay 2 connect") << "relay" << 2 << "Connect";
    QTest::newRow("relay 0xFFFF connect") << "relay" << 0xFFFF << "Connect";
}

void tst_PageRules::enumerationFallbacks() {
    QFETCH(QString, table);
    QFETCH(int, value);
    QFETCH(QString, expected);
    const EnumTable &t = table == "system"   ? systemStateTable
                         : table == "charge" ? chargeStateTable
                                             : relayStateTable;
    QCOMPARE(enumText(t, static_cast<uint16_t>(value)), expected);
}

void tst_PageRules::snapshotTransforms_data() {
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<int>("block");
    QTest::addColumn<int>("cell");
    QTest::addColumn<QString>("expected");

    QTest::newRow("32-bit high cell first") << Cells{{241, 1}, {242, 0}} << 2 << 41 << "6553.6";
    QTest::newRow("32-bit low cell only") << Cells{{243, 0}, {244, 1}} << 2 << 43 << "0.1";
    QTest::newRow("32-bit all ones, no scaling")
        << Cells{{249, 0xFFFF}, {250, 0xFFFF}} << 2 << 49 << "4294967295";
    QTest::newRow("32-bit neighbour does not leak")
        << Cells{{245, 0}, {246, 7}, {247, 0xFFFF}} << 2 << 45 << "0.7";
    QTest::newRow("string of 20 characters whole")
        << textCells(263, "ABCDEFGHIJKLMNOPQRST") << 2 << 63 << "ABCDEFGHIJKLMNOPQRST";
    QTest::newRow("string stops at its own end")
        << (textCells(273, "0123456789abcdefghij") + textCells(283, "XY")) << 2 << 73
        << "0123456789abcdefghij";
    QTest::newRow("string first register 0 is empty")
        << (Cells{{283, 0}} + textCells(284, "later")) << 2 << 83 << "";
    QTest::newRow("string ends at NUL in a low byte")
        << (textCells(263, "ABC") + textCells(265, "DE")) << 2 << 63 << "ABC";
    QTest::newRow("string Latin-1 byte")
        << Cells{{263, 0xE9B0}} << 2 << 63 << QString::fromLatin1("\xe9\xb0");
    QTest::newRow("string control characters shown, not obeyed")
        << textCells(263, "A\rB\x1b[2J\t") << 2 << 63
        << QString::fromUtf8("A\uFFFDB\uFFFD[2J\uFFFD");
    QTest::newRow("string C1 control byte shown")
        << Cells{{263, 0x4185}} << 2 << 63 << QString::fromUtf8("A\uFFFD");
    QTest::newRow("device info 24 characters whole")
        << textCells(8615, "SN-0123456789-ABCDEFGHIJ") << 86 << 15 << "SN-0123456789-ABCDEFGHIJ";
    QTest::newRow("device info 21 characters end in 86:25")
        << textCells(8615, "SN-0123456789-ABCDEFG") << 86 << 15 << "SN-0123456789-ABCDEFG";
    QTest::newRow("device info 22 characters in 86:1")
        << textCells(8601, "0123456789012345678901") << 86 << 1 << "0123456789012345678901";
    QTest::newRow("device info 4 characters in 86:13")
        << (textCells(8613, "V1.2") + textCells(8615, "zz")) << 86 << 13 << "V1.2";
    QTest::newRow("low byte 0x00FF is -1") << Cells{{8900, 0x00FF}} << 89 << 0 << "-1";
    QTest::newRow("low byte 0x0105 is 5") << Cells{{8901, 0x0105}} << 89 << 1 << "5";
    QTest::newRow("low byte 0xFF80 is -128") << Cells{{8901, 0xFF80}} << 89 << 1 << "-128";
}

void tst_PageRules::snapshotTransforms() {
    QFETCH(Cells, cells);
    QFETCH(int, block);
    QFETCH(int, cell);
    QFETCH(QString, expected);

    loadMirror(cells);
    DisplaySnapshot snapshot;
    takeDisplaySnapshot(snapshot);
    const auto record = blockRecord(snapshot, block);
    QVERIFY(record);

    const FieldGroup *group = block == 2 ? &homeFields : nullptr;
    for (const FieldGroup &g : settingsGroups) {
        if (g.block == block)
            group = &g;
    }
    QVERIFY(group);
    const FieldRange *range = nullptr;
    for (int i = 0; i < group->count; ++i) {
        if (group->ranges[i].first <= cell && cell <= group->ranges[i].last)
            range = &group->ranges[i];
    }
    QVERIFY2(range, "no field starts at this cell");
    QCOMPARE(formatField(range->format, *record, cell), expected);
}

void tst_PageRules::faultBitMapCoversGridOnce() {
    QSet<int> cells;
    for (int i = 0; i < kFaultBits; ++i) {
        const FaultBit &b = faultBitMap[i];
        // Grouped by word, within the word by ascending mask.
        QCOMPARE(int(b.word), i / 16);
        QCOMPARE(int(b.mask), 1 << (i % 16));
        cells.insert(b.row * 8 + b.column);
    }
    QCOMPARE(cells.size(), 64);
    // Hand-worked corners: bit 8 of word 0 is row 1 column 0, bit 15 of word 3 row 7 column 7.
    QCOMPARE(int(faultBitMap[8].row), 1);
    QCOMPARE(int(faultBitMap[8].column), 0);
    QCOMPARE(int(faultBitMap[63].row), 7);
    QCOMPARE(int(faultBitMap[63].column), 7);
    QCOMPARE(int(faultBitMap[36].row), 4);
    QCOMPARE(int(faultBitMap[36].column), 4);
}

void tst_PageRules::tablesAreAscendingAndDisjoint() {
    QVector<const FieldGroup *> groups{&homeFields, &dataSummaryFields, &rackColumns, &packColumns};
    for (const FieldGroup &g : settingsGroups)
        groups << &g;
    for (const FieldGroup *g : groups) {
        int next = 0;
        for (int i = 0; i < g->count; ++i) {
            const FieldRange &r = g->ranges[i];
            QVERIFY2(r.first >= next && r.last >= r.first,
                     qPrintable(QString("block %1 range %2").arg(g->block).arg(i)));
            next = r.last + 1;
        }
    }
    // Every rack and pack column has a rule.
    QCOMPARE(rackColumns.ranges[rackColumns.count - 1].last, int16_t(8));
    QCOMPARE(packColumns.ranges[packColumns.count - 1].last, int16_t(91));
}

void tst_PageRules::alarmEvents_data() {
    // Alarm words before and after (-1: not read), and the events as "raised|cleared level
    // name [where]", in grid order.
    QTest::addColumn<QVector<int>>("before");
    QTest::addColumn<QVector<int>>("after");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("first reading raises what is set")
        << QVector<int>{-1} << QVector<int>{0x0001, 0, 0, 0}
        << QStringList{"raised 1 TEMP_High [Max Temp 31/4, Min Temp 22/9]"};
    QTest::newRow("a bit that stays set gives nothing")
        << QVector<int>{0x0001, 0, 0, 0} << QVector<int>{0x0001, 0, 0, 0} << QStringList{};
    QTest::newRow("cleared, with the cell extremes")
        << QVector<int>{0, 0x0020, 0, 0} << QVector<int>{0, 0, 0, 0}
        << QStringList{"cleared 2 CellVolt_High [Max Cell 3.651/2-7, Min Cell 3.102/1-3]"};
    QTest::newRow("two at once, in grid order")
        << QVector<int>{0, 0, 0, 0} << QVector<int>{0, 0, 0, 0x0101}
        << QStringList{"raised 3 EEpromRW_Fault []", "raised 3 PRelay_Fault []"};
    QTest::newRow("a reserved bit names its place")
        << QVector<int>{0, 0, 0, 0} << QVector<int>{0, 0x0400, 0, 0}
        << QStringList{"raised 2 Reserved (6:1 bit 10) []"};
    QTest::newRow("every bit of a hostile word at once")
        << QVector<int>{0, 0, 0, 0} << QVector<int>{0, 0, 0xFFFF, 0}
        << QStringList{};
    QTest::newRow("nothing read now: nothing known to change")
        << QVector<int>{0x00FF, 0, 0, 0} << QVector<int>{-1} << QStringList{};
}

void tst_PageRules::alarmEvents() {
    QFETCH(QVector<int>, before);
    QFETCH(QVector<int>, after);
    QFETCH(QStringList, expected);
    const auto words = [](const QVector<int> &w) {
        AlarmWords out;
        out.read = w.first() >= 0;
        for (int k = 0; out.read && k < kAlarmWords; ++k)
            out.word[k] = uint16_t(w.at(k));
        return out;
    };
    // The Home page's extremes as its named values give them.
    const char *const extremes[][3] = {{"R_Addr2Num30_text", "Max Cell", "3.651/2-7"},
                                       {"R_Addr2Num33_text", "Min Cell", "3.102/1-3"},
                                       {"R_Addr2Num36_text", "Max Temp", "31/4"},
                                       {"R_Addr2Num38_text", "Min Temp", "22/9"}};
    NamedGroup home;
    for (const auto &x : extremes) {
        NamedValue n;
        n.key = QLatin1String(x[0]);
        n.caption = QLatin1String(x[1]);
        n.text = QLatin1String(x[2]);
        home << n;
    }
    const QVector<AlarmEvent> events = ::alarmEvents(7, words(before), words(after), 1000, home);
    QStringList got;
    for (const AlarmEvent &e : events) {
        QCOMPARE(e.address, 7);
        QVERIFY(e.levelText.startsWith(QStringLiteral("Level%1").arg(e.level)));
        got << QStringLiteral("%1 %2 %3 [%4]")
                   .arg(e.raised ? "raised" : "cleared")
                   .arg(e.level)
                   .arg(e.alarm, e.where);
    }
    if (QTest::currentDataTag() == QByteArray("every bit of a hostile word at once")) {
        QCOMPARE(events.size(), 16); // each bit once, none twice, none lost
        QCOMPARE(highestAlarmLevel(words(after)), 3);
        QCOMPARE(activeAlarms(words(after)).size(), 16);
        return;
    }
    QCOMPARE(got, expected);
}

QTEST_GUILESS_MAIN(tst_PageRules)
#include "tst_pagerules.moc"

// One named value of a page, worked out by hand from the cells; garbage from a controller as
// well as honest values. live: the blocks the snapshot holds as live.
void tst_PageRules::namedValue_data() {
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<QList<int>>("live");
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("group");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number"); // NaN: none
    QTest::addColumn<bool>("isLive");
    const double none = std::nan("");
    QTest::newRow("SOC") << Cells{{201, 62}} << QList<int>{2} << 0 << 0 << "R_Addr2Num1_text"
                         << "SOC (%)"
                         << "62" << 62.0 << true;
    QTest::newRow("scaled voltage, stale block")
        << Cells{{206, 5123}} << QList<int>{0} << 0 << 0 << "R_Addr2Num6_text"
        << "Total Voltage (V)"
        << "512.3" << 512.3 << false;
    QTest::newRow("composed cell voltage: its first number")
        << Cells{{230, 3}, {231, 12}, {232, 3215}} << QList<int>{} << 0 << 0 << "R_Addr2Num30_text"
        << "Max Cell (V/pack-cell)"
        << "3.215/3-12" << 3.215 << false;
    QTest::newRow("state text has no number")
        << Cells{{204, 4}} << QList<int>{} << 0 << 0 << "R_Addr2Num4_text"
        << "System State"
        << "Charging" << none << false;
    QTest::newRow("garbage state is empty")
        << Cells{{204, 0x7FFF}} << QList<int>{} << 0 << 0 << "R_Addr2Num4_text"
        << "System State"
        << "" << none << false;
    QTest::newRow("32 bits all ones")
        << Cells{{249, 0xFFFF}, {250, 0xFFFF}} << QList<int>{} << 0 << 0 << "R_Addr2Num49_text"
        << "Running Time (h)"
        << "4294967295" << 4294967295.0 << false;
    QTest::newRow("second Host ID field")
        << Cells{{200, 0xFFFB}} << QList<int>{} << 0 << 0 << "R_Addr2Num0_backup_text"
        << "Configuration: Host ID"
        << "-5" << -5.0 << false;
    QTest::newRow("captioned by the form's label")
        << Cells{{299, 0xFFFF}} << QList<int>{} << 0 << 0 << "R_Addr2Num99_text"
        << "Mean Temp (\u00B0C)"
        << "-1" << -1.0 << false;
    // Rack 3's part starts at summary word 24 + 2 * 9 = 42; rack 15's relay word is 158, cell 62
    // of block 1.
    QTest::newRow("rack 3 SOC, live only with blocks 0 and 1")
        << Cells{{42, 77}} << QList<int>{0} << 1 << 2 << "R_Addr0Num42"
        << "Rack: SOC (%)"
        << "77" << 77.0 << false;
    QTest::newRow("rack 15 relay garbage reads Connect")
        << Cells{{162, 0x1234}} << QList<int>{0, 1} << 1 << 14 << "R_Addr1Num62"
        << "Relay State"
        << "Connect" << none << true;
    QTest::newRow("rack row number") << Cells{} << QList<int>{0, 1} << 1 << 4 << "Rack"
                                     << "Rack"
                                     << "5" << 5.0 << true;
    QTest::newRow("data summary beside every rack")
        << Cells{{3, 0xFFFF}} << QList<int>{0} << 1 << 9 << "R_Addr0Num3_text"
        << "Stack summary: Total Voltage (V)"
        << "6553.5" << 6553.5 << true;
    QTest::newRow("pack 2 cell 1 all ones")
        << Cells{{809, 0xFFFF}} << QList<int>{8} << 4 << 1 << "R_Addr8Num9"
        << "Cell 1(V)"
        << "-0.001" << -0.001 << true;
    QTest::newRow("pack 15 BMU fault in hex")
        << Cells{{2191, 0xBEEF}} << QList<int>{8} << 4 << 14 << "R_Addr21Num91"
        << "BMU Fault"
        << "beef" << 48879.0 << false;
    // Bit 9 of fault word 1 is row 3 (Level2 Fault, low byte), column 1.
    QTest::newRow("alarm raised") << Cells{{601, 0x0200}} << QList<int>{6} << 3 << 0
                                  << "R_Addr6Num1_bit9"
                                  << "Level2 Fault\uFF08L\uFF09: Disharge_OverCur"
                                  << "1" << 1.0 << true;
    QTest::newRow("alarm clear") << Cells{{601, 0xFDFF}} << QList<int>{} << 3 << 0
                                 << "R_Addr6Num1_bit9"
                                 << "Level2 Fault\uFF08L\uFF09: Disharge_OverCur"
                                 << "0" << 0.0 << false;
    QTest::newRow("control character in a controller's text")
        << textCells(8601, QByteArray("A\x01"
                                      "B"))
        << QList<int>{86} << 2 << 0 << "R_Addr86Num1_text"
        << "IMEI"
        << "A\uFFFDB" << none << true;
}

void tst_PageRules::namedValue() {
    QFETCH(Cells, cells);
    QFETCH(QList<int>, live);
    QFETCH(int, tab);
    QFETCH(int, group);
    QFETCH(QString, key);
    QFETCH(QString, header);
    QFETCH(QString, text);
    QFETCH(double, number);
    QFETCH(bool, isLive);
    loadMirror(cells);
    DisplaySnapshot snapshot;
    takeDisplaySnapshot(snapshot);
    for (int block : live)
        snapshot.live[block] = true;
    const QVector<NamedGroup> groups = namedValues(snapshot, tab);
    QVERIFY(group < groups.size());
    const NamedValue *found = nullptr;
    for (const NamedValue &v : groups.at(group))
        if (v.key == key)
            found = &v;
    QVERIFY2(found, qPrintable(key));
    QCOMPARE(found->header(), header);
    QCOMPARE(found->text, text);
    QVERIFY2(std::isnan(number) ? !found->hasNumber() : qFuzzyCompare(found->number, number),
             qPrintable(QString::number(found->number)));
    QCOMPARE(found->live, isLive);
}
