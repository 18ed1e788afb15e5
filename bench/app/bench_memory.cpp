// Resident memory of the main window with the Link monitor and Trends open over a day of link
// traffic, in virtual time: every 200 ms a Home read (request, 100-register answer, outcome) as
// the link records it, every 250 ms the monitor takes the new lines, every second a trend sample
// of the seven key values, every ten minutes a replot (its series hold a bounded number of
// points whatever the span). Prints the resident set at the start (idle
// window), with both windows open, and after 1, 6, 24 and 30 hours. Never fails.
//   QT_QPA_PLATFORM=offscreen bench_memory [hours, default 30]

#include "linkmonitor.h"
#include "linkmonitorwindow.h"
#include "trendmodel.h"
#include "trendwindow.h"
#include "widget.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QTextDocument>

#include <cstdio>
#include <map>

namespace {

// VmRSS of /proc/self/status, in MB.
double residentMb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

QByteArray readRequest() {
    return QByteArray::fromHex("0104000200649021");
}

QByteArray readAnswer(int n) {
    QByteArray a = QByteArray::fromHex("0104c8");
    for (int i = 0; i < 100; ++i) {
        a.append(char((n + i) >> 8));
        a.append(char(n + i));
    }
    a.append("\x12\x34", 2);
    return a;
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const int hours = argc > 1 ? std::max(1, atoi(argv[1])) : 30;

    Widget w;
    w.show();
    app.processEvents();
    const double idle = residentMb();
    LinkMonitorWindow *monitor = w.showLinkMonitor();
    TrendWindow *trends = w.showTrends();
    app.processEvents();
    std::printf("resident memory (MB), virtual time\n");
    std::printf("  idle main window          %7.1f\n", idle);
    std::printf("  monitor and trends open   %7.1f\n", residentMb());

    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    const QStringList keys = TrendModel::defaultFields();
    QElapsedTimer wall;
    wall.start();
    int transaction = 0;
    for (qint64 ms = 0; ms <= qint64(hours) * 3600 * 1000; ms += 50) {
        const qint64 now = t0 + ms;
        if (ms % 200 == 0) {
            MonitorEvent sent;
            sent.kind = MonitorEvent::Sent;
            sent.bytes = readRequest();
            linkMonitor().record(sent);
            MonitorEvent received;
            received.kind = MonitorEvent::Received;
            received.bytes = readAnswer(transaction++);
            received.requestAddr = 1;
            received.requestFunc = 4;
            received.requestStart = 2;
            linkMonitor().record(received);
            MonitorEvent outcome;
            outcome.text = QStringLiteral("read block 2: answered in 12.3 ms");
            linkMonitor().record(outcome);
        }
        if (ms % 250 == 0)
            monitor->poll();
        if (ms % 1000 == 0) {
            std::map<QString, double> numbers;
            for (int k = 0; k < keys.size(); ++k)
                numbers[keys.at(k)] = (transaction + k * 7) % 1000 / 10.0;
            w.trendModel()->addSample(now, numbers);
        }
        if (ms % 600000 == 0) {
            trends->replot();
            app.processEvents();
        }
        const qint64 h = ms / 3600000;
        if (ms % 3600000 == 0 && (h == 1 || h == 6 || h == 24 || h == hours))
            std::printf("  after %2lld h                %7.1f   (%lld samples, %d lines shown; "
                        "%.0f s real)\n",
                        h, residentMb(), static_cast<long long>(w.trendModel()->size()),
                        monitor->view()->document()->blockCount(), wall.elapsed() / 1000.0);
        std::fflush(stdout);
    }
    return 0;
}
