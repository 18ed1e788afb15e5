// The logger's parts that decide on their own: the round's order and back-off on the stopped
// tick, the configuration's checks, the day files' whole rows, and what is published.
#include "daycsv.h"
#include "loggerconfig.h"
#include "loggerpublish.h"
#include "loggerround.h"
#include "systick.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

namespace {

// The reads of passes until the round and its tail are done, as "addr:block" joined by spaces,
// with "|" where the round counts as done; the addresses in silent get no answer.
QString runRound(LoggerRound &round, const QSet<int> &silent) {
    QStringList reads;
    PollRead r;
    uint64_t rounds = round.roundsDone();
    for (int pass = 0; pass < 200; ++pass) {
        if (!round.next(&r)) {
            if (!reads.isEmpty())
                break;
            continue;
        }
        reads << QStringLiteral("%1:%2").arg(r.addr).arg(r.block);
        round.done(r, silent.contains(r.addr) ? -1 : r.count);
        if (round.roundsDone() != rounds) {
            rounds = round.roundsDone();
            reads << QStringLiteral("|");
        }
    }
    if (round.roundsDone() != rounds)
        reads << QStringLiteral("|");
    return reads.join(QLatin1Char(' '));
}

QString tail(int a) {
    QStringList out{QStringLiteral("%1:0 %1:1 %1:86").arg(a)};
    for (int b = 7; b <= 21; ++b)
        out << QStringLiteral("%1:%2").arg(a).arg(b);
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestLogger : public QObject {
    Q_OBJECT
private slots:
    void roundOrderAndBackOff_data() {
        QTest::addColumn<int>("advanceMs"); // before the round
        QTest::addColumn<QString>("silent");
        QTest::addColumn<QString>("reads");
        // One sequence on one round object: each row continues from the previous. The round
        // counts as done after every Home and alarm read; the slower blocks follow.
        QTest::newRow("first round: every block of both")
            << 0 << "" << "1:2 1:6 2:2 2:6 | " + tail(1) + " " + tail(2);
        QTest::newRow("not before the round period") << 999 << "" << "";
        QTest::newRow("next round: Home and alarms") << 1 << "" << "1:2 1:6 2:2 2:6 |";
        QTest::newRow("2 silent: its alarm read dropped") << 1000 << "2" << "1:2 1:6 2:2 |";
        QTest::newRow("2 skipped for 5 s") << 1000 << "" << "1:2 1:6 |";
        QTest::newRow("2 asked again after 5 s, silent") << 4000 << "2" << "1:2 1:6 2:2 |";
        QTest::newRow("then 30 s apart") << 29000 << "" << "1:2 1:6 | 1:0 1:1 1:86";
        QTest::newRow("and back, its Data due") << 1000 << "" << "1:2 1:6 2:2 2:6 | 2:0 2:1 2:86";
        QTest::newRow("a silent controller's tail is dropped, 2's Pack due")
            << 29000 << "1" << "1:2 2:2 2:6 | " + tail(2).mid(QStringLiteral("2:0 2:1 2:86 ").size());
    }
    void roundOrderAndBackOff() {
        QFETCH(int, advanceMs);
        QFETCH(QString, silent);
        QFETCH(QString, reads);
        static std::unique_ptr<LoggerRound> round;
        if (QByteArray(QTest::currentDataTag()).startsWith("first")) {
            stopProcessTick();
            tick = 5000;
            LoggerPeriods periods;
            periods.roundMs = 1000;
            periods.dataMs = 30000;
            periods.packMs = 60000;
            round = std::make_unique<LoggerRound>(QVector<int>{1, 2}, periods);
            round->enter(0);
        }
        QSet<int> quiet;
        for (const QString &a : silent.split(QLatin1Char(','), Qt::SkipEmptyParts))
            quiet << a.toInt();
        tick += advanceMs;
        QCOMPARE(runRound(*round, quiet), reads);
    }

    void config_data() {
        QTest::addColumn<QString>("file"); // empty: no --config
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("problem"); // empty: taken
        const QString ok = QStringLiteral("[link]\ntcp = 127.0.0.1:1502\n[record]\nfolder = /tmp/x\n");
        QTest::newRow("good file") << ok << QStringList() << "";
        QTest::newRow("options alone")
            << "" << QStringList{"--port", "/dev/ttyS9", "--mqtt", "broker", "--addresses", "1,3,5-7"}
            << "";
        QTest::newRow("bad baud names key and line")
            << ok + "[link]\nbaud = 1234\n" << QStringList() << "line 6: key 'link/baud': --baud takes";
        QTest::newRow("the option overrides a bad key? no: the key is still checked")
            << ok + "[periods]\nround-ms = 5\n" << QStringList{"--round-ms", "500"}
            << "line 6: key 'periods/round-ms'";
        QTest::newRow("unknown key") << ok + "[mqtt]\nhots = x\n" << QStringList()
                                     << "line 6: unknown key 'mqtt/hots'";
        QTest::newRow("key twice") << ok + "[record]\nfolder = /tmp/y\n" << QStringList()
                                   << "line 6: key 'record/folder' given again (first on line 4)";
        QTest::newRow("no key = value") << ok + "rubbish\n" << QStringList()
                                        << "line 5: not a 'key = value' line";
        QTest::newRow("addresses") << ok + "[link]\naddresses = 0-3\n" << QStringList()
                                   << "key 'link/addresses'";
        QTest::newRow("verbose not boolean") << ok + "[log]\nverbose = yes\n" << QStringList()
                                             << "takes true or false";
        QTest::newRow("port and tcp") << ok << QStringList{"--port", "/dev/ttyS0"}
                                      << "give either --port or --tcp";
        QTest::newRow("no link") << "" << QStringList{"--record", "/tmp/x"} << "no link";
        QTest::newRow("nothing to do") << "" << QStringList{"--port", "/dev/ttyS0"} << "nothing to do";
        QTest::newRow("certificate without key")
            << ok << QStringList{"--mqtt", "h", "--mqtt-ca", "/etc/hostname", "--mqtt-cert", "/etc/hostname"}
            << "needs its key";
        QTest::newRow("missing CA file") << ok << QStringList{"--mqtt", "h", "--mqtt-ca", "/nonexistent"}
                                         << "--mqtt-ca: /nonexistent does not exist";
        QTest::newRow("wildcard topic") << ok << QStringList{"--mqtt", "h", "--mqtt-base", "a/#"}
                                        << "--mqtt-base takes a topic";
        QTest::newRow("missing file") << "-" << QStringList() << "does not exist";
    }
    void config() {
        QFETCH(QString, file);
        QFETCH(QStringList, args);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        QStringList argv{QStringLiteral("vaduz-logger")};
        if (!file.isEmpty()) {
            const QString path = dir.filePath(QStringLiteral("logger.conf"));
            if (file != QLatin1String("-")) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(file.toUtf8());
            }
            argv << QStringLiteral("--config") << path;
        }
        QCommandLineParser parser;
        LoggerOptions options;
        options.addTo(parser);
        QVERIFY(parser.parse(argv + args));
        LoggerConfig config;
        QStringList problems;
        const bool taken = options.read(parser, &config, &problems);
        if (problem.isEmpty()) {
            QVERIFY2(taken, qPrintable(problems.join('\n')));
        } else {
            QVERIFY(!taken);
            QVERIFY2(problems.join('\n').contains(problem), qPrintable(problems.join('\n')));
        }
    }

    void configValues() {
        // The option wins over the key; a list with commas survives QSettings.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("logger.conf"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[link]\ntcp = gw:1502\naddresses = 1,3,5-6\n[mqtt]\nhost = broker\n"
                "[periods]\nround-ms = 2000\n");
        f.close();
        QCommandLineParser parser;
        LoggerOptions options;
        options.addTo(parser);
        QVERIFY(parser.parse({"vaduz-logger", "--config", path, "--round-ms", "500"}));
        LoggerConfig c;
        QStringList problems;
        QVERIFY2(options.read(parser, &c, &problems), qPrintable(problems.join('\n')));
        QCOMPARE(c.addresses, (QVector<int>{1, 3, 5, 6}));
        QCOMPARE(c.periods.roundMs, 500);
        QCOMPARE(c.link.tcpPort, uint16_t(1502));
        QCOMPARE(c.mqtt.port, 1883);
    }

