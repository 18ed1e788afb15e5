#include "paramrestore.h"

#include "auditlog.h"
#include "paramtable.h"
#include "registermirror.h"
#include "serialsettings.h"
#include "writejournal.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>

int RestoreResult::notTaken() const {
    int n = 0;
    for (const ParamCheck &c : checks)
        n += c.taken ? 0 : 1;
    return n;
}

ParamRestore::ParamRestore(const ParamSet &file, const QVector<int> &addresses,
                           const QString &backupFolder, const QString &program,
                           AuditRecorder *audit, QObject *parent)
    : QObject(parent), m_file(file), m_addresses(addresses), m_backupFolder(backupFolder),
      m_program(program), m_audit(audit) {
    connect(&m_reader, &ParamReader::finished, this, &ParamRestore::readDone);
    m_writeTimer.setInterval(20);
    connect(&m_writeTimer, &QTimer::timeout, this, &ParamRestore::pollWrites);
}

QString ParamRestore::backupFileName(int address, const QDateTime &when) {
    return QStringLiteral("backup-addr%1-%2.json")
        .arg(address)
        .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")));
}

bool ParamRestore::start(QString *error) {
    if (isRunning() || m_addresses.isEmpty())
        return false;
    for (const ParamValue &p : m_file.params) {
        WriteListEntry e;
        if (paramIsRestored(p.number, m_hostId) && !paramEntryFromRaw(p.number, p.raw, &e)) {
            *error = paramInputTip(p.number) +
                     tr(" The file holds %1.").arg(paramFieldText(p.number, p.raw));
            return false;
        }
    }
    if (m_hostId && m_addresses.size() > 1) {
        *error = tr("The Host ID is written to one controller at a time: every address would "
                    "get the same one. Nothing was sent.");
        return false;
    }
    if (m_backupFolder.isEmpty()) {
        *error = tr("There is no folder for the backup. Nothing was sent.");
        return false;
    }
    if (!portEnabled.load() || !linkRunning.load()) {
        *error = tr("Not connected: press Connect first. Nothing was sent.");
        return false;
    }
    m_results.clear();
    m_index = 0;
    beginAddress();
    return true;
}

void ParamRestore::stop() {
    if (!isRunning())
        return;
    m_addresses.resize(m_index + 1); // no address after this one
    m_reader.stop();                 // ends the address through readDone
    if (m_state == State::Writing)
        finishAddress(tr("Stopped"));
}

void ParamRestore::beginAddress() {
    m_current = RestoreResult();
    m_current.address = m_addresses.at(m_index);
    m_state = State::ReadBefore;
    emit progress(tr("Address %1: reading the parameters for the backup").arg(m_current.address));
    if (!m_reader.start(m_current.address))
        finishAddress(tr("Not connected"));
}

void ParamRestore::readDone(bool ok, const QString &error) {
    if (m_state == State::Idle)
        return;
    if (!ok) {
        finishAddress(error);
        return;
    }
    m_current.answered = true;
    const ParamSet now =
        paramSetFromMirror(m_program, AuditRecorder::portName(),
                           m_state == State::ReadAfter ? m_readBackAddress : m_current.address);
    if (m_state == State::ReadBefore) {
        // Nothing is written before the controller's own set is safe on disk.
        QString saveError;
        QDir().mkpath(m_backupFolder);
        const QString path =
            QDir(m_backupFolder)
                .filePath(backupFileName(m_current.address, QDateTime::currentDateTime()));
        if (!saveParamSet(path, now, &saveError)) {
            finishAddress(tr("The backup %1 could not be written (%2); nothing was sent.")
                              .arg(path, saveError));
            return;
        }
        m_current.backupPath = path;
        m_written.clear();
        m_entries.clear();
        m_nextEntry = 0;
        m_readBackAddress = m_current.address;
        QVector<ParamDifference> differences = compareParamSets(m_file, now);
        // A new Host ID moves the controller to another address: written last, so that every
        // other write reaches it where it is, and read back where it goes.
        std::stable_partition(differences.begin(), differences.end(),
                              [](const ParamDifference &d) { return d.number != kHostIdParam; });
        for (const ParamDifference &d : differences) {
            WriteListEntry e;
            if (!d.differs || !paramIsRestored(d.number, m_hostId) ||
                !paramEntryFromRaw(d.number, d.fileRaw, &e))
                continue;
            m_entries << e;
            m_written << d.number;
            if (d.number == kHostIdParam && !d.fileRaw.isEmpty())
                m_readBackAddress = d.fileRaw.first();
        }
        m_current.written = m_entries.size();
        if (m_entries.isEmpty()) {
            finishAddress(QString());
            return;
        }
        m_state = State::Writing;
        emit progress(
            tr("Address %1: writing %2 parameters").arg(m_current.address).arg(m_entries.size()));
        queueNextWrites();
        m_writeTimer.start();
        return;
    }
    // Read after the writes: every written parameter is checked.
    for (int number : m_written) {
        const ParamValue *want = m_file.find(number);
        const ParamValue *got = now.find(number);
        ParamCheck c;
        c.number = number;
        c.expected = paramReadBackText(number, want->raw);
        c.read = got ? got->text : QString();
        c.taken = got && got->raw == want->raw;
        if (m_audit)
            m_audit->noteVerification(m_current.address, number, c.expected, c.read, c.taken);
        m_current.checks << c;
    }
    finishAddress(QString());
}

void ParamRestore::queueNextWrites() {
    // A whole set can differ in more parameters than one list holds: the rest follow in further
    // lists, none left out.
    const int n = std::min<int>(kWriteListEntries, m_entries.size() - m_nextEntry);
    m_writeStartMs = mirrorClockMs();
    queueWriteList(m_entries.constData() + m_nextEntry, n, 2, m_current.address);
    m_nextEntry += n;
}

void ParamRestore::pollWrites() {
    if (linkOp.load(std::memory_order_acquire) != 0 ||
        writeListCount.load(std::memory_order_acquire) != 0) {
        if (mirrorClockMs() - m_writeStartMs > kWriteTimeoutMs || !portEnabled.load())
            finishAddress(tr("The writes did not finish"));
        return;
    }
    if (m_nextEntry < m_entries.size()) {
        queueNextWrites();
        return;
    }
    m_writeTimer.stop();
    m_state = State::ReadAfter;
    emit progress(tr("Address %1: reading back").arg(m_readBackAddress));
    if (!m_reader.start(m_readBackAddress))
        finishAddress(tr("Not connected"));
}

void ParamRestore::finishAddress(const QString &error) {
    m_writeTimer.stop();
    m_current.error = error;
    m_results << m_current;
    emit addressDone(m_current);
    if (++m_index < m_addresses.size() && portEnabled.load()) {
        beginAddress();
        return;
    }
    m_state = State::Idle;
    emit finished();
}
