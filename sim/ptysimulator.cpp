#include "ptysimulator.h"

#include "simcontroller.h"
#include "simframer.h"
#include "simline.h"

#include <QLoggingCategory>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#ifdef __linux__
#include <sys/inotify.h>
#endif
#include <termios.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSim, "vaduz.sim", QtInfoMsg)

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kModelStepMs = 100;  // live model update period
constexpr int kIdlePollMs = 50;    // poll timeout when nothing is due
constexpr int kHangupPauseMs = 20; // back-off while the line has no other end

speed_t speedFor(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B9600;
    }
}

// The rate a terminal is set to; 0 when it cannot be told.
int baudOf(speed_t speed) {
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    default:
        return 0;
    }
}

bool makeRaw(int fd, int baud) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
        return false;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (baud > 0) {
        cfsetispeed(&tio, speedFor(baud));
        cfsetospeed(&tio, speedFor(baud));
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void closeFd(int &fd) {
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

struct PtySimulator::Impl {
    // Guarded by mutex: the controller, the faults, the request log and the path.
    mutable std::mutex mutex;
    SimController controller;
    SimFaults faults;
    QList<SimRequest> log;
    QString path;

    std::atomic<bool> running{false};
    std::atomic<int> requests{0};
    std::atomic<int> answers{0};
    std::atomic<int> dropCounter{0};
    std::atomic<int> noiseEveryMs{0};
    std::atomic<bool> hangUpArmed{false};
    std::atomic<bool> lineChanged{false}; // the line parts of faults changed
    std::atomic<int> controllerBaud{0};

    // Owned by the thread while it runs; set up and torn down by start/stop.
    int ioFd = -1;     // master side of the pty, or the serial device
    int holdFd = -1;   // our own slave descriptor, keeps the pty alive between opens
    int wakeRead = -1; // self-pipe that ends the thread's poll()
    // Opens and closes of the slave by others (the program), seen through inotify where the
    // system has it: an answer that would land on a port nobody has open is dropped, and what
    // a closing port left unread is flushed, as on a line with nobody listening. Without
    // inotify (watchFd < 0) every answer is written.
    int watchFd = -1;
    int peerOpens = 0; // thread only
    int wakeWrite = -1;
    std::thread thread;
    Clock::time_point started;

    bool startOn(int fd, int hold, const QString &where);
    void run();
    void takeArrived(SimFramer &framer, SimFramer &garbage);
    void handleFrame(const QByteArray &frame, Clock::time_point at, bool garbled = false);
    int hostBaud() const;
    void sendDue();
    void watchPeers(const char *slaveName);
    void readPeerEvents();
    bool peerListening() const { return watchFd < 0 || peerOpens > 0; }
    void sendNoise();
    void hangUpLine();
    SimLine line;              // thread only
    std::mt19937 noiseRng{7u}; // thread only
    bool lineDead = false;     // thread only: hangUpLine() closed the line
};

bool PtySimulator::Impl::startOn(int fd, int hold, const QString &where) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        ::close(fd);
        if (hold >= 0)
            ::close(hold);
        closeFd(watchFd);
        return false;
    }
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    ioFd = fd;
    holdFd = hold;
    wakeRead = pipeFds[0];
    wakeWrite = pipeFds[1];
    {
        std::lock_guard<std::mutex> lock(mutex);
        path = where;
    }
    started = Clock::now();
    running = true;
    thread = std::thread([this] { run(); });
    return true;
}

