#include "platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QWinEventNotifier>

#include <io.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

Q_LOGGING_CATEGORY(lcPlatform, "vaduz.app", QtInfoMsg)

namespace {

// The Windows counterpart of a self-pipe: the console handler only sets an event; a
// QWinEventNotifier on the GUI thread sees it and quits. The event lives as long as the
// process, so the handler never touches a closed handle.
HANDLE g_quitEvent = nullptr;
std::atomic<bool> g_active{false};
// Set when the handling object goes, i.e. after the caller's teardown.
std::atomic<bool> g_done{false};

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    if (!g_active.load(std::memory_order_acquire))
        return FALSE;
    SetEvent(g_quitEvent);
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        // The process ends when this handler returns: give the teardown its time (the system
        // allows about five seconds).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(4500);
        while (!g_done.load(std::memory_order_acquire) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return TRUE;
}

class ConsoleHandler : public QObject {
public:
    explicit ConsoleHandler(QCoreApplication *app) {
        if (!g_quitEvent)
            g_quitEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!g_quitEvent)
            return;
        m_notifier = new QWinEventNotifier(g_quitEvent, this);
        connect(m_notifier, &QWinEventNotifier::activated, app, [app] {
            qCInfo(lcPlatform) << "Termination request: closing";
            app->quit();
        });
        g_done.store(false, std::memory_order_relaxed);
        g_active.store(true, std::memory_order_release);
        m_installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    }
    ~ConsoleHandler() override {
        g_active.store(false, std::memory_order_release);
        if (m_installed)
            SetConsoleCtrlHandler(onConsoleEvent, FALSE);
        g_done.store(true, std::memory_order_release);
    }
    bool installed() const { return m_installed; }

private:
    QWinEventNotifier *m_notifier = nullptr;
    bool m_installed = false;
};

} // namespace

std::unique_ptr<QObject> quitOnTerminationSignals(QCoreApplication *app) {
    auto handler = std::make_unique<ConsoleHandler>(app);
    if (!handler->installed())
        return nullptr;
    return handler;
}

bool syncFileToDisk(QFile &file, QString *error) {
    // FlushFileBuffers needs a handle with write access; file may be open for reading only.
    QFile writable(file.fileName());
    if (!writable.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        *error = writable.errorString();
        return false;
    }
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(writable.handle()));
    if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle)) {
        *error =
            QStringLiteral("the file could not be written to disk (error %1)").arg(GetLastError());
        return false;
    }
    return true;
}

int serialBytesQueued(qintptr handle) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!::ClearCommError(reinterpret_cast<HANDLE>(handle), &errors, &status))
        return -1;
    return static_cast<int>(status.cbInQue);
}
