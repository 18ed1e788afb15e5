#include "auditlog.h"

#include "writeerror.h"

#include "csvcell.h"
#include "fieldmap.h"
#include "paramset.h"
#include "paramtable.h"
#include "registermirror.h"
#include "serialsettings.h"
#include "storedsettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

QString AuditLog::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

AuditLog::AuditLog(const QString &folder) : m_folder(folder), m_operator(loginName()) {}

QString AuditLog::folderLocked() const {
    if (!m_folder.isEmpty())
        return m_folder;
    return storedSettingsEnabled() ? defaultFolder() : QString();
}

QString AuditLog::folder() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return folderLocked();
}

void AuditLog::setFolder(const QString &folder) {
    std::lock_guard<std::mutex> guard(m_lock);
    m_folder = folder;
}

QString AuditLog::path() const {
    const QString dir = folder();
    return dir.isEmpty() ? QString() : QDir(dir).filePath(QLatin1String(kFileName));
}

QString AuditLog::loginName() {
    for (const char *name : {"USER", "LOGNAME", "USERNAME"}) {
        const QString login = qEnvironmentVariable(name);
        if (!login.isEmpty())
            return login;
    }
    return QDir::home().dirName();
}

void AuditLog::setOperator(const QString &name) {
    const QString who = name.trimmed().isEmpty()
                            ? loginName()
                            : QStringLiteral("%1 (%2)").arg(loginName(), name.trimmed());
    std::lock_guard<std::mutex> guard(m_lock);
    m_operator = who;
}

QString AuditLog::operatorName() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_operator;
}

int AuditLog::pendingCount() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pending.size();
}

QStringList AuditLog::header() {
    return {QStringLiteral("Time"),      QStringLiteral("Port"),    QStringLiteral("Address"),
            QStringLiteral("Parameter"), QStringLiteral("Caption"), QStringLiteral("Before"),
            QStringLiteral("Sent"),      QStringLiteral("Outcome"), QStringLiteral("Operator")};
}

QStringList AuditLog::cells(const AuditEntry &e) {
    return {e.time.toString(Qt::ISODateWithMs),
            e.port,
            QString::number(e.address),
            QString::number(e.param),
            e.caption,
            e.before,
            e.sent,
            e.outcome,
            e.operatorName};
}

bool AuditLog::append(const AuditEntry &entry, QString *error) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (folderLocked().isEmpty())
        return true; // no place for a log in this run
    AuditEntry stamped = entry;
    if (stamped.operatorName.isEmpty())
        stamped.operatorName = m_operator;
    m_pending << csvRow(cells(stamped));
    return writePending(error);
}

bool AuditLog::retry(QString *error) {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pending.isEmpty() || writePending(error);
}

bool AuditLog::writePending(QString *error) {
    const QString dir = folderLocked();
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the folder %1").arg(dir);
        return false;
    }
    const QString path = QDir(dir).filePath(QLatin1String(kFileName));
    // A folder or a link in the file's place is nobody's audit log: a link would send the lines
    // to wherever it points, a folder takes none.
    const QFileInfo info(path);
    if (info.isSymLink()) {
        *error = QStringLiteral("%1 is a symbolic link; the audit log is written only to a file "
                                "of its own (remove the link)")
                     .arg(path);
        return false;
    }
    if (info.exists() && !info.isFile()) {
        *error = QStringLiteral("%1 is a folder, not a file (move it away)").arg(path);
        return false;
    }
    QFile file(path);
    const bool fresh = !info.exists() || info.size() == 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        *error = file.errorString();
        return false;
    }
    if (fresh) {
        const QByteArray head = (csvRow(header()) + QLatin1Char('\n')).toUtf8();
        if (file.write(head) != head.size() || !file.flush()) {
            *error = writeErrorReason(file);
            return false;
        }
    }
    // Line by line, so that a full disk keeps every whole line written before it.
    while (!m_pending.isEmpty()) {
        const QByteArray line = (m_pending.first() + QLatin1Char('\n')).toUtf8();
        if (file.write(line) != line.size() || !file.flush()) {
            *error = writeErrorReason(file);
            file.close();
            return false;
        }
        m_pending.removeFirst();
    }
    return true;
}

AuditRecorder::AuditRecorder(AuditLog *log, QObject *parent) : QObject(parent), m_log(log) {
    // The worker never signals the window: it notes the failure, and the window looks.
    m_failureCheck.setInterval(kFailureCheckMs);
    connect(&m_failureCheck, &QTimer::timeout, this, &AuditRecorder::tellFailure);
    m_failureCheck.start();
    setWriteOutcomeSink(this);
}

