#include "busround.h"

#include "systick.h"

#include <QStringList>

#include <algorithm>

bool BusController::backedOff(uint32_t nowTick) const {
    // Tick differences are unsigned, so the comparison holds across the tick's wrap.
    return failuresInRow > 0 && static_cast<int32_t>(retryAtTick - nowTick) > 0;
}

int nextBusPosition(const std::vector<BusController> &controllers, int cursor, uint32_t nowTick) {
    const int positions = static_cast<int>(controllers.size()) * kBusReadsPerController;
    for (int k = 0; k < positions; ++k) {
        const int position = (std::max(0, cursor) + k) % positions;
        if (!controllers[position / kBusReadsPerController].backedOff(nowTick))
            return position;
    }
    return -1;
}

void noteBusOutcome(BusController &controller, bool answered, uint32_t nowTick) {
    if (answered) {
        ++controller.answered;
        controller.failuresInRow = 0;
        return;
    }
    ++controller.noAnswer;
    ++controller.failuresInRow;
    controller.retryAtTick =
        nowTick + (controller.failuresInRow == 1 ? kBusFirstRetryMs : kBusLaterRetryMs);
}

BusState busState(const BusController &controller, int64_t homeLandedAtMs, int64_t nowMs,
                  uint32_t nowTick, int64_t roundMs) {
    if (controller.failuresInRow > 0)
        return controller.backedOff(nowTick) ? BusState::BackedOff : BusState::NoAnswer;
    if (homeLandedAtMs == 0)
        return BusState::Waiting;
    return nowMs - homeLandedAtMs <= roundMs + kBusStaleMs ? BusState::Live : BusState::Stale;
}

const char *busStateText(BusState state) {
    switch (state) {
    case BusState::Live:
        return "live";
    case BusState::Stale:
        return "stale";
    case BusState::NoAnswer:
        return "no answer";
    case BusState::BackedOff:
        return "backed off";
    case BusState::Waiting:
        break;
    }
    return "waiting";
}

BusRound::BusRound(std::unique_ptr<PollSource> page, int pageShare)
    : m_page(std::move(page)), m_pageShare(std::max(1, pageShare)) {}

void BusRound::setAddresses(const QVector<int> &addresses) {
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<BusController> next;
    for (int a : addresses) {
        BusController c;
        c.addr = static_cast<uint8_t>(a);
        for (const BusController &old : m_controllers)
            if (old.addr == c.addr)
                c = old;
        next.push_back(c);
    }
    m_controllers = std::move(next);
    m_cursor = 0;
}

void BusRound::setPageShare(int pageShare) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_pageShare = std::max(1, pageShare);
}

std::vector<BusController> BusRound::controllers() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_controllers;
}

void BusRound::enter(int64_t phase) {
    m_page->enter(phase);
    std::lock_guard<std::mutex> guard(m_lock);
    m_lastPassTick = currentTick();
    m_pageDueTick = m_lastPassTick + static_cast<uint32_t>(std::max(1, m_page->periodMs()));
    m_owed = false;
    m_pagePasses = 0;
}

int BusRound::periodMs() const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_controllers.empty())
        return m_page->periodMs();
    // The worker measures from the last pass: a bus read owed goes out at once, and the page's
    // next pass keeps its own time whatever bus read came in between.
    if (m_owed)
        return 1;
    return std::max<int>(1, static_cast<int32_t>(m_pageDueTick - m_lastPassTick));
}

bool BusRound::next(PollRead *read) {
    std::unique_lock<std::mutex> guard(m_lock);
    const uint32_t now = currentTick();
    m_lastPassTick = now;
    m_lastWasBus = false;
    if (m_controllers.empty()) {
        guard.unlock();
        return m_page->next(read);
    }
    if (m_owed) {
        m_owed = false;
        const int position = nextBusPosition(m_controllers, m_cursor, now);
        if (position >= 0) {
            BusController &c = m_controllers[position / kBusReadsPerController];
            const PlanRead &what = kBusReads[position % kBusReadsPerController];
            ++c.asked;
            m_cursor = position + 1;
            m_lastWasBus = true;
            read->addr = c.addr;
            read->function = kFunctionRead;
            read->block = what.block;
            read->count = what.count;
            return true;
        }
        // Every controller backed off: the page's pass is not brought forward.
        return false;
    }
    // The page's pass: its next one a period on, and a bus read owed after pageShare of them.
    const uint32_t period = static_cast<uint32_t>(std::max(1, m_page->periodMs()));
    m_pageDueTick = static_cast<int32_t>(now - m_pageDueTick) > int32_t(period)
                        ? now + period // fell far behind: no burst to catch up
                        : m_pageDueTick + period;
    if (++m_pagePasses >= m_pageShare) {
        m_pagePasses = 0;
        m_owed = true;
    }
    guard.unlock();
    return m_page->next(read);
}

void BusRound::done(const PollRead &read, int landed) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_lastWasBus) {
            m_lastWasBus = false;
            for (BusController &c : m_controllers)
                if (c.addr == read.addr)
                    noteBusOutcome(c, landed >= 0, currentTick());
            return;
        }
    }
    m_page->done(read, landed);
}

bool parseBusAddresses(const QString &text, QVector<int> *addresses) {
    QVector<int> out;
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return false;
    for (const QString &part : parts) {
        const QStringList ends = part.split(QLatin1Char('-'));
        bool ok1 = false, ok2 = false;
        const int first = ends.first().trimmed().toInt(&ok1);
        const int last = ends.last().trimmed().toInt(&ok2);
        if (ends.size() > 2 || !ok1 || !ok2 || first < 1 || last > 247 || first > last)
            return false;
        for (int a = first; a <= last; ++a)
            if (!out.contains(a))
                out << a;
    }
    *addresses = out;
    return true;
}
