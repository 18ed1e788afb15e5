#include "platform.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcPlatform, "vaduz.app", QtInfoMsg)

namespace {

// Self-pipe: the handler only writes a byte; the event loop reads it and quits.
int g_signalFds[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalFds[0], &byte, 1);
}

} // namespace

std::unique_ptr<QObject> quitOnTerminationSignals(QCoreApplication *app) {
    if (g_signalFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(g_signalFds[1], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, app, [app] {
        char byte;
        [[maybe_unused]] const auto n = ::read(g_signalFds[1], &byte, 1);
        qCInfo(lcPlatform) << "Termination signal: closing";
        app->quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    // A write to a peer that has gone (the X server ended while the window is being closed, a
    // socket or pipe closed at the far end) would otherwise kill the process with SIGPIPE before
    // any teardown ran; ignored, the write fails with EPIPE and its caller handles that.
    std::signal(SIGPIPE, SIG_IGN);
    return notifier;
}

bool syncFileToDisk(QFile &file, QString *error) {
    if (::fsync(file.handle()) == 0)
        return true;
    *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

int serialBytesQueued(qintptr handle) {
    int queued = 0;
    if (::ioctl(static_cast<int>(handle), FIONREAD, &queued) != 0)
        return -1;
    return queued > 0 ? queued : 0;
}
