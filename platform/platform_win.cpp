#include "platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QMetaObject>

#include <io.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

Q_LOGGING_CATEGORY(lcPlatform, "vaduz.app", QtInfoMsg)

namespace {

std::atomic<QCoreApplication *> g_app{nullptr};
// Set when the handling object goes, i.e. after the caller's teardown.
std::atomic<bool> g_done{false};

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    QCoreApplication *app = g_app.load(std::memory_order_acquire);
    if (!app)
        return FALSE;
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
    QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
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
        g_done.store(false, std::memory_order_relaxed);
        g_app.store(app, std::memory_order_release);
        m_installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    }
    ~ConsoleHandler() override {
        g_app.store(nullptr, std::memory_order_release);
        g_done.store(true, std::memory_order_release);
        if (m_installed)
            SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    }
    bool installed() const { return m_installed; }

private:
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
        *error = QStringLiteral("the file could not be written to disk (error %1)")
                     .arg(GetLastError());
        return false;
    }
    return true;
}
