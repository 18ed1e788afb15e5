#include "paramreader.h"

#include "registermirror.h"
#include "writejournal.h"

namespace {

constexpr int kHomeMode = 0;
constexpr int kSettingsMode = 2;

// The page refresh stores the override in pollMode every 10 ms; without a window (the command
// line) nothing does, so it is stored here too.
void forcePollMode(int32_t mode) {
    pollModeOverride.store(mode, std::memory_order_release);
    if (mode >= 0)
        pollMode.store(mode, std::memory_order_release);
    wakeLinkWorker();
}

} // namespace

ParamReader::ParamReader(QObject *parent) : QObject(parent) {
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ParamReader::step);
}

ParamReader::~ParamReader() {
    if (m_running)
        pollModeOverride.store(-1, std::memory_order_release);
}

bool ParamReader::start() {
    // One read at a time: another one holds the poll mode until it ends.
    if (m_running || pollModeOverride.load(std::memory_order_acquire) >= 0 ||
        !portEnabled.load(std::memory_order_acquire) ||
        !linkRunning.load(std::memory_order_acquire))
        return false;
    m_running = true;
    m_settingsPhase = false;
    m_read = QVector<bool>(paramSetBlocks().size(), false);
    m_base.clear();
    for (int block : paramSetBlocks())
        m_base << blockLandings(block);
    m_homeLandings = 0;
    m_lastProgressMs = mirrorClockMs();
    // The Home page's plan reads only block 2; entering it also restarts the poll timer.
    forcePollMode(kHomeMode);
    m_timer.start();
    emit progress(0, blockCount());
    return true;
}

void ParamReader::stop() {
    if (m_running)
        end(false, tr("Stopped"));
}

void ParamReader::step() {
    if (!portEnabled.load(std::memory_order_acquire)) {
        end(false, tr("Disconnected"));
        return;
    }
    char problem[kStatusTextSize * 2];
    if (readLinkProblem(problem) > 0) {
        end(false, tr("Serial open failed: %1").arg(QString::fromLocal8Bit(problem)));
        return;
    }
    const QVector<int> &blocks = paramSetBlocks();
    const int64_t now = mirrorClockMs();
    int done = 0;
    bool advanced = false;
    if (!m_settingsPhase) {
        // The first landing may be of a read that began before the override; the second is
        // surely of this read's address and time.
        const int landings = static_cast<int>(blockLandings(blocks[0]) - m_base[0]);
        if (landings >= 2) {
            m_read[0] = true;
            m_settingsPhase = true;
            advanced = true;
            // Every Settings block read from now on is fresh.
            for (int i = 1; i < blocks.size(); ++i)
                m_base[i] = blockLandings(blocks[i]);
            forcePollMode(kSettingsMode);
        }
    } else {
        for (int i = 1; i < blocks.size(); ++i) {
            if (!m_read[i] && blockLandings(blocks[i]) != m_base[i]) {
                m_read[i] = true;
                advanced = true;
            }
        }
    }
    for (bool r : m_read)
        done += r ? 1 : 0;
    if (advanced) {
        m_lastProgressMs = now;
        emit progress(done, blockCount());
    }
    if (done == blockCount()) {
        end(true, QString());
    } else if (now - m_lastProgressMs > kBlockTimeoutMs) {
        int missing = 0;
        while (m_read[missing])
            ++missing;
        end(false, tr("No answer: block %1 could not be read").arg(blocks[missing]));
    }
}

void ParamReader::end(bool ok, const QString &error) {
    m_timer.stop();
    m_running = false;
    forcePollMode(-1);
    emit finished(ok, error);
}
