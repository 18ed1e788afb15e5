// Figures of the whole program's process, each beside its floor:
//  1. process CPU (user + system, % of one core) of the real main window: disconnected; then
//     connected to a simulated controller and idle on the Home page; then idle on the Pack
//     page. The controller is a `vaduz-sim --pty` child process, so its CPU is not counted.
//     The floor: a libmodbus master polling the same block (function 4, address 2, 100
//     registers, device 1) at the page's period against another vaduz-sim child.
//  2. the mean time between reads (first to last read seen) beside the nominal one.
//  3. resident memory of the shown window beside a bare 1400 x 900 QWidget shown in a child
//     process of its own (this program run with --bare).
//  4. start-up: from a child process's main() to its window's first expose (the window mapped
//     and painted), and its resident memory then, for the main window (this program run with
//     --startup, set up as the program's entry does) beside a bare 1400 x 900 QWidget in a
//     program that links only Qt Widgets (bench_bare_window); runs alternate, and the main
//     window's run also gives where its time went, and when (and at what memory) its other
//     pages were built after the first paint. The program runs without Qt's OpenGL
//     integration; the bare window is timed as Qt runs it by default and without it.
// Prints figures only; never fails on time.
//
//   bench_process [seconds per phase = 20] [start-up runs = 7]
//   (offscreen unless QT_QPA_PLATFORM is set; under xvfb-run with QT_QPA_PLATFORM=xcb for
//   a real window system)

#include "battertstackthread.h"
#include "bundledfonts.h"
#include "registermirror.h"
#include "serialline.h"
#include "ui_widget.h"
#include "widget.h"

#include "benchprocess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QLoggingCategory>
#include <QProcess>
#include <QTimer>
#include <QWindow>

#include <modbus.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>

namespace {

double seconds(const rusage &u) {
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double cpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return seconds(u);
}

void runEventLoop(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until done() or the deadline; true if done.
template <typename F> bool waitFor(F done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        runEventLoop(20);
    }
    return true;
}

// A simulated controller in a child process; its pseudo-terminal path comes on its stdout.
class SimulatorChild {
public:
    bool start() {
        m_process.start(QStringLiteral(VADUZ_SIM), {QStringLiteral("--pty")});
        if (!m_process.waitForStarted(5000) || !m_process.waitForReadyRead(5000))
            return false;
        m_path = QString::fromLocal8Bit(m_process.readLine().trimmed());
        return !m_path.isEmpty();
    }
    ~SimulatorChild() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate(); // SIGTERM to this child only
        if (!m_process.waitForFinished(3000))
            m_process.kill();
    }
    const QString &path() const { return m_path; }

private:
    QProcess m_process;
    QString m_path;
};

struct Phase {
    double cpuPercent = 0;
    double meanPeriodMs = 0;
    quint64 reads = 0;
};

// Process CPU over `secs` with the event loop running, and the worker's reads meanwhile.
Phase measure(Widget &w, int secs) {
    const quint64 reads0 = w.worker()->stats().readsOk;
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer wall;
    wall.start();
    runEventLoop(secs * 1000);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    Phase p;
    p.cpuPercent = 100.0 * (cpuSeconds(RUSAGE_SELF) - cpu0) / elapsed;
    p.reads = w.worker()->stats().readsOk - reads0;
    return p;
}

// The mean time between reads, from the first to the last read seen within `secs` (a watcher
// looks every millisecond, so this runs apart from the CPU phase).
double meanReadIntervalMs(Widget &w, int secs) {
    QElapsedTimer wall;
    wall.start();
    quint64 last = w.worker()->stats().readsOk, changes = 0;
    qint64 firstNs = -1, lastNs = -1;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const quint64 now = w.worker()->stats().readsOk;
        if (now == last)
            return;
        last = now;
        lastNs = wall.nsecsElapsed();
        if (firstNs < 0)
            firstNs = lastNs;
        else
            ++changes;
    });
    watch.start(1);
    runEventLoop(secs * 1000);
    return changes ? double(lastNs - firstNs) / 1e6 / double(changes) : 0;
}

