#include "linksession.h"
#include "namedvalues.h"
#include "paramrestore.h"
#include "registermirror.h"

#include <QFile>
#include <QtTest>

#include <thread>

class tst_Mirror : public QObject
{
    Q_OBJECT
private slots:
    void init() { clearMirror(); }

    void coreBringsNoGuiLibrary()
    {
        // This test links the whole core (the link session, named values and parameter sets
        // are used below, so none of it is left out); what the process has loaded tells what the
        // core's link line brought.
        LinkSession session;
        QVERIFY(!session.isRunning());
        QVERIFY(namedValues(DisplaySnapshot(), 0).size() > 0);
        QVERIFY(!paramSetBlocks().isEmpty());
        QFile maps(QStringLiteral("/proc/self/maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray loaded = maps.readAll();
        QVERIFY(loaded.contains("Core.so"));
        for (const char *lib : {"Qt5Gui", "Qt5Widgets", "Qt6Gui", "Qt6Widgets"})
            QVERIFY2(!loaded.contains(lib), lib);
    }

    void addressesHaveMirrorsOfTheirOwn()
    {
        deviceAddr.store(1);
        const uint8_t words[4] = {0x12, 0x34, 0x56, 0x78};
        QCOMPARE(mirrorOf(2).land(3, words, 2), 2);
        QCOMPARE(mirrorOf(2).cell(3, 1), int16_t(0x5678));
        QCOMPARE(mirrorCell(3, 1), int16_t(0)); // the selected controller (1) has none
        QCOMPARE(mirrorOf(1).landedAtMs(3), int64_t(0));
        deviceAddr.store(2);
        QCOMPARE(mirrorCell(3, 0), int16_t(0x1234));
        QCOMPARE(registerMirror->landings(3), mirrorOf(2).landings(3));
        clearMirror(); // every used mirror back to its start
        QCOMPARE(mirrorOf(2).cell(3, 0), int16_t(0));
        deviceAddr.store(0);
    }

    void pagesShowTheSelectedControllerOnly()
    {
        // The Home page's SOC (cell 2:1) of controller 1, then SET ADDR to 2, which has not
        // answered yet: its page shows its own (empty) values, never controller 1's.
        const auto soc = [] {
            DisplaySnapshot snapshot;
            takeDisplaySnapshot(snapshot);
            const QVector<NamedGroup> home = namedValues(snapshot, 0);
            for (const NamedValue &v : home.first())
                if (v.key == QLatin1String("R_Addr2Num1_text"))
                    return v.text;
            return QStringLiteral("missing");
        };
        mirrorOf(1).setCell(201, 62);
        mirrorOf(3).setCell(201, 48);
        deviceAddr.store(1);
        QCOMPARE(soc(), QStringLiteral("62"));
        deviceAddr.store(2);
        QCOMPARE(soc(), QStringLiteral("0"));
        deviceAddr.store(3);
        QCOMPARE(soc(), QStringLiteral("48"));
        deviceAddr.store(0);
    }

    void landingStoresBigEndianWordsAtBlockOffset()
    {
        // 20 registers of block 4: cells 400..419 change, 420..499 keep their values.
        setMirrorCell(420, 1234);
        setMirrorCell(399, -7);
        uint8_t data[40];
        for (int i = 0; i < 20; ++i) {
            data[2 * i] = uint8_t(0x80 | i);
            data[2 * i + 1] = uint8_t(i);
        }
        const uint32_t reads = blockLandings(4);
        const uint32_t neighbourReads = blockLandings(5);
        QCOMPARE(landRegisters(4, data, 20), 20);
        // Each read of a block is counted; the other blocks' counts stay.
        QCOMPARE(blockLandings(4), reads + 1);
        QCOMPARE(blockLandings(5), neighbourReads);
        QCOMPARE(mirrorCell(4, 0), int16_t(0x8000));
        QCOMPARE(mirrorCell(4, 19), int16_t(uint16_t(0x9313)));
        QCOMPARE(mirrorCell(420), int16_t(1234));
        QCOMPARE(mirrorCell(399), int16_t(-7));
    }

    void landingStaysInsideTheBlockAndMirror()
    {
        uint8_t data[2 * 150];
        memset(data, 0x11, sizeof data);
        QCOMPARE(landRegisters(91, data, 150), 100);
        QCOMPARE(mirrorCell(91, 99), int16_t(0x1111));
        QCOMPARE(landRegisters(92, data, 5), 0);
        QCOMPARE(landRegisters(-1, data, 5), 0);
        QCOMPARE(blockLandings(92), 0u);
        QCOMPARE(blockLandings(-1), 0u);
        QCOMPARE(mirrorCell(9200), int16_t(0));
        QCOMPARE(mirrorCell(-1), int16_t(0));
    }

    void startUpValues()
    {
        linkOp = 3;
        pollPeriod = 200;
        faultIndex = 9;
        paramEdited[40] = 1;
        setStatusText("Refreshing Data");
        resetLinkState();
        QCOMPARE(int(linkOp), 0);
        QCOMPARE(int(pollPeriod), 1000);
        QCOMPARE(int(respTimeout), 100);
        QCOMPARE(int(faultIndex), 0);
        QCOMPARE(int(writeListCount), 0);
        QCOMPARE(int(paramEdited[40]), 0);
        QCOMPARE(refreshPeriod, 1000u);
        char text[kStatusTextSize];
        QCOMPARE(readStatusText(text), 4);
        QCOMPARE(QByteArray(text), QByteArray("Idle"));
    }

    void statusTextIsBounded()
    {
        const QByteArray longText(300, 'x');
        setStatusText(longText.constData());
        char text[kStatusTextSize];
        QCOMPARE(readStatusText(text), kStatusTextSize - 1);
        QCOMPARE(int(text[kStatusTextSize - 1]), 0);
    }

    void stagedWriteIsReleasedByItsFlags()
    {
        writePending = 0;
        linkOp = 0;
        const uint8_t data[] = {0x00, 0x64};
        stageWriteRequest(16, 5, 1, data, 2);
        QCOMPARE(int(writePending), 1);
        QCOMPARE(int(linkOp), 1);
        const StagedWrite w = takeStagedWrite();
        QCOMPARE(int(w.func), 16);
        QCOMPARE(int(w.start), 5);
        QCOMPARE(int(w.count), 1);
        QCOMPARE(int(w.data[1]), 0x64);
        QCOMPARE(int(w.data[2]), 0);
    }

    void writeListIsBoundedAndCopied()
    {
        std::vector<WriteListEntry> entries(100);
        for (int i = 0; i < 100; ++i) {
            entries[i].reg = uint16_t(i + 1);
            entries[i].count = 30; // more than an entry holds
        }
        queueWriteList(entries.data(), 100, 2);
        QCOMPARE(int(writeListCount), kWriteListEntries);
        QCOMPARE(int(linkOp), 2);
        WriteListEntry copy[kWriteListEntries];
        QCOMPARE(takeWriteList(copy), kWriteListEntries);
        QCOMPARE(int(copy[84].reg), 85);
        QCOMPARE(int(copy[0].count), kWriteListMaxRegs);
    }

    void listRebuiltWhileTakenIsNeverTorn()
    {
        // One thread rebuilds the list with uniform entries while another takes copies: every
        // copy must hold entries of one generation only.
        WriteListEntry first[10];
        for (auto &e : first)
            memset(e.data, 0, sizeof e.data);
        queueWriteList(first, 10, 2);
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            WriteListEntry entries[10];
            for (uint8_t gen = 0; !stop; ++gen) {
                for (auto &e : entries) {
                    e.reg = gen;
                    e.count = 1;
                    memset(e.data, gen, sizeof e.data);
                }
                queueWriteList(entries, 10, 2);
            }
        });
        WriteListEntry copy[kWriteListEntries];
        int torn = 0;
        for (int round = 0; round < 2000; ++round) {
            const int n = takeWriteList(copy);
            for (int i = 0; i < n; ++i) {
                if (copy[i].reg != copy[0].reg || copy[i].data[50] != uint8_t(copy[0].reg))
                    ++torn;
            }
        }
        stop = true;
        writer.join();
        QCOMPARE(torn, 0);
    }
};

QTEST_APPLESS_MAIN(tst_Mirror)
#include "tst_mirror.moc"
