// vaduz-logger at work: 16 simulated controllers on a paced half-duplex line at 115200 baud (the
// simulator in this process), the logger as its own process publishing to Debian's mosquitto
// broker, mosquitto_sub taking the states. Prints the time from a Home record landing to its
// state arriving at the subscriber (median and 99th percentile), the logger's CPU per minute and
// its resident memory. Then a day of rounds in virtual time in this process (the round's whole
// work: snapshots, named values, day files rotated at midnight, state to the broker) with the
// resident memory every 4 virtual hours. Prints figures only; never fails on time.
//
//   bench_logger [seconds=60] [virtual hours=24]

#include "loggerconfig.h"
#include "loggerservice.h"
#include "ptysimulator.h"
#include "registermirror.h"
#include "systick.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kControllers = 16;
constexpr int kBaud = 115200;

quint16 freePort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

// utime + stime of a process, in seconds.
double cpuSeconds(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = f.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double rssMb(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(10, atoi(argv[1])) : 60;
    const int hours = argc > 2 ? std::max(1, atoi(argv[2])) : 24;
    QLoggingCategory::setFilterRules(QStringLiteral("vaduz.*.debug=false\nvaduz.link.frames.info=false"));
    QTemporaryDir work;
    const quint16 mqttPort = freePort();
    QFile conf(work.filePath(QStringLiteral("mosquitto.conf")));
    conf.open(QIODevice::WriteOnly);
    conf.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n")
                   .arg(mqttPort)
                   .toUtf8());
    conf.close();
    QProcess broker;
    broker.start(QStringLiteral("/usr/sbin/mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!broker.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start mosquitto\n");
        return 1;
    }
    QThread::msleep(300);

    // --- Live: the logger process against the paced line -----------------------------------
    std::printf("vaduz-logger, %d controllers at %d baud, rounds of 1000 ms, %d s\n", kControllers,
                kBaud, seconds);
    {
        SysTimerThread tickThread;
        tickThread.start();
        PtySimulator sim;
        if (!sim.start()) {
            std::fprintf(stderr, "cannot start the simulated controller\n");
            return 1;
        }
        sim.setAnswerAll(true);
        sim.setDistinct(true);
        sim.setDeviceCount(kControllers);
        SimFaults line;
        line.paceBaud = kBaud;
        line.halfDuplex = true;
        sim.setFaults(line);

        QProcess sub;
        sub.start(QStringLiteral("mosquitto_sub"),
                  {QStringLiteral("-p"), QString::number(mqttPort), QStringLiteral("-t"),
                   QStringLiteral("vaduz/+/state"), QStringLiteral("-F"), QStringLiteral("%U %p")});
        sub.waitForStarted(5000);
        QProcess logger;
        logger.setStandardErrorFile(QProcess::nullDevice());
        logger.start(QStringLiteral(VADUZ_LOGGER),
                     {QStringLiteral("--port"), sim.slavePath(), QStringLiteral("--baud"),
                      QString::number(kBaud), QStringLiteral("--addresses"),
                      QStringLiteral("1-%1").arg(kControllers), QStringLiteral("--mqtt"),
                      QStringLiteral("127.0.0.1:%1").arg(mqttPort), QStringLiteral("--record"),
                      work.filePath(QStringLiteral("live"))});
        if (!logger.waitForStarted(5000)) {
            std::fprintf(stderr, "cannot start vaduz-logger\n");
            return 1;
        }
        pump(5000); // past the first rounds (every block read once)
        sub.readAllStandardOutput();
        const double cpu0 = cpuSeconds(logger.processId());
        QElapsedTimer t;
        t.start();
        std::vector<double> latency;
        QByteArray pending;
        while (t.elapsed() < seconds * 1000) {
            pump(200);
            pending += sub.readAllStandardOutput();
            int nl;
            while ((nl = pending.indexOf('\n')) >= 0) {
                const QByteArray line = pending.left(nl);
                pending.remove(0, nl + 1);
                const int space = line.indexOf(' ');
                const double arrived = line.left(space).toDouble() * 1000.0;
                const QJsonObject state = QJsonDocument::fromJson(line.mid(space + 1)).object();
                const QDateTime landed =
                    QDateTime::fromString(state.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
                if (landed.isValid())
                    latency.push_back(arrived - double(landed.toMSecsSinceEpoch()));
            }
        }
        const double cpu = cpuSeconds(logger.processId()) - cpu0;
        const double minutes = double(t.elapsed()) / 60000.0;
        const double rss = rssMb(logger.processId());
        std::printf("  states received          %zu (%.1f per s)\n", latency.size(),
                    double(latency.size()) / (minutes * 60));
        std::printf("  landing -> subscriber    median %.0f ms, 99th percentile %.0f ms\n",
                    percentile(latency, 0.5), percentile(latency, 0.99));
        std::printf("  logger CPU               %.2f s per minute (%.2f %% of a core)\n",
                    cpu / minutes, 100.0 * cpu / (minutes * 60));
        std::printf("  logger resident memory   %.1f MB\n", rss);
        std::fflush(stdout);
        logger.terminate();
        logger.waitForFinished(10000);
        sub.kill();
        sub.waitForFinished(2000);
        tickThread.stop();
    }

    // --- A day in virtual time: the round's work in this process ---------------------------
    std::printf("%d virtual hours of 1 s rounds over %d controllers (files, states to the broker)\n",
                hours, kControllers);
    // The log of every alarm event is not what is measured here.
    if (!std::freopen("/dev/null", "w", stderr))
        return 1;
    const QString shm = QStringLiteral("/dev/shm");
    QTemporaryDir records(QFile::exists(shm) ? shm + QStringLiteral("/vaduz-bench-XXXXXX")
                                             : QString());
    LoggerConfig config;
    config.link.ports << QStringLiteral("/dev/null");
    for (int a = 2; a <= kControllers; ++a)
        config.addresses << a;
    config.recordFolder = records.path();
    config.mqttOn = true;
    config.mqtt.host = QStringLiteral("127.0.0.1");
    config.mqtt.port = mqttPort;
    LoggerService service(config);
    QString error;
    if (!service.startOutputs(&error)) {
        std::fprintf(stderr, "cannot start: %s\n", qPrintable(error));
        return 1;
    }
    pump(500);
    QDateTime wall(QDate(2026, 12, 10), QTime(0, 0));
    uint8_t home[200];
    uint8_t alarms[10] = {};
    QElapsedTimer t;
    t.start();
    const int rounds = hours * 3600;
    for (int r = 1; r <= rounds; ++r) {
        for (int a = 1; a <= kControllers; ++a) {
            // Each controller's Home record moves a little every round; an alarm now and then.
            for (int i = 0; i < 100; ++i) {
                const int v = (31 * i + 7 * a + r) & 0x3FFF;
                home[2 * i] = uint8_t(v >> 8);
                home[2 * i + 1] = uint8_t(v);
            }
            alarms[1] = uint8_t((r / 600 + a) % 7 == 0);
            mirrorOf(uint8_t(a)).land(2, home, 100);
            mirrorOf(uint8_t(a)).land(6, alarms, 5);
        }
        service.processRound(wall);
        wall = wall.addSecs(1);
        if (r % 50 == 0)
            QCoreApplication::processEvents();
        if (r % (4 * 3600) == 0 || r == rounds)
            std::printf("  %5.1f h  resident %.1f MB  (%.0f s so far)\n", r / 3600.0,
                        rssMb(QCoreApplication::applicationPid()), t.elapsed() / 1000.0);
        std::fflush(stdout);
    }
    service.stop();
    broker.terminate();
    broker.waitForFinished(5000);
    return 0;
}
