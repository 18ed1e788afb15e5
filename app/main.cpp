// The process entry: the command line, application attributes and default font, the main
// window at its fixed size with the last settings, and the optional built-in simulated
// controller or extra port entries. A termination
// signal (SIGTERM, SIGINT, SIGHUP) ends the event loop like closing the window, so the link
// worker is stopped and the port closed before the process goes.

#include "ui_widget.h"
#include "widget.h"

#include "bundledfonts.h"
#include "buswindow.h"
#include "commandline.h"
#include "linkmonitor.h"
#include "platform.h"
#include "ptysimulator.h"
#include "readparamscommand.h"
#include "registermirror.h"
#include "scancommand.h"
#include "serialconfig.h"
#include "serialsettings.h"
#include "storedsettings.h"

#include <QApplication>
#include <QFont>
#include <QLoggingCategory>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

Q_LOGGING_CATEGORY(lcApp, "vaduz.app", QtInfoMsg)

namespace {

// The window while the event loop runs. Qt ends the process with exit() from inside the loop
// when the display goes away; the handler stops the link worker and the tick thread before the
// static objects they use are destroyed.
Widget *g_window = nullptr;

// The built-in simulated controller answers at address 1, on a 9600 8N1 line.
constexpr uint8_t kSimulatorAddress = 1;
constexpr int kSimulatorBaud = 9600;

void stopThreadsAtExit() {
    if (g_window) {
        g_window->stopForExit();
        g_window = nullptr;
        qCInfo(lcApp) << "Link stopped at exit";
    }
}

// Puts the port, line and address asked for on the command line into the settings record,
// over what was remembered; the line settings not given keep their remembered values, or take
// 9600 8N1.
void applyCommandLine(const CommandLine &cl, const QString &simulatorEntry) {
    SerialSettings s = serialSettings();
    // The simulated controller is chosen when no other port or gateway is given.
    const bool simulated =
        cl.link.ports.isEmpty() && !cl.link.network() && !simulatorEntry.isEmpty();
    if (!simulated && !cl.link.namesLink())
        return;
    if (simulated) {
        s.comName = simulatorEntry;
        s.link = LinkKind::Serial;
        // The simulated controller's own line: a rate or framing remembered from a real
        // controller would make it deaf; --baud still chooses another.
        s.baudRate = kSimulatorBaud;
        s.dataBits = 8;
        s.stopBits = 1.0f;
        s.checkBit = 0;
    }
    setSerialSettings(settingsWithOptions(s, cl.link));
}

// The address the controller is asked at: --address, else the simulated controller's own when
// it is the one chosen, else the remembered one.
void applyCommandLineAddress(const CommandLine &cl, const QString &simulatorEntry) {
    const bool simulated =
        cl.link.ports.isEmpty() && !cl.link.network() && !simulatorEntry.isEmpty();
    if (cl.link.address != 0)
        deviceAddr.store(static_cast<uint8_t>(cl.link.address));
    else if (simulated)
        deviceAddr.store(kSimulatorAddress);
}

} // namespace

