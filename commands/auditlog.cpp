#include "auditlog.h"

#include "writeerror.h"

#include "csvcell.h"
#include "fieldmap.h"
#include "paramset.h"
#include "paramtable.h"
#include "registermirror.h"
#include "serialsettings.h"
#include "storedsettings.h"
#include "writejournal.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

QString AuditLog::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

AuditLog::AuditLog(const QString &folder) : m_folder(folder) {}

QString AuditLog::folder() const {
    if (!m_folder.isEmpty())
        return m_folder;
    return storedSettingsEnabled() ? defaultFolder() : QString();
}

QString AuditLog::path() const {
    const QString dir = folder();
    return dir.isEmpty() ? QString() : QDir(dir).filePath(QLatin1String(kFileName));
}

QStringList AuditLog::header() {
    return {QStringLiteral("Time"),      QStringLiteral("Port"),    QStringLiteral("Address"),
            QStringLiteral("Parameter"), QStringLiteral("Caption"), QStringLiteral("Before"),
            QStringLiteral("Sent"),      QStringLiteral("Outcome")};
}

QStringList AuditLog::cells(const AuditEntry &e) {
    return {e.time.toString(Qt::ISODateWithMs),
            e.port,
            QString::number(e.address),
            QString::number(e.param),
            e.caption,
            e.before,
            e.sent,
            e.outcome};
}

bool AuditLog::append(const AuditEntry &entry, QString *error) {
    const QString dir = folder();
    if (dir.isEmpty())
        return true; // no place for a log in this run
    m_pending << csvRow(cells(entry));
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the folder %1").arg(dir);
        return false;
    }
    QFile file(path());
    const bool fresh = !file.exists() || file.size() == 0;
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

AuditRecorder::AuditRecorder(AuditLog *log, QObject *parent)
    : QObject(parent), m_log(log), m_seq(lastWriteOutcomeSeq()) {
    m_timer.setInterval(50);
    connect(&m_timer, &QTimer::timeout, this, &AuditRecorder::poll);
    m_timer.start();
}

QString AuditRecorder::portName() {
    const QString entry = serialSettings().comName;
    const int colon = entry.indexOf(QLatin1Char(':'));
    return colon < 0 ? entry : entry.left(colon);
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
    e.outcome = w.confirmed ? QStringLiteral("confirmed")
                            : QStringLiteral("failed: %1").arg(QString::fromStdString(w.failure));
    return e;
}

void AuditRecorder::poll() {
    const QString port = portName();
    for (const WriteOutcome &w : writeOutcomesSince(&m_seq))
        write(entryFor(w, port));
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

void AuditRecorder::write(const AuditEntry &entry) {
    QString error;
    if (m_log->append(entry, &error)) {
        m_lastFailure.clear();
        return;
    }
    // Told once per kind of failure, not for every line that waits behind it.
    if (error != m_lastFailure) {
        m_lastFailure = error;
        emit writeFailed(error);
    }
}