    void dayFiles() {
        QTemporaryDir dir;
        const QDate day(2026, 12, 10);
        const QStringList head{"Time", "SOC (%)"};
        DayCsv csv(dir.path(), QStringLiteral("home"), RecordFormat::Comma, 100);
        QString error;
        // A torn row left by a crash is cut off when the file is opened again.
        {
            QFile f(dir.filePath(QStringLiteral("home-2026-12-10.csv")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("\xEF\xBB\xBFTime,SOC (%)\r\nt0,50\r\nt1,5");
        }
        QVERIFY(csv.append(day, head, {{"t2", "51"}}, &error));
        auto text = [&](const QString &name) {
            QFile f(dir.filePath(name));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        };
        QCOMPARE(text("home-2026-12-10.csv"), QByteArray("\xEF\xBB\xBFTime,SOC (%)\r\nt0,50\r\nt2,51\r\n"));
        // Past the size limit: the next part; another heading: another part; midnight: a new day.
        QVERIFY(csv.append(day, head, {{"t3", QString(80, 'x')}}, &error));
        QVERIFY(csv.fileName().endsWith("home-2026-12-10-2.csv"));
        QVERIFY(csv.append(day, {"Time", "SOH (%)"}, {{"t4", "9"}}, &error));
        QVERIFY(csv.fileName().endsWith("home-2026-12-10-3.csv"));
        QVERIFY(csv.append(day.addDays(1), {"Time", "SOH (%)"}, {{"t5", "9"}}, &error));
        QVERIFY(csv.fileName().endsWith("home-2026-12-11.csv"));

        // A write the disk refuses (here the file size limit) leaves no part of a row; writing
        // resumes once there is room.
        DayCsv big(dir.path(), QStringLiteral("data"), RecordFormat::Comma, 0);
        QVERIFY(big.append(day, head, {{"t0", "1"}}, &error));
        const qint64 size = QFileInfo(big.fileName()).size();
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit low = old;
        low.rlim_cur = static_cast<rlim_t>(size + 10);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &low), 0);
        const bool written = big.append(day, head, {{"t1", QString(40, 'y')}}, &error);
        setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(!written);
        QVERIFY(!error.isEmpty());
        QCOMPARE(QFileInfo(big.fileName().isEmpty() ? dir.filePath("data-2026-12-10.csv")
                                                    : big.fileName())
                     .size(),
                 size);
        QVERIFY(big.append(day, head, {{"t2", "2"}}, &error));
        QVERIFY(text("data-2026-12-10.csv").endsWith("t0,1\r\nt2,2\r\n"));
    }

