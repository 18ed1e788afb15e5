#pragma once
// The audit log: one CSV line for every write to a controller (single writes, one-click entries,
// restores from a file, the three commands, and the commands the operator cancelled) and every
// read-back check, appended and flushed one by one to audit-log.csv in the program's data folder.
// A write's line is made in the link worker the moment its outcome is known, before the next
// transaction, so no window that is slow or closing can lose it.

#include "writejournal.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <mutex>

struct AuditEntry {
    QDateTime time; // local
    QString port;   // the link as the operator sees it: port, or host:port and framing
    int address = 0;
    int param = 0;
    QString caption;
    QString before; // as last read at that address, or "unknown"
    QString sent;
    QString outcome; // "confirmed", "verified", "not taken (read ...)", "failed: ...", "cancelled"
    QString operatorName; // empty: the log's operator
};

// Safe to append from the link worker and the window at once.
class AuditLog {
public:
    static constexpr const char *kFileName = "audit-log.csv";
    // QStandardPaths::AppDataLocation.
    static QString defaultFolder();

    // An empty folder: the program's data folder while the remembered settings are on (the
    // program turns them on; tests leave them off), else none, and nothing is written.
    explicit AuditLog(const QString &folder = QString());
    QString folder() const;
    void setFolder(const QString &folder);
    QString path() const;

    // Who works the program: the login name, and after it the operator's name where one is set
    // ("jdoe (J. Doe)"). Every entry without its own operator is stamped with it.
    void setOperator(const QString &name);
    QString operatorName() const;
    // The login name of the user running the program.
    static QString loginName();

    // Appends the entry (and any that could not be written before, first) and flushes it.
    // False with the reason when the file cannot take it: the operating system's, or that a
    // folder or a symbolic link stands where the file should be. The entry is kept and written
    // with the next one that succeeds, so nothing is lost while the program runs.
    bool append(const AuditEntry &entry, QString *error);
    // Tries the kept lines again; false with the reason while some are still kept.
    bool retry(QString *error);
    int pendingCount() const;

    static QStringList header();
    static QStringList cells(const AuditEntry &entry);

private:
    bool writePending(QString *error); // with m_lock held
    QString folderLocked() const;
    mutable std::mutex m_lock;
    QString m_folder;
    QString m_operator;
    QStringList m_pending; // lines not yet written
};

// Makes the log's line for every write outcome the link worker notes (as its sink), and for
// read-back checks and cancelled commands.
class AuditRecorder : public QObject, public WriteOutcomeSink {
    Q_OBJECT
public:
    explicit AuditRecorder(AuditLog *log, QObject *parent = nullptr);
    ~AuditRecorder() override;

    // In the noting thread: the outcome's line, appended before the call returns.
    void writeNoted(const WriteOutcome &outcome) override;
    // A read-back check of parameter n at addr: expected and read are the Settings texts.
    void noteVerification(int addr, int n, const QString &expected, const QString &read,
                          bool taken);
    AuditLog *log() const { return m_log; }
    // Lines still kept for want of a writable file (after one more try).
    int flush(QString *error);

    // The outcome's entry: the value before from the mirror of the write's own address when its
    // block was read on this link before the write, else "unknown".
    static AuditEntry entryFor(const WriteOutcome &outcome, const QString &port);
    // The link as the operator sees it now: "/dev/ttyUSB0" or "10.0.0.5:502 (Modbus TCP)".
    static QString portName();

signals:
    // A line could not be written; reason says why. Emitted in the recorder's (the window's)
    // thread within kFailureCheckMs, once per kind of failure.
    void writeFailed(const QString &reason);

private:
    static constexpr int kFailureCheckMs = 200;
    void write(const AuditEntry &entry);
    // The window's thread: tells a failure the link worker met.
    void tellFailure();
    AuditLog *m_log;
    QTimer m_failureCheck;
    std::mutex m_failureLock;
    QString m_lastFailure;    // the failure last met (empty: the last line was written)
    QString m_failureToTell;  // the newest kind of failure, for the window
    uint32_t m_failures = 0;  // new kinds of failure met
    uint32_t m_failuresTold = 0;
};

// Notes a command the operator cancelled at its confirmation: nothing was sent to addr.
void noteCancelledCommand(uint8_t addr, uint16_t start, const QString &link);
