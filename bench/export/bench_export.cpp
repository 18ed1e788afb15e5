// Time to export 63 fault records to an .xlsx workbook, beside openpyxl writing the same cells.
// Prints figures only; never fails on time.

#include "faultexport.h"
#include "faultrecord.h"
#include "registermirror.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRecords = 63;
constexpr int kRuns = 30;

void fillRecords() {
    for (int k = 0; k <= kRecords; ++k) {
        for (int w = 0; w < kFaultRecordWords; ++w)
            setMirrorCell((kFaultFirstBlock + k) * kBlockSize + w,
                          static_cast<int16_t>(k * 977 + w * 131 - 9000));
    }
    faultCount.store(kRecords);
}

void printFigures(const char *what, std::vector<double> ms) {
    if (ms.empty()) {
        std::printf("%-34s no figures\n", what);
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s runs %2zu  min %8.2f ms  median %8.2f ms  max %8.2f ms\n", what, ms.size(),
                ms.front(), ms[ms.size() / 2], ms.back());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::printf("no temporary folder\n");
        return 0;
    }
    fillRecords();
    const QString path = dir.filePath(QStringLiteral("faults.xlsx"));

    std::vector<double> mapping;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        int chars = 0;
        for (int k = 0; k < kRecords; ++k) {
            for (const QString &text : faultRecordRow(faultRecordFromMirror(k)))
                chars += text.size();
        }
        mapping.push_back(t.nsecsElapsed() / 1e6);
        if (chars == 0)
            std::printf("(empty rows)\n");
    }

    std::vector<double> ours;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        QString error;
        if (!writeFaultWorkbook(path, &error)) {
            std::printf("export failed: %s\n", qPrintable(error));
            break;
        }
        ours.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("Fault log export, %d records (%d cells), file %lld bytes\n", kRecords,
                kRecords * 30 + 30, static_cast<long long>(QFileInfo(path).size()));
    printFigures("record-to-row mapping only", mapping);
    printFigures("writeFaultWorkbook (libxlsxwriter)", ours);

    // The same cells, written by openpyxl.
    QJsonArray cells;
    for (int k = 0; k < kRecords; ++k) {
        const FaultRow row = faultRecordRow(faultRecordFromMirror(k));
        for (int column = 1; column <= kFaultColumns; ++column) {
            if (!faultColumnUsed(column))
                continue;
            if (k == 0)
                cells.append(QJsonArray{1, column, faultColumnHeader(column)});
            cells.append(QJsonArray{k + 2, column, row[column - 1]});
        }
    }
    const QString cellFile = dir.filePath(QStringLiteral("cells.json"));
    QFile f(cellFile);
    if (!f.open(QIODevice::WriteOnly) || f.write(QJsonDocument(cells).toJson()) < 0) {
        std::printf("cannot write %s\n", qPrintable(cellFile));
        return 0;
    }
    f.close();

    QProcess python;
    QElapsedTimer whole;
    whole.start();
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(VADUZ_OPENPYXL_WRITER), cellFile,
                  dir.filePath(QStringLiteral("openpyxl.xlsx")), QString::number(kRuns)});
    if (!python.waitForFinished(300000) || python.exitCode() != 0) {
        std::printf("openpyxl run failed: %s\n", python.readAllStandardError().constData());
        if (python.state() != QProcess::NotRunning) {
            python.kill();
            python.waitForFinished();
        }
        return 0;
    }
    const double wholeMs = whole.nsecsElapsed() / 1e6;
    std::vector<double> theirs;
    for (const QByteArray &line : python.readAllStandardOutput().split('\n')) {
        bool ok = false;
        const double v = line.trimmed().toDouble(&ok);
        if (ok)
            theirs.push_back(v);
    }
    printFigures("openpyxl, same cells (in-process)", theirs);
    std::printf(
        "%-34s %8.2f ms for %d runs, interpreter start included; file %lld bytes\n",
        "openpyxl process", wholeMs, kRuns,
        static_cast<long long>(QFileInfo(dir.filePath(QStringLiteral("openpyxl.xlsx"))).size()));
    return 0;
}