void PtySimulator::Impl::run() {
    SimFramer framer;
    SimFramer garbage; // what the controller makes of bytes sent at another baud rate
    auto lastModel = Clock::now();
    Clock::time_point nextNoise{};
    uint8_t buf[512];
    lineDead = false;
    line = SimLine(started);
    lineChanged.store(true, std::memory_order_release);
    while (running.load(std::memory_order_acquire) && !lineDead) {
        const auto now = Clock::now();
        // Advance the live model with the time that really passed.
        const auto sinceModel =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - lastModel).count();
        if (sinceModel >= kModelStepMs) {
            std::lock_guard<std::mutex> lock(mutex);
            controller.advance(static_cast<int>(sinceModel));
            lastModel = now;
        }

        int timeout = kIdlePollMs;
        const auto toMs = [&now](Clock::time_point t) {
            const auto ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count() + 1;
            return static_cast<int>(std::max<long long>(0, ms));
        };
        const auto lineDue = line.nextDue();
        if (lineDue != Clock::time_point::max())
            timeout = std::min(timeout, toMs(lineDue));
        if (framer.hasBytes())
            timeout = std::min(timeout, toMs(framer.gapDeadline()));
        if (garbage.hasBytes())
            timeout = std::min(timeout, toMs(garbage.gapDeadline()));
        const int noiseMs = noiseEveryMs.load(std::memory_order_acquire);
        if (noiseMs <= 0) {
            nextNoise = Clock::time_point{};
        } else {
            if (nextNoise == Clock::time_point{}) {
                // Irregular bursts: anywhere between half and one and a half periods apart.
                std::uniform_int_distribution<int> gap(noiseMs / 2, noiseMs + noiseMs / 2);
                nextNoise = now + std::chrono::milliseconds(gap(noiseRng));
            }
            timeout = std::min(timeout, toMs(nextNoise));
        }

        pollfd fds[3] = {{ioFd, POLLIN, 0}, {wakeRead, POLLIN, 0}, {watchFd, POLLIN, 0}};
        const int rc = ::poll(fds, watchFd >= 0 ? 3 : 2, timeout);
        if (rc < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN) {
            char drain[16];
            while (::read(wakeRead, drain, sizeof drain) > 0) {
            }
        }
        if (!running.load(std::memory_order_acquire))
            break;
        // After the wait: bytes read now were sent after any change made while we waited.
        if (lineChanged.exchange(false, std::memory_order_acq_rel)) {
            std::lock_guard<std::mutex> lock(mutex);
            SimLine::Settings settings = SimLine::settingsOf(faults);
            settings.controllerBaud = controllerBaud.load(std::memory_order_acquire);
            line.setSettings(settings);
        }
        // Before any request bytes: an open that came before them is known when they are read.
        if (watchFd >= 0 && (fds[2].revents & POLLIN))
            readPeerEvents();

        if (rc > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::read(ioFd, buf, sizeof buf);
            if (n > 0) {
                line.hostSent(reinterpret_cast<const char *>(buf), static_cast<int>(n),
                              Clock::now(), hostBaud());
            } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                // No other end at the moment (EIO on a master whose slave is closed,
                // end of file on a device): wait a little instead of spinning.
                ::poll(fds + 1, 1, kHangupPauseMs);
            }
        }
        takeArrived(framer, garbage);
        if (!lineDead) {
            const auto expiredAt = Clock::now();
            for (const QByteArray &frame : garbage.expire(expiredAt))
                handleFrame(frame, expiredAt, true);
            for (const QByteArray &frame : framer.expire(expiredAt)) {
                handleFrame(frame, expiredAt);
                if (lineDead)
                    break;
            }
        }
        if (lineDead)
            break;
        sendDue();
        // Noise goes out between answers, never inside one.
        if (nextNoise != Clock::time_point{} && Clock::now() >= nextNoise && !line.answerQueued()) {
            sendNoise();
            nextNoise = Clock::time_point{};
        }
    }
    running.store(false, std::memory_order_release);
}

void PtySimulator::Impl::sendNoise() {
    if (!peerListening())
        return;
    std::uniform_int_distribution<int> length(1, 8), byte(0, 255);
    char burst[8];
    const int n = length(noiseRng);
    for (int i = 0; i < n; ++i)
        burst[i] = static_cast<char>(byte(noiseRng));
    qCDebug(lcSim) << "noise" << QByteArray(burst, n).toHex(' ');
    line.sendNoise(QByteArray(burst, n), Clock::now());
}

void PtySimulator::Impl::hangUpLine() {
    // Both our ends go: the pseudo-terminal disappears under the program's open port, as a
    // pulled adapter does. The thread then ends; start() brings up a new line.
    qCDebug(lcSim) << "line hung up";
    line.clear();
    closeFd(ioFd);
    closeFd(holdFd);
    lineDead = true;
}

int PtySimulator::Impl::hostBaud() const {
    // On a pseudo-terminal the master reports the settings the program made on its end. A
    // device of our own (--device) runs at the rate it was opened with: the hardware decides.
    if (holdFd < 0)
        return 0;
    termios tio{};
    if (::tcgetattr(ioFd, &tio) != 0)
        return 0;
    return baudOf(cfgetospeed(&tio));
}

