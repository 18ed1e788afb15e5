#include "paramsettools.h"

#include "ui_widget.h"

#include "storedsettings.h"
#include "windowtable.h"

#include <QFileDialog>
#include <QProgressDialog>
#include <QToolButton>

#include <cstdio>

ParamSetTools::ParamSetTools(QWidget *window, Ui::Widget *form, const QString &auditFolder)
    : QObject(window), m_window(window), m_form(form), m_log(auditFolder), m_recorder(&m_log) {
    // The operator's name as set once in the Audit log window (the form is completed after the
    // remembered settings are on).
    m_log.setOperator(storedOperatorName());
    connect(&m_recorder, &AuditRecorder::writeFailed, this, [this](const QString &reason) {
        tips(tr("The audit log %1 could not be written: %2. The lines are kept and written as "
                "soon as the file takes them again.")
                 .arg(m_log.path(), reason));
    });

    connect(&m_reader, &ParamReader::progress, this, [this](int done, int total) {
        if (m_progress) {
            m_progress->setMaximum(total);
            m_progress->setValue(done);
        }
    });
    connect(&m_reader, &ParamReader::finished, this, [this](bool ok, QString error) {
        if (m_progress)
            m_progress->deleteLater();
        if (ok) {
            const ParamSet set =
                paramSetFromMirror(QStringLiteral(VADUZ_VERSION), AuditRecorder::portName(), m_reader.address());
            ok = saveParamSet(m_readPath, set, &error);
            if (!ok)
                error = tr("%1 could not be written: %2").arg(m_readPath, error);
        }
        if (!ok)
            tips(tr("The parameters were not read: %1").arg(error));
        emit readFinished(ok, error);
    });

    // The three tools on both Settings pages: on the first in a row in the free space below
    // Cell Diff Delay, on the second in a column above the page-turn arrow.
    Ui::Widget *ui = m_form;
    struct Tool {
        const char *name;
        QString text;
        QString tip;
        void (ParamSetTools::*action)();
    };
    const Tool tools[] = {
        {"readParams_btn", tr("Read parameters"),
         tr("Read every parameter of this controller into a file"), &ParamSetTools::askRead},
        {"compareParams_btn", tr("Compare with file…"),
         tr("Compare a parameter file with this controller, and restore it"),
         &ParamSetTools::askCompare},
        {"auditLog_btn", tr("Audit log"), tr("Every write to a controller"),
         &ParamSetTools::openAuditLog},
    };
    for (QWidget *page : {ui->set_page, ui->set_page_2}) {
        for (int i = 0; i < 3; ++i) {
            const Tool &t = tools[i];
            auto *b = new QToolButton(page);
            b->setObjectName(QLatin1String(t.name));
            b->setText(t.text);
            b->setToolTip(t.tip);
            b->setGeometry(page == ui->set_page ? QRect(950 + 138 * i, 186, 130, 28)
                                                : QRect(1244, 660 + 34 * i, 150, 28));
            b->setCursor(Qt::PointingHandCursor);
            b->setFocusPolicy(Qt::NoFocus);
            connect(b, &QToolButton::clicked, this, t.action);
            b->raise();
        }
    }
}

ParamSetTools::~ParamSetTools() {
    delete m_compare;
    delete m_auditWindow;
    flushAudit();
}

void ParamSetTools::flushAudit() {
    QString error;
    const int kept = m_recorder.flush(&error);
    if (kept == 0 || kept == m_keptTold)
        return;
    // The program is ending: what the log could not take is said once more, with its count.
    m_keptTold = kept;
    std::fprintf(stderr, "vaduz: %d audit log line(s) were not written to %s: %s\n", kept,
                 qPrintable(m_log.path()), qPrintable(error));
}

void ParamSetTools::tips(const QString &text) {
    if (!m_quiet)
        showTips(m_window, text);
}

bool ParamSetTools::readParameters(const QString &path) {
    if (m_reader.isRunning())
        return false;
    if (!linkIsRunning()) {
        tips(tr("Not connected: press Connect first. Nothing was read."));
        return false;
    }
    m_readPath = path;
    if (!m_reader.start())
        return false;
    if (!m_quiet) {
        m_progress = new QProgressDialog(tr("Reading the parameters…"), tr("Stop"), 0,
                                         m_reader.blockCount(), m_window);
        m_progress->setWindowTitle(tr("Read parameters"));
        m_progress->setMinimumDuration(0);
        connect(m_progress, &QProgressDialog::canceled, &m_reader, &ParamReader::stop);
        m_progress->show();
    }
    return true;
}

void ParamSetTools::askRead() {
    if (!linkIsRunning()) {
        tips(tr("Not connected: press Connect first. Nothing was read."));
        return;
    }
    const QString path = QFileDialog::getSaveFileName(
        m_window, tr("Read parameters into"),
        QStringLiteral("parameters-addr%1.json").arg(deviceAddr.load()),
        tr("Parameter sets (*.json)"));
    if (!path.isEmpty())
        readParameters(path);
}

ParamCompareWindow *ParamSetTools::compareWithFile(const QString &path) {
    ParamSet file;
    QString error;
    if (!loadParamSet(path, &file, &error)) {
        tips(tr("%1 could not be read: %2").arg(path, error));
        return nullptr;
    }
    delete m_compare;
    m_compare = new ParamCompareWindow(m_form, file, path, &m_recorder);
    m_compare->show();
    m_compare->refresh();
    return m_compare;
}

void ParamSetTools::askCompare() {
    const QString path = QFileDialog::getOpenFileName(m_window, tr("Compare with file"), QString(),
                                                      tr("Parameter sets (*.json)"));
    if (!path.isEmpty())
        compareWithFile(path);
}

void ParamSetTools::openAuditLog() {
    showAuditLog();
}

AuditLogWindow *ParamSetTools::showAuditLog() {
    if (!m_auditWindow)
        m_auditWindow = new AuditLogWindow(&m_log);
    m_auditWindow->reload();
    m_auditWindow->show();
    m_auditWindow->raise();
    return m_auditWindow;
}
