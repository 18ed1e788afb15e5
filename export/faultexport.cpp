#include "faultexport.h"

#include "faultrecord.h"
#include "registermirror.h"
#include "sheetwriter.h"
#include "storedsettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

Q_LOGGING_CATEGORY(lcExport, "vaduz.export")

namespace {

// Operator-visible texts belong to the main window's translation context.
QString trWidget(const char *text) {
    return QCoreApplication::translate("Widget", text);
}

const QString kSuffix = QStringLiteral(".xlsx");

// A modal "tips" box with the single button "ok".
void tipsBox(QWidget *parent, QMessageBox::Icon icon, const QString &text) {
    QMessageBox box(icon, trWidget("tips"), text, QMessageBox::NoButton, parent);
    box.addButton(trWidget("ok"), QMessageBox::AcceptRole);
    box.exec();
}

// The save dialog; an empty name when the operator cancels. The dialog itself adds the missing
// suffix, so its overwrite confirmation is about the file that will really be written.
// Kept out of line: the dialog's file-system model fills itself from a thread of Qt's own, and
// this frame is what the ThreadSanitizer suppressions name for Qt's uninstrumented internals.
Q_NEVER_INLINE QString runSaveDialog(QWidget *parent) {
    // The folder of the last export, kept between runs.
    QFileDialog dialog(parent, trWidget("Save"), exportFolderToOffer(), QStringLiteral("*.xlsx"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    dialog.selectFile(proposedFaultLogName(deviceAddr.load(std::memory_order_relaxed),
                                           QDateTime::currentDateTime()));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return QString();
    storeExportFolder(QFileInfo(files.first()).absolutePath());
    return files.first();
}

// The path to write, or an empty name when the operator cancelled.
QString askSavePath(QWidget *parent) {
    const QString chosen = runSaveDialog(parent);
    if (chosen.isEmpty())
        return QString();
    const QString path = withXlsxSuffix(chosen);
    // A name with another suffix ("log.2025") gets ".xlsx" only here, after the dialog's own
    // confirmation: ask before replacing a file the operator was not asked about.
    if (path != chosen && QFileInfo::exists(path)) {
        const auto answer =
            QMessageBox::question(parent, trWidget("tips"),
                                  trWidget("%1 already exists.\nDo you want to replace it?")
                                      .arg(QDir::toNativeSeparators(path)),
                                  QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return QString();
    }
    return path;
}

} // namespace

QString proposedFaultLogName(int address, const QDateTime &when) {
    return QStringLiteral("FaultLog_addr%1_%2.xlsx")
        .arg(address)
        .arg(when.toString(QStringLiteral("yyyyMMdd-HHmmss")));
}

QString withXlsxSuffix(const QString &path) {
    if (path.isEmpty() || path.endsWith(kSuffix, Qt::CaseInsensitive))
        return path;
    return path + kSuffix;
}

bool writeFaultSheet(SheetWriter &writer) {
    for (int k = 0;
         k < std::min<int>(faultCount.load(std::memory_order_acquire), kFaultRecordSlots); ++k) {
        const int row = k + 2;
        const FaultRow texts = faultRecordRow(faultRecordFromMirror(k));
        for (int column = 1; column <= kFaultColumns; ++column) {
            if (!faultColumnUsed(column))
                continue;
            if (k == 0 && !writer.writeText(1, column, faultColumnHeader(column)))
                return false;
            if (!writer.writeText(row, column, texts[column - 1]))
                return false;
        }
    }
    return true;
}

bool writeFaultWorkbook(const QString &path, QString *error) {
    XlsxSheetWriter writer(path);
    const bool ok = writer.isOpen() && writeFaultSheet(writer) && writer.finish();
    if (!ok && error)
        *error = writer.errorString();
    return ok;
}

void exportFaultLog(QWidget *parent) {
    const QString path = askSavePath(parent);
    if (path.isEmpty())
        return;

    tipsBox(parent, QMessageBox::Information, trWidget("Exporting...,please wait"));

    QString reason;
    if (writeFaultWorkbook(path, &reason)) {
        qCInfo(lcExport) << "Fault log exported to" << path;
        tipsBox(parent, QMessageBox::Information, trWidget("Export finish"));
    } else {
        qCWarning(lcExport) << "Fault log export to" << path << "failed:" << reason;
        tipsBox(parent, QMessageBox::Warning,
                trWidget("Export failed, %1 was not written:\n%2")
                    .arg(QDir::toNativeSeparators(path), reason));
    }
}