void PtySimulator::Impl::takeArrived(SimFramer &framer, SimFramer &garbage) {
    // Each byte reaches the framer at its own arrival time, so a request is complete only once
    // its last byte has crossed the line.
    QByteArray bytes;
    Clock::time_point at;
    bool misframed = false;
    while (!lineDead && line.takeArrived(Clock::now(), &bytes, &at, &misframed)) {
        const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData());
        if (misframed) {
            // Characters with framing errors are no request, whatever their values: they are
            // gathered only to be logged.
            for (const QByteArray &frame : garbage.feed(p, bytes.size(), at))
                handleFrame(frame, at, true);
            continue;
        }
        for (const QByteArray &frame : framer.feed(p, bytes.size(), at)) {
            handleFrame(frame, at);
            if (lineDead)
                return;
        }
    }
}

// at: when the frame's last byte arrived (or the gap that ended it passed).
// garbled: the bytes came at a baud rate the controller is not set to.
void PtySimulator::Impl::handleFrame(const QByteArray &frame, Clock::time_point at, bool garbled) {
    QByteArray answer;
    SimFaults f;
    bool hangingUp = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        SimRequest r;
        r.frame = frame;
        r.msSinceStart =
            std::chrono::duration_cast<std::chrono::milliseconds>(at - started).count();
        r.garbled = garbled;
        log.append(r);
        if (log.size() > kMaxLoggedRequests)
            log.removeFirst();
        f = faults;
        // A line that goes dead under a request: the controller never sees it.
        hangingUp = !garbled && hangUpArmed.exchange(false, std::memory_order_acq_rel);
        if (hangingUp)
            faults.hangUp = false;
        else if (!f.silent && !garbled)
            answer = controller.respond(frame);
    }
    requests.fetch_add(1, std::memory_order_release);
    if (garbled) {
        qCDebug(lcSim) << "garbage at another baud rate" << frame.toHex(' ');
        return;
    }
    if (hangingUp) {
        hangUpLine();
        return;
    }
    qCDebug(lcSim) << "request" << frame.toHex(' ') << "answer" << answer.toHex(' ');
    if (answer.isEmpty())
        return;
    if (f.dropEvery > 0 && (dropCounter.fetch_add(1) + 1) % f.dropEvery == 0)
        return;

    line.sendAnswer(answer, at + std::chrono::milliseconds(std::max(0, f.delayMs)), f.splitPieces,
                    f.splitGapMs);
}

void PtySimulator::Impl::watchPeers(const char *slaveName) {
#ifdef __linux__
    watchFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watchFd >= 0 && ::inotify_add_watch(watchFd, slaveName, IN_OPEN | IN_CLOSE) < 0)
        closeFd(watchFd);
#else
    (void)slaveName;
#endif
    peerOpens = 0;
}

void PtySimulator::Impl::readPeerEvents() {
#ifdef __linux__
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(watchFd, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buf + off);
            if (e->mask & IN_Q_OVERFLOW)
                peerOpens = std::max(peerOpens, 1); // lost count: assume someone listens
            if (e->mask & IN_OPEN)
                ++peerOpens;
            if ((e->mask & IN_CLOSE) && peerOpens > 0 && --peerOpens == 0)
                ::tcflush(holdFd, TCIFLUSH);
            off += static_cast<ssize_t>(sizeof(inotify_event)) + e->len;
        }
    }
#endif
}

void PtySimulator::Impl::sendDue() {
    const SimLine::Delivery out = line.takeForHost(Clock::now());
    if (!out.bytes.isEmpty() && !peerListening()) {
        // Sent into a line nobody listens to: counted, but never delivered.
        qCDebug(lcSim) << "bytes lost: the port is closed:" << out.bytes.size();
    } else if (!out.bytes.isEmpty()) {
        const char *p = out.bytes.constData();
        int left = out.bytes.size();
        // Non-blocking: if nobody drains the line and its buffer is full, the rest is lost,
        // as it would be on a real wire.
        while (left > 0) {
            const ssize_t n = ::write(ioFd, p, static_cast<size_t>(left));
            if (n > 0) {
                p += n;
                left -= static_cast<int>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                qCDebug(lcSim) << "answer bytes lost:" << left << std::strerror(errno);
                break;
            }
        }
    }
    if (out.answersDone > 0)
        answers.fetch_add(out.answersDone, std::memory_order_release);
}

