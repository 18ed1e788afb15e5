// The process entry: application attributes and default font, the main window at its fixed
// size, and the optional built-in simulated controller or extra port entries. A termination
// signal (SIGTERM, SIGINT, SIGHUP) ends the event loop like closing the window, so the link
// worker is stopped and the port closed before the process goes.

#include "widget.h"

#include "ptysimulator.h"
#include "scancommand.h"
#include "serialsettings.h"

#include <QApplication>
#include <QFont>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QStringList>
#include <QtGlobal>

#include <csignal>
#include <cstdio>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcApp, "vaduz.app", QtInfoMsg)

namespace {

// Self-pipe: the handler only writes a byte; the event loop reads it and quits.
int g_signalFds[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalFds[0], &byte, 1);
}

std::unique_ptr<QSocketNotifier> quitOnTerminationSignals(QCoreApplication *app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(g_signalFds[1], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, app, [app] {
        char byte;
        [[maybe_unused]] const auto n = ::read(g_signalFds[1], &byte, 1);
        qCInfo(lcApp) << "Termination signal: closing";
        app->quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    return notifier;
}

struct Options {
    bool simulator = false;
    QStringList ports;
    bool ok = true;
};

// --simulator and --port PATH (repeatable); Qt's own options are left to QApplication.
Options parseOptions(const QStringList &args) {
    Options o;
    for (int i = 1; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--simulator")) {
            o.simulator = true;
        } else if (a == QLatin1String("--port")) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "vaduz: --port needs a device path\n");
                o.ok = false;
                break;
            }
            o.ports.append(args.at(++i));
        } else if (a.startsWith(QLatin1String("--port="))) {
            o.ports.append(a.mid(7));
        }
    }
    return o;
}

} // namespace

int main(int argc, char *argv[]) {
    // vaduz --scan --port PATH [--baud N]: no window and no display; prints and exits.
    if (const std::optional<int> status = runScanCommand(argc, argv))
        return *status;
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    auto font = std::make_unique<QFont>(QStringLiteral("Calibri"));
    font->setPixelSize(12);
    QApplication::setFont(*font);

    auto app = std::make_unique<QApplication>(argc, argv);
    const Options options = parseOptions(QApplication::arguments());
    if (!options.ok)
        return 2;

    std::unique_ptr<PtySimulator> simulator;
    if (options.simulator) {
        simulator = std::make_unique<PtySimulator>();
        if (simulator->start()) {
            addExtraPort(simulator->slavePath(), QStringLiteral("Simulated controller"), true);
        } else {
            std::fprintf(stderr, "vaduz: the simulated controller could not be started\n");
            simulator.reset();
        }
    }
    for (const QString &path : options.ports)
        addExtraPort(path, QStringLiteral("Serial port"));

    auto signalNotifier = quitOnTerminationSignals(app.get());

    int result = 0;
    {
        Widget w;
        fixMainWindowFrame(w);
        w.show();
        qCInfo(lcApp) << "Main window shown";
        result = app->exec();
    }
    qCInfo(lcApp) << "Main window closed";
    // The window (and with it the link worker) is gone; the controller can stop now.
    if (simulator)
        simulator->stop();
    simulator.reset();
    signalNotifier.reset();
    app.reset();
    font.reset();
    return result;
}