AuditRecorder::~AuditRecorder() {
    removeWriteOutcomeSink(this);
}

QString AuditRecorder::portName() {
    return linkTargetText(serialSettings());
}

AuditEntry AuditRecorder::entryFor(const WriteOutcome &w, const QString &port) {
    AuditEntry e;
    e.time = QDateTime::currentDateTime();
    e.port = port;
    e.address = w.addr;
    e.param = w.start;
    e.caption = paramCaptionWithUnit(w.start);
    QVector<uint16_t> sent;
    for (size_t i = 0; i + 1 < w.data.size(); i += 2)
        sent << static_cast<uint16_t>((w.data[i] << 8) | w.data[i + 1]);
    const ParamInfo *info = paramInfo(w.start);
    if (info && info->encoding == ParamEncoding::DateTime && sent.size() == 6)
        e.sent = QStringLiteral("%1-%2-%3 %4:%5:%6")
                     .arg(2000 + sent[0])
                     .arg(sent[1], 2, 10, QLatin1Char('0'))
                     .arg(sent[2], 2, 10, QLatin1Char('0'))
                     .arg(sent[3], 2, 10, QLatin1Char('0'))
                     .arg(sent[4], 2, 10, QLatin1Char('0'))
                     .arg(sent[5], 2, 10, QLatin1Char('0'));
    else if (info && info->encoding != ParamEncoding::Command)
        e.sent = paramReadBackText(w.start, sent);
    else
        e.sent = QString::number(sent.value(0));

    e.before = QStringLiteral("unknown");
    const FieldDef *read = paramReadField(w.start);
    if (read && info && info->encoding != ParamEncoding::DateTime) {
        // The controller the write went to: its own mirror holds what it reported before.
        const RegisterMirror &mirror = mirrorOf(w.addr);
        const int64_t landed = mirror.landedAtMs(read->block);
        // Read on this link, and not after the write (the mirror would hold the new value).
        if (landed > 0 && landed >= linkStartedAtMs.load() && landed <= w.atMs) {
            QVector<uint16_t> before;
            for (int i = 0; i < info->regs; ++i)
                before << static_cast<uint16_t>(mirror.cell(read->block, read->index + i));
            e.before = paramReadBackText(w.start, before);
        }
    }
    e.outcome = w.cancelled   ? QStringLiteral("cancelled")
                : w.confirmed ? QStringLiteral("confirmed")
                              : QStringLiteral("failed: %1").arg(QString::fromStdString(w.failure));
    return e;
}

void AuditRecorder::writeNoted(const WriteOutcome &w) {
    write(entryFor(w, w.link.empty() ? portName() : QString::fromStdString(w.link)));
}

void AuditRecorder::noteVerification(int addr, int n, const QString &expected, const QString &read,
                                     bool taken) {
    AuditEntry e;
    e.time = QDateTime::currentDateTime();
    e.port = portName();
    e.address = addr;
    e.param = n;
    e.caption = paramCaptionWithUnit(n);
    e.before = read;
    e.sent = expected;
    e.outcome =
        taken ? QStringLiteral("verified") : QStringLiteral("not taken (read %1)").arg(read);
    write(e);
}

int AuditRecorder::flush(QString *error) {
    m_log->retry(error);
    return m_log->pendingCount();
}

void AuditRecorder::write(const AuditEntry &entry) {
    QString error;
    const bool written = m_log->append(entry, &error);
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        if (written) {
            m_lastFailure.clear();
            return;
        }
        // Told once per kind of failure, not for every line that waits behind it.
        if (error == m_lastFailure)
            return;
        m_lastFailure = error;
        m_failureToTell = error;
        ++m_failures;
    }
    // On the terminal at once (the window may be busy), in the window at its next look.
    std::fprintf(stderr, "vaduz: the audit log %s could not be written: %s\n",
                 qPrintable(m_log->path()), qPrintable(error));
}

void AuditRecorder::tellFailure() {
    QString reason;
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        if (m_failures == m_failuresTold)
            return;
        m_failuresTold = m_failures;
        reason = m_failureToTell;
    }
    if (!reason.isEmpty())
        emit writeFailed(reason);
}

void noteCancelledCommand(uint8_t addr, uint16_t start, const QString &link) {
    WriteOutcome w;
    w.addr = addr;
    w.start = start;
    w.count = 1;
    w.data = {0, 1};
    w.cancelled = true;
    w.link = link.toStdString();
    noteWriteOutcome(std::move(w));
}