    void payloads() {
        QCOMPARE(valueSlug(QStringLiteral("Stack status: Host ID")), QStringLiteral("stack_status_host_id"));
        QCOMPARE(valueSlug(QStringLiteral("Total Voltage")), QStringLiteral("total_voltage"));
        ControllerReport r;
        r.address = 3;
        r.atMs = 1000;
        NamedValue soc{QStringLiteral("R_Addr2Num1_text"), QStringLiteral("SOC"), QStringLiteral("%"),
                       QStringLiteral("62"), 62, true};
        NamedValue energy{QStringLiteral("energy_total"), QStringLiteral("Total Charge Energy"),
                          QStringLiteral("kWh"), QStringLiteral("812.5"), 812.5, true};
        NamedValue state{QStringLiteral("R_Addr2Num4_text"), QStringLiteral("System State"), QString(),
                         QStringLiteral("Wait"), qQNaN(), true};
        // A configuration read-back (packs per rack, parameter 1) is no sensor.
        NamedValue config{QStringLiteral("R_Addr2Num16_text"), QStringLiteral("Packs per Rack"),
                          QString(), QStringLiteral("15"), 15, true};
        r.home = {soc, energy, state, config};
        r.alarms.read = true;
        r.alarms.word[1] = 1;
        const QJsonObject s = QJsonDocument::fromJson(statePayload(r)).object();
        QCOMPARE(s.value("soc").toDouble(), 62.0);
        QCOMPARE(s.value("system_state").toString(), QStringLiteral("Wait"));
        QCOMPARE(s.value("alarm_level").toInt(), 2);
        QVERIFY(s.value("alarm_level_2").toBool() && !s.value("alarm_level_1").toBool());
        QCOMPARE(s.value("alarms").toArray().size(), 1);

        r.serialNumber = QStringLiteral("SN-0042");
        QMap<QString, QJsonObject> configs;
        for (const MqttMessage &m : discoveryMessages(r, "/dev/ttyUSB0", "vaduz", "homeassistant")) {
            QVERIFY(m.retain);
            configs.insert(m.topic, QJsonDocument::fromJson(m.payload).object());
        }
        QCOMPARE(configs.value("homeassistant/sensor/vaduz_sn_0042/soc/config").value("device_class").toString(),
                 QStringLiteral("battery"));
        QCOMPARE(configs.value("homeassistant/sensor/vaduz_sn_0042/total_charge_energy/config")
                     .value("state_class").toString(),
                 QStringLiteral("total_increasing"));
        QVERIFY(configs.contains("homeassistant/binary_sensor/vaduz_sn_0042/alarm_level_3/config"));
        QVERIFY(!configs.contains("homeassistant/sensor/vaduz_sn_0042/packs_per_rack/config"));
        QCOMPARE(configs.size(), 2 + 3);
        // A serial number another controller shares does not name the device.
        r.serialIsUnique = false;
        QCOMPARE(nodeId(r, "/dev/ttyUSB0"), QStringLiteral("vaduz_dev_ttyusb0_3"));
    }
};

QTEST_GUILESS_MAIN(TestLogger)
#include "tst_logger.moc"
