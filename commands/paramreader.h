#pragma once
// Reads a parameter set: makes the running link read the Home block and the Settings blocks of
// the current address once each (through the poll-mode override, whatever page is shown), with
// progress and a Stop, then hands the set over.

#include "paramset.h"

#include <QObject>
#include <QTimer>
#include <QVector>

#include <cstdint>

class ParamReader : public QObject {
    Q_OBJECT
public:
    explicit ParamReader(QObject *parent = nullptr);
    ~ParamReader() override;

    // Starts a read on the running link; false (and nothing started) when the link is not
    // running or a read (this one or another reader's) is under way.
    bool start();
    // Stops a read; finished() is emitted with "Stopped".
    void stop();
    bool isRunning() const { return m_running; }
    int blockCount() const { return paramSetBlocks().size(); }

    // Longest wait for the next block before the read is given up.
    static constexpr int kBlockTimeoutMs = 10000;

signals:
    void progress(int blocksRead, int blocks);
    // ok: the mirror holds a fresh read of every block; otherwise error says why.
    void finished(bool ok, const QString &error);

private:
    void step();
    void end(bool ok, const QString &error);

    QTimer m_timer;
    bool m_running = false;
    bool m_settingsPhase = false;
    int m_homeLandings = 0;
    QVector<uint32_t> m_base; // landings of each block when its phase began
    QVector<bool> m_read;
    int64_t m_lastProgressMs = 0;
};
