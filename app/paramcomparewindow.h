#pragma once
// "Compare with file…": a window listing every parameter of a set file beside the controller's
// value, read fresh, with Write differences (restore) to one address or to every address.

#include "auditlog.h"
#include "paramreader.h"
#include "paramrestore.h"
#include "paramset.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
namespace Ui {
class Widget;
}

// A window listing every parameter of a set file beside the controller's value, read fresh.
class ParamCompareWindow : public QWidget {
    Q_OBJECT
public:
    ParamCompareWindow(Ui::Widget *form, const ParamSet &file, const QString &filePath,
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
    // The one question asked before Write differences: how many parameters go to which
    // controller(s) over which link, and the file's thresholds that stand in the wrong order.
    QString writeQuestion(bool allAddresses) const;
    // "Write Host ID": the file's Host ID is written too (one address only).
    QCheckBox *hostIdBox() const { return m_hostId; }

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
    // The addresses Write differences goes to; empty with the reason when not known.
    QVector<int> writeAddresses(bool allAddresses, QString *error) const;

    Ui::Widget *m_form;
    ParamSet m_file;
    AuditRecorder *m_audit;
    ParamReader m_reader;
    std::unique_ptr<ParamRestore> m_restore;
    QVector<ParamDifference> m_rows;
    QTableWidget *m_table = nullptr;
    QTableWidget *m_grid = nullptr;
    QCheckBox *m_onlyDifferences = nullptr;
    QCheckBox *m_hostId = nullptr;
    QLabel *m_status = nullptr;
    QList<QPushButton *> m_actions;
    QPushButton *m_stop = nullptr;
};