// The floor: an idle libmodbus master reading block 2 every periodMs on its own thread; the
// CPU of that thread alone (the window's tick thread keeps running in this process).
double modbusFloorPercent(const QString &path, int periodMs, int secs) {
    double percent = -1;
    std::thread master([&] {
        const QByteArray port = path.toLocal8Bit();
        modbus_t *ctx = modbus_new_rtu(port.constData(), 9600, 'N', 8, 1);
        if (!ctx)
            return;
        if (modbus_set_slave(ctx, 1) == 0 && modbus_connect(ctx) == 0) {
            uint16_t regs[100];
            const double cpu0 = cpuSeconds(RUSAGE_THREAD);
            QElapsedTimer wall;
            wall.start();
            for (qint64 next = 0; next < secs * 1000LL; next += periodMs) {
                modbus_read_input_registers(ctx, 2, 100, regs);
                const qint64 wait = next + periodMs - wall.elapsed();
                if (wait > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            }
            percent = 100.0 * (cpuSeconds(RUSAGE_THREAD) - cpu0) / (wall.nsecsElapsed() / 1e9);
            modbus_close(ctx);
        }
        modbus_free(ctx);
    });
    master.join();
    return percent;
}

// The bare window's VmRSS in kB, from a child run of this program with --bare.
long bareWindowRssKb(const QString &self) {
    QProcess child;
    child.start(self, {QStringLiteral("--bare")});
    if (!child.waitForFinished(60000))
        return -1;
    return child.readAllStandardOutput().trimmed().toLong();
}

// The start-up child: the program's entry, step by step, timed; prints when the window's first
// expose has been handled and its other pages built "<ms to mapped> <kB> <ms application> <ms
// fonts> <ms window> <ms show> <kB at main()> <kB application> <kB fonts> <kB window> <ms all
// pages built> <kB then>" (each step's own share).
int startupChild(QElapsedTimer &sinceMain, int argc, char **argv) {
    setUpAsTheProgram();
    const long kbMain = rssKb();
    QApplication app(argc, argv);
    const qint64 tApp = sinceMain.elapsed();
    const long kbApp = rssKb();
    registerBundledFonts();
    const qint64 tFonts = sinceMain.elapsed();
    const long kbFonts = rssKb();
    Widget w(nullptr, Widget::FormBuild::HomeFirst);
    fixMainWindowFrame(w);
    const qint64 tWidget = sinceMain.elapsed();
    const long kbWidget = rssKb();
    w.winId();
    bool reported = false;
    QObject probe;
    struct Filter : QObject {
        std::function<void()> onExpose;
        bool eventFilter(QObject *o, QEvent *e) override {
            if (e->type() == QEvent::Expose && static_cast<QWindow *>(o)->isExposed() && onExpose)
                onExpose();
            return false;
        }
    } filter;
    qint64 tShow = 0;
    // The first line as soon as the window is mapped (the parent times it from outside), the
    // other pages' line when they are built.
    auto print = [&] {
        std::printf("%lld %ld\n", static_cast<long long>(sinceMain.elapsed()), rssKb());
        std::fflush(stdout);
        QCoreApplication::quit();
    };
    QObject::connect(&w, &Widget::formCompleted, &probe, [&] {
        if (reported)
            QMetaObject::invokeMethod(&probe, print, Qt::QueuedConnection);
    });
    filter.onExpose = [&] {
        if (reported)
            return;
        reported = true;
        QMetaObject::invokeMethod(
            &probe,
            [&] {
                std::printf("%lld %ld %lld %lld %lld %lld %ld %ld %ld %ld ",
                            static_cast<long long>(sinceMain.elapsed()), rssKb(),
                            static_cast<long long>(tApp), static_cast<long long>(tFonts - tApp),
                            static_cast<long long>(tWidget - tFonts),
                            static_cast<long long>(tShow - tWidget), kbMain, kbApp - kbMain,
                            kbFonts - kbApp, kbWidget - kbFonts);
                std::fflush(stdout);
                if (w.formComplete())
                    print();
            },
            Qt::QueuedConnection);
    };
    w.windowHandle()->installEventFilter(&filter);
    w.show();
    tShow = sinceMain.elapsed();
    return app.exec();
}

// QT_XCB_GL_INTEGRATION as this program found it.
QString g_glIntegration;

// One start-up run of program with args: the milliseconds from starting the process to its
// report (the loading of its libraries included), then the numbers it prints.
// gl: with Qt's default OpenGL integration (the environment this program started with).
QList<double> startupRun(const QString &program, const QStringList &args, bool gl) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (gl)
        env.remove(QStringLiteral("QT_XCB_GL_INTEGRATION"));
    if (gl && !g_glIntegration.isEmpty())
        env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), g_glIntegration);
    child.setProcessEnvironment(env);
    QElapsedTimer wall;
    wall.start();
    child.start(program, args);
    QList<double> out;
    if (!child.waitForReadyRead(60000))
        return out;
    out << double(wall.elapsed());
    if (!child.waitForFinished(60000))
        return {};
    for (const QByteArray &n : child.readAllStandardOutput().simplified().split(' '))
        out << n.toDouble();
    return out;
}

