#pragma once
// The audit log: one CSV line for every write to a controller (single writes, one-click entries,
// restores from a file, the three commands) and every read-back check, appended and flushed one
// by one to audit-log.csv in the program's data folder.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>

struct WriteOutcome;

struct AuditEntry {
    QDateTime time; // local
    QString port;
    int address = 0;
    int param = 0;
    QString caption;
    QString before; // as last read, or "unknown"
    QString sent;
    QString outcome; // "confirmed", "verified", "not taken (read ...)", "failed: ..."
};

class AuditLog {
public:
    static constexpr const char *kFileName = "audit-log.csv";
    // QStandardPaths::AppDataLocation.
    static QString defaultFolder();

    // An empty folder: the program's data folder while the remembered settings are on (the
    // program turns them on; tests leave them off), else none, and nothing is written.
    explicit AuditLog(const QString &folder = QString());
    QString folder() const;
    void setFolder(const QString &folder) { m_folder = folder; }
    QString path() const;

    // Appends the entry (and any that could not be written before, first) and flushes it.
    // False with the operating system's reason when the file cannot take it; the entry is kept
    // and written with the next one that succeeds, so nothing is lost while the program runs.
    bool append(const AuditEntry &entry, QString *error);
    int pendingCount() const { return m_pending.size(); }

    static QStringList header();
    static QStringList cells(const AuditEntry &entry);

private:
    QString m_folder;
    QStringList m_pending; // lines not yet written
};

// Takes every write outcome the link worker notes and logs it with the value shown before it.
class AuditRecorder : public QObject {
    Q_OBJECT
public:
    explicit AuditRecorder(AuditLog *log, QObject *parent = nullptr);

    // Logs the journal's new outcomes now (the timer does it every 50 ms).
    void poll();
    // A read-back check of parameter n at addr: expected and read are the Settings texts.
    void noteVerification(int addr, int n, const QString &expected, const QString &read,
                          bool taken);
    AuditLog *log() const { return m_log; }

    // The outcome's entry: the value before from the mirror when its block was read on this link
    // before the write, else "unknown".
    static AuditEntry entryFor(const WriteOutcome &outcome, const QString &port);
    // "/dev/ttyUSB0" from the port entry "/dev/ttyUSB0:USB serial".
    static QString portName();

signals:
    // A line could not be written; reason is the operating system's.
    void writeFailed(const QString &reason);

private:
    void write(const AuditEntry &entry);
    AuditLog *m_log;
    uint64_t m_seq = 0;
    QTimer m_timer;
    QString m_lastFailure;
};
