#pragma once
// Reads a parameter set: hands the running link a read list of the Home block and the Settings
// blocks of one address, which it reads once each ahead of the page's plan, whatever page is
// shown; with progress and a Stop.

#include "paramset.h"

#include <QObject>
#include <QTimer>

#include <cstdint>

class ParamReader : public QObject {
    Q_OBJECT
public:
    explicit ParamReader(QObject *parent = nullptr);
    ~ParamReader() override;

    // Starts a read of the controller at address (-1: the selected one) on the running link;
    // false (and nothing started) when the link is not running or a read (this one or another
    // reader's) is under way.
    bool start(int address = -1);
    // Stops a read; finished() is emitted with "Stopped".
    void stop();
    bool isRunning() const { return m_running; }
    // The address being read (or last read).
    uint8_t address() const { return m_address; }
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
    uint8_t m_address = 0;
    uint32_t m_list = 0; // the read list's generation
    int m_done = 0;
    int64_t m_lastProgressMs = 0;
};
