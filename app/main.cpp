// The process entry: application attributes and default font, the main window at its fixed
// size, and the optional built-in simulated controller or extra port entries. A termination
// signal (SIGTERM, SIGINT, SIGHUP) ends the event loop like closing the window, so the link
// worker is stopped and the port closed before the process goes.

#include "widget.h"

#include "platform.h"
#include "ptysimulator.h"
#include "serialsettings.h"

#include <QApplication>
#include <QFont>
#include <QLoggingCategory>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <memory>

Q_LOGGING_CATEGORY(lcApp, "vaduz.app", QtInfoMsg)

namespace {

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
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    auto font = std::make_unique<QFont>(QStringLiteral("Calibri"));
    font->setPixelSize(12);
    QApplication::setFont(*font);

    auto app = std::make_unique<QApplication>(argc, argv);
    const Options options = parseOptions(QApplication::arguments());
    if (!options.ok)
        return 2;

#ifdef VADUZ_HAVE_PTY
    std::unique_ptr<PtySimulator> simulator;
#endif
    if (options.simulator) {
#ifdef VADUZ_HAVE_PTY
        simulator = std::make_unique<PtySimulator>();
        if (simulator->start()) {
            addExtraPort(simulator->slavePath(), QStringLiteral("Simulated controller"), true);
        } else {
            std::fprintf(stderr, "vaduz: the simulated controller could not be started\n");
            simulator.reset();
        }
#else
        std::fprintf(stderr, "vaduz: --simulator is not available here: the simulated controller "
                             "needs pseudo-terminals, which this system does not have\n");
#endif
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
#ifdef VADUZ_HAVE_PTY
    if (simulator)
        simulator->stop();
    simulator.reset();
#endif
    signalNotifier.reset();
    app.reset();
    font.reset();
    return result;
}
