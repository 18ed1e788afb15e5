#pragma once
// The parameter-set tools of the Settings pages: "Read parameters" into a file, "Compare with
// file…" (a window listing the file beside the controller, with restore), and the audit log of
// every write ("Audit log").

#include "auditlog.h"
#include "paramreader.h"
#include "paramrestore.h"
#include "paramset.h"

#include <QPointer>
#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QProgressDialog;
class QPushButton;
class QTableWidget;
class Widget;

// A window listing every parameter of a set file beside the controller's value, read fresh.
class ParamCompareWindow : public QWidget {
    Q_OBJECT
public:
    ParamCompareWindow(Widget *window, const ParamSet &file, const QString &filePath,
                       AuditRecorder *audit);
    ~ParamCompareWindow() override;

    // Reads the controller's set again and fills the controller column.
    void refresh();
    bool isBusy() const;
    const QVector<ParamDifference> &rows() const { return m_rows; }
    int differenceCount() const;
    QTableWidget *table() const { return m_table; }
    QTableWidget *resultGrid() const { return m_grid; }
    QLabel *statusLabel() const { return m_status; }
    const QVector<RestoreResult> &results() const;

    // The comparison as CSV; false with the operating system's reason.
    bool exportCsv(const QString &path, QString *error) const;
    // Fills the edit fields with the file's values (they are marked as edited).
    int loadIntoFields();
    // Writes the differing parameters to the current address, or to addresses 1..N (N the
    // device count the controller reports) in turn; false with the reason when nothing starts.
    bool writeDifferences(bool allAddresses, QString *error);

signals:
    void compared();
    void restoreFinished();

private:
    void fillTable();
    void applyFilter();
    void addResult(const RestoreResult &r);
    void setBusy(bool busy);
    void askExport();
    void askWrite(bool allAddresses);

    Widget *m_window;
    ParamSet m_file;
    AuditRecorder *m_audit;
    ParamReader m_reader;
    std::unique_ptr<ParamRestore> m_restore;
    QVector<ParamDifference> m_rows;
    QTableWidget *m_table = nullptr;
    QTableWidget *m_grid = nullptr;
    QCheckBox *m_onlyDifferences = nullptr;
    QLabel *m_status = nullptr;
    QList<QPushButton *> m_actions;
    QPushButton *m_stop = nullptr;
};

// The audit log's lines in a table, newest last, with the file's place.
class AuditLogWindow : public QWidget {
    Q_OBJECT
public:
    explicit AuditLogWindow(AuditLog *log);
    void reload();
    QTableWidget *table() const { return m_table; }

private:
    AuditLog *m_log;
    QTableWidget *m_table = nullptr;
    QLabel *m_path = nullptr;
};

// Owns the tools for the main window: the buttons on both Settings pages, the audit log and its
// recorder, and the windows (made when first asked for).
class ParamSetTools : public QObject {
    Q_OBJECT
public:
    // auditFolder empty: the program's data folder (see AuditLog).
    explicit ParamSetTools(Widget *window, const QString &auditFolder = QString());
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

signals:
    void readFinished(bool ok, const QString &error);

private:
    void tips(const QString &text);
    void askRead();
    void askCompare();
    void openAuditLog();

    Widget *m_window;
    AuditLog m_log;
    AuditRecorder m_recorder;
    ParamReader m_reader;
    QString m_readPath;
    QPointer<QProgressDialog> m_progress;
    QPointer<ParamCompareWindow> m_compare;
    QPointer<AuditLogWindow> m_auditWindow;
    bool m_quiet = false;
};
