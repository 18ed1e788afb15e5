#pragma once
// The small writer the fault log export talks to: text into numbered cells of one sheet, then
// a file that is either complete at its path or not there at all.

#include <QString>

struct lxw_workbook;
struct lxw_worksheet;

class SheetWriter {
public:
    virtual ~SheetWriter() = default;
    // Puts text into the cell at row, column (both counted from 1). False on failure, with
    // the reason in errorString(); the writer is then unusable.
    virtual bool writeText(int row, int column, const QString &text) = 0;
    // Completes the file. False on failure, with the reason in errorString().
    virtual bool finish() = 0;
    virtual QString errorString() const = 0;
};

// One-sheet .xlsx workbook ("Sheet1"). The workbook is written to a temporary file in the
// target's directory and renamed onto the target only when it is complete, so a failed export
// leaves whatever file was at the path untouched. Dropping the writer without finish() removes
// the temporary file.
class XlsxSheetWriter final : public SheetWriter {
public:
    explicit XlsxSheetWriter(const QString &path);
    ~XlsxSheetWriter() override;
    XlsxSheetWriter(const XlsxSheetWriter &) = delete;
    XlsxSheetWriter &operator=(const XlsxSheetWriter &) = delete;

    // False when the workbook could not even be started (see errorString()).
    bool isOpen() const { return m_sheet != nullptr; }
    bool writeText(int row, int column, const QString &text) override;
    bool finish() override;
    QString errorString() const override { return m_error; }

private:
    void fail(const QString &reason);
    void discard();

    QString m_path;
    QString m_tempPath;
    lxw_workbook *m_book = nullptr;
    lxw_worksheet *m_sheet = nullptr;
    QString m_error;
};
