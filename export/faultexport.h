#pragma once
// Fault log export: the records of the last fault-record walk, as the register mirror holds
// them, into an .xlsx workbook chosen by the operator.

#include <QDateTime>
#include <QString>

class QWidget;
class SheetWriter;

// The "Export" button's operation: asks for the file, shows the "tips" boxes and writes the
// workbook. Runs to completion on the GUI thread. Cancelling the save dialog ends it silently;
// a workbook that cannot be written is reported with its reason, and an existing file at the
// chosen path is then left as it was.
void exportFaultLog(QWidget *parent);

// Writes the header row and records 0 .. faultCount - 1 (row k + 2) from the register mirror;
// faultCount is read again before each record. Nothing at all for faultCount 0. Stops at the
// first cell that cannot be written and returns false.
bool writeFaultSheet(SheetWriter &writer);

// writeFaultSheet into a new workbook at path. False with the reason in *error (if given).
bool writeFaultWorkbook(const QString &path, QString *error);

// The save path with ".xlsx" appended when it does not already end in it (any letter case).
QString withXlsxSuffix(const QString &path);

// The name the save dialog proposes: the controller's address and the time of the export,
// "FaultLog_addr1_20250407-090503.xlsx".
QString proposedFaultLogName(int address, const QDateTime &when);
