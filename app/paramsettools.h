#pragma once
// The parameter-set tools of the Settings pages: "Read parameters" into a file, "Compare with
// file…" (ParamCompareWindow) and the audit log of every write ("Audit log", AuditLogWindow).

#include "auditlog.h"
#include "auditlogwindow.h"
#include "paramcomparewindow.h"
#include "paramreader.h"

#include <QObject>
#include <QPointer>

class QProgressDialog;
namespace Ui {
class Widget;
}

// Owns the tools for the main window: the buttons on both Settings pages, the audit log and its
// recorder, and the windows (made when first asked for).
class ParamSetTools : public QObject {
    Q_OBJECT
public:
    // auditFolder empty: the program's data folder (see AuditLog).
    // The tools' buttons go on form's Settings pages; window is the parent of their boxes.
    ParamSetTools(QWidget *window, Ui::Widget *form, const QString &auditFolder = QString());
    ~ParamSetTools() override;

    AuditLog *auditLog() { return &m_log; }
    AuditRecorder *auditRecorder() { return &m_recorder; }
    // Reads the controller's set into path; the outcome goes to readFinished (and a box when
    // it failed, unless quiet).
    bool readParameters(const QString &path);
    ParamCompareWindow *compareWithFile(const QString &path);
    AuditLogWindow *showAuditLog();
    ParamCompareWindow *compareWindow() const { return m_compare; }
    ParamReader *reader() { return &m_reader; }
    void setQuiet(bool quiet) { m_quiet = quiet; }
    // Writes what the audit log still keeps; what it cannot take is told on stderr with its
    // count (every way out of the program passes here).
    void flushAudit();

signals:
    void readFinished(bool ok, const QString &error);

private:
    void tips(const QString &text);
    void askRead();
    void askCompare();
    void openAuditLog();

    QWidget *m_window;
    Ui::Widget *m_form;
    AuditLog m_log;
    AuditRecorder m_recorder;
    ParamReader m_reader;
    QString m_readPath;
    QPointer<QProgressDialog> m_progress;
    QPointer<ParamCompareWindow> m_compare;
    QPointer<AuditLogWindow> m_auditWindow;
    bool m_quiet = false;
    int m_keptTold = 0;
};