int main(int argc, char *argv[]) {
    // vaduz --scan --port PATH [--baud N]: no window and no display; prints and exits.
    if (const std::optional<int> status = runScanCommand(argc, argv))
        return *status;
    // vaduz --read-params FILE --port PATH: the same, reading a parameter set into a file.
    if (const std::optional<int> status = runReadParamsCommand(argc, argv))
        return *status;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    // Before any window system is touched: --help and --version need no display.
    const CommandLine cl = parseCommandLine(arguments);
    switch (cl.action) {
    case CommandLine::Action::Help:
    case CommandLine::Action::Version:
        std::fprintf(stdout, "%s\n", qPrintable(cl.text));
        return 0;
    case CommandLine::Action::Error:
        std::fprintf(stderr, "%s\n", qPrintable(cl.text));
        return 2;
    case CommandLine::Action::Run:
        break;
    }
    if (cl.verbose)
        QLoggingCategory::setFilterRules(
            QStringLiteral("vaduz.link.debug=true\nvaduz.link.frames.debug=true"));

    // The program draws nothing with OpenGL: on X11, Qt would otherwise load the GL stack (and
    // with a software renderer, LLVM) for every window, some 50 MB and a good part of the
    // start-up. Whoever sets the variable keeps the choice.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    QApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    auto font = std::make_unique<QFont>(QStringLiteral("Calibri"));
    font->setPixelSize(12);
    QApplication::setFont(*font);

    // QApplication keeps argc and argv: both live until the end of main.
    QList<QByteArray> qtArgBytes;
    for (const QString &a : cl.qtArgs)
        qtArgBytes << a.toLocal8Bit();
    std::vector<char *> qtArgv;
    for (QByteArray &a : qtArgBytes)
        qtArgv.push_back(a.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(qtArgBytes.size());
    auto app = std::make_unique<QApplication>(qtArgc, qtArgv.data());
    // The program's data folder (the audit log) sits beside its remembered settings' names.
    QCoreApplication::setOrganizationName(QStringLiteral("Kelvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Vaduz"));
    registerBundledFonts();

#ifdef VADUZ_HAVE_PTY
    std::unique_ptr<PtySimulator> simulator;
#endif
    QString simulatorEntry;
    if (cl.simulator) {
#ifdef VADUZ_HAVE_PTY
        simulator = std::make_unique<PtySimulator>();
        if (simulator->start()) {
            addExtraPort(simulator->slavePath(), QStringLiteral("Simulated controller"), true);
            simulatorEntry = simulator->slavePath() + QStringLiteral(":Simulated controller");
        } else {
            std::fprintf(stderr, "vaduz: the simulated controller could not be started\n");
            simulator.reset();
        }
#else
        std::fprintf(stderr, "vaduz: --simulator is not available here: the simulated controller "
                             "needs pseudo-terminals, which this system does not have\n");
#endif
    }
    for (const QString &path : cl.link.ports)
        addExtraPort(path, QStringLiteral("Serial port"));

    auto signalNotifier = quitOnTerminationSignals(app.get());

    int result = 0;
    {
        // The Home page first, on screen soonest; the other pages right after its first paint.
        Widget w(nullptr, Widget::FormBuild::HomeFirst);
        fixMainWindowFrame(w);
        // The last settings, then what the command line asks for on top.
        enableStoredSettings(true);
        applyStoredSettings();
        applyCommandLine(cl, simulatorEntry);
        applyCommandLineAddress(cl, simulatorEntry);
        // The settings window opens with the address in use.
        if (deviceAddr.load() != 0)
            w.settingsDialog()->showDeviceAddress(deviceAddr.load());
        // Closing the main window ends the program, whatever tool window would stay open.
        QObject::connect(&w, &Widget::closed, app.get(), &QCoreApplication::quit,
                         Qt::QueuedConnection);
        w.show();
        qCInfo(lcApp) << "Main window shown";
        if (cl.connect) {
            if (!comConfigured()) {
                std::fprintf(stderr, "vaduz: --connect: no port chosen yet (give --port, --tcp "
                                     "or --simulator, or choose one once in COM SET)\n");
            } else {
                if (deviceAddr.load() == 0)
                    deviceAddr.store(1);
                w.form()->com_open_close_btn->click();
            }
        }
        if (cl.bus) {
            BusWindow *bus = w.showBus();
            if (!cl.busAddresses.isEmpty())
                bus->setAddresses(cl.busAddresses);
        }
        w.recorder()->setFormat(cl.recordFormat);
        if (!cl.recordFolder.isEmpty()) {
            QString error;
            if (!w.startRecording(cl.recordFolder, &error))
                std::fprintf(stderr, "vaduz: --record: %s\n", qPrintable(error));
        }
        // Handlers run in reverse order of registration, interleaved with the destructors of
        // static objects: registered now, after every static the link uses is made, the
        // handler runs before any of them is destroyed.
        linkMonitor();
        g_window = &w;
        std::atexit(stopThreadsAtExit);
        result = app->exec();
        g_window = nullptr;
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
