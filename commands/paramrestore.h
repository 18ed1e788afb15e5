#pragma once
// Restoring a parameter set to one controller or to several addresses in turn. For each address:
// read its current set and save it as a backup beside the audit log, write only the parameters
// that differ from the file, read the set again and check every written parameter (taken: the
// controller now reports the file's value; not taken: it reports something else).

#include "paramreader.h"
#include "paramset.h"

#include <QObject>
#include <QVector>

class AuditRecorder;

struct ParamCheck {
    int number = 0;
    QString expected; // the file's value as the Settings page shows it
    QString read;     // what the controller reports after the write
    bool taken = false;
};

struct RestoreResult {
    int address = 0;
    bool answered = false; // the controller answered the reads (else "no answer")
    QString error;         // why the address was not restored, when it was not
    QString backupPath;
    int written = 0; // parameters sent
    QVector<ParamCheck> checks;
    int notTaken() const;
};

class ParamRestore : public QObject {
    Q_OBJECT
public:
    // backupFolder receives one backup file per address before anything is written to it;
    // audit (may be null) gets a line per check.
    ParamRestore(const ParamSet &file, const QVector<int> &addresses, const QString &backupFolder,
                 const QString &program, AuditRecorder *audit, QObject *parent = nullptr);

    // Checks that every parameter of the file can be written as it is (range included); false
    // with the first refused parameter's reason, and nothing starts.
    bool start(QString *error);
    // Writes the controller's own address (Host ID) too when it differs, last of all, and reads
    // back at the new address. Only for one address at a time.
    void setWriteHostId(bool write) { m_hostId = write; }
    void stop();
    bool isRunning() const { return m_state != State::Idle; }
    const QVector<RestoreResult> &results() const { return m_results; }

    // "backup-addr1-20250131-100000.json"
    static QString backupFileName(int address, const QDateTime &when);
    // Longest wait for the controller to finish the writes.
    static constexpr int kWriteTimeoutMs = 30000;

signals:
    void progress(const QString &what);
    void addressDone(const RestoreResult &result);
    void finished();

private:
    enum class State { Idle, ReadBefore, Writing, ReadAfter };
    void beginAddress();
    void readDone(bool ok, const QString &error);
    void pollWrites();
    void queueNextWrites();
    void finishAddress(const QString &error);

    ParamSet m_file;
    QVector<int> m_addresses;
    QString m_backupFolder;
    QString m_program;
    AuditRecorder *m_audit;
    ParamReader m_reader;
    QTimer m_writeTimer;
    int64_t m_writeStartMs = 0;
    State m_state = State::Idle;
    int m_index = 0;
    bool m_hostId = false;
    int m_readBackAddress = 0; // the address after the writes (a new Host ID moves it)
    QVector<int> m_written;
    QVector<WriteListEntry> m_entries; // the writes of this address, in order
    int m_nextEntry = 0;               // the first not yet queued
    RestoreResult m_current;
    QVector<RestoreResult> m_results;
};