// ------------------------------------------------------------------------------------------

PtySimulator::PtySimulator() : d(std::make_unique<Impl>()) {}

PtySimulator::~PtySimulator() {
    stop();
}

bool PtySimulator::start() {
    if (isRunning())
        return true;
    stop(); // a thread that ended on its own is joined before a new one starts
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return false;
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    // Our own slave descriptor: raw mode for the line, and the pty stays usable while the
    // program closes and reopens the port.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0 || !makeRaw(slave, 0)) {
        if (slave >= 0)
            ::close(slave);
        ::close(master);
        return false;
    }
    d->watchPeers(name);
    return d->startOn(master, slave, QString::fromLocal8Bit(name));
}

bool PtySimulator::startOnDevice(const QString &devicePath, int baud) {
    if (isRunning())
        return false;
    stop();
    const QByteArray p = devicePath.toLocal8Bit();
    const int fd = ::open(p.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::isatty(fd))
        makeRaw(fd, baud);
    return d->startOn(fd, -1, devicePath);
}

void PtySimulator::stop() {
    if (!d->thread.joinable())
        return;
    d->running.store(false, std::memory_order_release);
    const char wake = 1;
    (void)!::write(d->wakeWrite, &wake, 1);
    d->thread.join();
    d->line.clear();
    closeFd(d->ioFd);
    closeFd(d->holdFd);
    closeFd(d->watchFd);
    closeFd(d->wakeRead);
    closeFd(d->wakeWrite);
}

bool PtySimulator::isRunning() const {
    return d->running.load(std::memory_order_acquire);
}

QString PtySimulator::slavePath() const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->path;
}

void PtySimulator::setAddress(uint8_t addr) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setAddress(addr);
}

void PtySimulator::setAnswerAll(bool all) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setAnswerAll(all);
}

void PtySimulator::setDistinct(bool distinct) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setDistinct(distinct);
}

void PtySimulator::setDeviceCount(uint8_t n) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setDeviceCount(n);
}

void PtySimulator::setBaudRate(int baud) {
    d->controllerBaud.store(std::max(0, baud), std::memory_order_release);
    d->lineChanged.store(true, std::memory_order_release);
}

int PtySimulator::baudRate() const {
    return d->controllerBaud.load(std::memory_order_acquire);
}

void PtySimulator::setBadRequestReply(bool exception) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setBadRequestReply(exception ? SimController::BadRequestReply::Exception
                                               : SimController::BadRequestReply::Silence);
}

void PtySimulator::setFaults(const SimFaults &faults) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->faults = faults;
    d->controller.setFaults(faults);
    d->dropCounter = 0;
    d->noiseEveryMs.store(std::max(0, faults.noiseEveryMs), std::memory_order_release);
    d->hangUpArmed.store(faults.hangUp, std::memory_order_release);
    d->lineChanged.store(true, std::memory_order_release);
}

SimFaults PtySimulator::faults() const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->faults;
}

int16_t PtySimulator::reg(int block, int reg) const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->controller.reg(block, reg);
}

void PtySimulator::setReg(int block, int reg, int16_t value) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setReg(block, reg, value);
}

void PtySimulator::setFrozen(bool frozen) {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.setFrozen(frozen);
}

void PtySimulator::resetRegisters() {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->controller.resetRegisters();
}

QDateTime PtySimulator::clock() const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->controller.clock();
}

uint16_t PtySimulator::writtenRegister(int n) const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->controller.writtenRegister(n);
}

QList<SimRequest> PtySimulator::requests() const {
    // A copy of its own: a shared copy would leave the simulator thread growing a list whose
    // reference count the caller's thread changes without the lock.
    std::lock_guard<std::mutex> lock(d->mutex);
    QList<SimRequest> copy;
    copy.reserve(d->log.size());
    for (const SimRequest &r : d->log)
        copy.append(r);
    return copy;
}

void PtySimulator::clearRequests() {
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log.clear();
}

int PtySimulator::requestCount() const {
    return d->requests.load(std::memory_order_acquire);
}

int PtySimulator::answerCount() const {
    return d->answers.load(std::memory_order_acquire);
}
