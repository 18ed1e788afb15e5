#include "paramreader.h"

#include "pollsource.h"
#include "registermirror.h"

#include <bitset>

namespace {

// One parameter read on the link at a time.
std::atomic<bool> readerActive{false};

// As many registers of block as the page that shows it reads.
uint8_t blockRegs(int block) {
    for (const PlanRead &read : kSettingsCycle)
        if (read.block == block)
            return read.count;
    return kBlockSize;
}

} // namespace

ParamReader::ParamReader(QObject *parent) : QObject(parent) {
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ParamReader::step);
}

ParamReader::~ParamReader() {
    if (m_running) {
        cancelReadList(m_list);
        readerActive.store(false);
    }
}

bool ParamReader::start(int address) {
    if (m_running || !portEnabled.load(std::memory_order_acquire) ||
        !linkRunning.load(std::memory_order_acquire))
        return false;
    bool idle = false;
    if (!readerActive.compare_exchange_strong(idle, true))
        return false;
    m_running = true;
    m_address = address < 0 ? deviceAddr.load(std::memory_order_acquire)
                            : static_cast<uint8_t>(address);
    m_done = 0;
    m_lastProgressMs = mirrorClockMs();
    QVector<PlanRead> reads;
    for (int block : paramSetBlocks())
        reads.append({static_cast<uint8_t>(block), blockRegs(block)});
    m_list = queueReadList(m_address, reads.constData(), reads.size());
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
    const uint32_t landed = readListLanded(m_list);
    const int done = static_cast<int>(std::bitset<32>(landed).count());
    const int64_t now = mirrorClockMs();
    if (done != m_done) {
        m_done = done;
        m_lastProgressMs = now;
        emit progress(done, blockCount());
    }
    if (done == blockCount()) {
        end(true, QString());
    } else if (now - m_lastProgressMs > kBlockTimeoutMs) {
        int missing = 0;
        while (landed & (1u << missing))
            ++missing;
        end(false,
            tr("No answer: block %1 could not be read").arg(paramSetBlocks().at(missing)));
    }
}

void ParamReader::end(bool ok, const QString &error) {
    m_timer.stop();
    m_running = false;
    cancelReadList(m_list);
    readerActive.store(false);
    emit finished(ok, error);
}