double median(QList<double> v) {
    if (v.isEmpty())
        return -1;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void printStartup(int runs) {
    const QString self = QCoreApplication::applicationFilePath();
    const QString bare = QStringLiteral(BENCH_BARE_WINDOW);
    // column -> its values over the runs
    QVector<QList<double>> window(13), bareRuns(3), bareNoGl(3);
    for (int i = 0; i < runs; ++i) {
        const QList<double> w = startupRun(self, {QStringLiteral("--startup")}, false);
        const QList<double> b = startupRun(bare, {}, true);
        const QList<double> n = startupRun(bare, {}, false);
        // The process's own figures first, the time seen from outside last.
        for (int c = 0; c < 13 && w.size() == 13; ++c)
            window[(c + 12) % 13] << w[c];
        for (int c = 0; c < 3 && b.size() == 3; ++c)
            bareRuns[(c + 2) % 3] << b[c];
        for (int c = 0; c < 3 && n.size() == 3; ++c)
            bareNoGl[(c + 2) % 3] << n[c];
    }
    auto range = [](const QList<double> &v) {
        if (v.isEmpty())
            return QStringLiteral("-");
        return QStringLiteral("%1-%2")
            .arg(*std::min_element(v.begin(), v.end()), 0, 'f', 0)
            .arg(*std::max_element(v.begin(), v.end()), 0, 'f', 0);
    };
    std::printf("start-up, %d runs each, alternating (main() to the window's first expose):\n",
                runs);
    std::printf("  main window        median %6.0f ms  (%s)   VmRSS %6.1f MB\n", median(window[0]),
                qPrintable(range(window[0])), median(window[1]) / 1024);
    std::printf("  bare 1400 x 900    median %6.0f ms  (%s)   VmRSS %6.1f MB\n",
                median(bareRuns[0]), qPrintable(range(bareRuns[0])), median(bareRuns[1]) / 1024);
    std::printf("  ratio %.2f, memory %+.1f MB\n", median(window[0]) / median(bareRuns[0]),
                (median(window[1]) - median(bareRuns[1])) / 1024);
    // The main window runs without Qt's OpenGL integration; the same bare window without it.
    std::printf("  bare, no GL        median %6.0f ms  (%s)   VmRSS %6.1f MB   ratio %.2f, "
                "memory %+.1f MB\n",
                median(bareNoGl[0]), qPrintable(range(bareNoGl[0])), median(bareNoGl[1]) / 1024,
                median(window[0]) / median(bareNoGl[0]),
                (median(window[1]) - median(bareNoGl[1])) / 1024);
    std::printf("  from starting the process (its libraries loaded too): main window %.0f ms "
                "(%s), bare %.0f ms (%s), ratio %.2f\n",
                median(window[12]), qPrintable(range(window[12])), median(bareRuns[2]),
                qPrintable(range(bareRuns[2])), median(window[12]) / median(bareRuns[2]));
    std::printf("  main window's other pages built after the first paint: at %.0f ms (%s), VmRSS "
                "%.1f MB (%+.1f MB beside the bare window)\n",
                median(window[10]), qPrintable(range(window[10])), median(window[11]) / 1024,
                (median(window[11]) - median(bareRuns[1])) / 1024);
    std::printf("  main window's steps (median ms): application %.0f, bundled fonts %.0f, "
                "window built %.0f, show %.0f, to first expose %.0f\n",
                median(window[2]), median(window[3]), median(window[4]), median(window[5]),
                median(window[0]) - median(window[2]) - median(window[3]) - median(window[4]) -
                    median(window[5]));
    std::printf("  main window's memory (median MB): at main() %.1f, application %+.1f, bundled "
                "fonts %+.1f, window built %+.1f, shown and painted %+.1f\n",
                median(window[6]) / 1024, median(window[7]) / 1024, median(window[8]) / 1024,
                median(window[9]) / 1024,
                (median(window[1]) - median(window[6]) - median(window[7]) - median(window[8]) -
                 median(window[9])) /
                    1024);
}

void printPhase(const char *name, const Phase &p, double floorPercent, double nominalMs) {
    std::printf("  %-30s %6.2f %%", name, p.cpuPercent);
    if (floorPercent > 0)
        std::printf("   floor %5.2f %%   ratio %5.1f", floorPercent, p.cpuPercent / floorPercent);
    std::printf("\n");
    if (nominalMs > 0)
        std::printf("  %-30s %6.1f ms between reads   nominal %.1f ms   ratio %.4f\n",
                    "  poll period", p.meanPeriodMs, nominalMs, p.meanPeriodMs / nominalMs);
}

} // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen"); // the --bare child inherits it
    // As the program's entry: no OpenGL integration unless the environment asks for one; the
    // children inherit it, but for the bare window as Qt runs it by default.
    g_glIntegration = qEnvironmentVariable("QT_XCB_GL_INTEGRATION");
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    if (argc > 1 && qstrcmp(argv[1], "--startup") == 0)
        return startupChild(sinceMain, argc, argv);
    setUpAsTheProgram();
    QApplication app(argc, argv);
    const bool bare = argc > 1 && qstrcmp(argv[1], "--bare") == 0;
    const int secs = !bare && argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    const int startupRuns = !bare && argc > 2 ? std::max(1, atoi(argv[2])) : 7;

    if (bare) {
        QWidget w;
        w.resize(1400, 900);
        w.show();
        runEventLoop(4000);
        std::printf("%ld\n", rssKb());
        return 0;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("vaduz.*.debug=false"));

    SimulatorChild sim;
    if (!sim.start()) {
        std::fprintf(stderr, "bench_process: cannot start %s --pty\n", VADUZ_SIM);
        return 1;
    }

    auto w = std::make_unique<Widget>();
    // The full 1400 x 900 window, as on a screen that holds it (the offscreen screen would not).
    fixMainWindowFrame(*w, QRect(0, 0, 1920, 1040));
    w->show();
    runEventLoop(4000);
    const long shownKb = rssKb();

    const Phase disconnected = measure(*w, secs);

    // Connect as the operator does: the settings record names the port, then Connect.
    useSerialLine(sim.path());
    deviceAddr.store(1);
    w->form()->com_open_close_btn->click();
    if (!waitFor([&] { return w->worker()->stats().readsOk > 0; }, 10000)) {
        std::fprintf(stderr, "bench_process: the window does not read from the simulator\n");
        return 1;
    }
    runEventLoop(1000);
    Phase home = measure(*w, secs);
    home.meanPeriodMs = meanReadIntervalMs(*w, std::max(5, secs / 2));
    w->form()->tabWidget->setCurrentIndex(4);
    runEventLoop(1000);
    Phase pack = measure(*w, secs);
    pack.meanPeriodMs = meanReadIntervalMs(*w, std::max(5, secs / 2));
    const long connectedKb = rssKb();
    w.reset();

    SimulatorChild floorSim;
    const bool floorUp = floorSim.start();
    const double homeFloor = floorUp ? modbusFloorPercent(floorSim.path(), 500, secs) : -1;
    const double packFloor = floorUp ? modbusFloorPercent(floorSim.path(), 200, secs) : -1;
    const long bareKb = bareWindowRssKb(QCoreApplication::applicationFilePath());

    std::printf("main window process, platform %s, %d s a phase\n",
                qPrintable(QGuiApplication::platformName()), secs);
    std::printf("process CPU (%% of one core; the simulated controller runs in a child):\n");
    printPhase("disconnected", disconnected, -1, 0);
    printPhase("connected, idle on Home", home, homeFloor, 500);
    // The Pack page's cycle is 15 reads and one silent pass of 200 ms each.
    printPhase("connected, idle on Pack", pack, packFloor, 200.0 * 16 / 15);
    std::printf("  (floor: libmodbus master, one block-2 read per period, its thread's CPU)\n");
    std::printf("resident memory (VmRSS):\n");
    std::printf("  window shown, idle               %7.1f MB\n", shownKb / 1024.0);
    std::printf("  after Home and Pack connected    %7.1f MB\n", connectedKb / 1024.0);
    std::printf("  bare 1400 x 900 QWidget          %7.1f MB\n", bareKb / 1024.0);
    std::printf("  difference (shown - bare)        %7.1f MB\n", (shownKb - bareKb) / 1024.0);
    std::printf("  difference (after pages - bare)  %7.1f MB\n", (connectedKb - bareKb) / 1024.0);
    printStartup(startupRuns);
    return 0;
}
