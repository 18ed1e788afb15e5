// Cost of recording a page pass to CSV (Home and Pack) beside the page pass itself, and the
// trend window's replot and repaint with 24 hours of samples. Prints figures, never fails.
//
//   QT_QPA_PLATFORM=offscreen build/bench/pages/bench_recording [passes]

#include "pagerecorder.h"
#include "pagerefresh.h"
#include "trendmodel.h"
#include "trendwindow.h"
#include "ui_widget.h"

#include "registermirror.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

// New values landed in every block a page reads, as a link read would leave them.
void landAll(uint32_t seed) {
    uint8_t data[2 * kBlockSize];
    for (int block = 0; block < 22; ++block) {
        for (uint8_t &b : data) {
            seed = seed * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(seed >> 24);
        }
        landRegisters(block, data, kBlockSize);
    }
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int passes = argc > 1 ? qMax(1, atoi(argv[1])) : 40;
    linkRunning = 1;

    QWidget window;
    Ui::Widget ui;
    ui.setupUi(&window);
    window.show();
    PageRefresh pages(&window);
    QTemporaryDir dir;
    PageRecorder recorder;
    QString error;
    recorder.start(dir.path(), &error);

    QTextStream out(stdout);
    out << "ms per pass (" << passes << " passes, every value new)\n";
    out << QString("%1 %2 %3 %4\n")
               .arg("page", -8)
               .arg("pass", 10)
               .arg("record", 10)
               .arg("rows", 6);
    for (const int tab : {0, 4}) {
        ui.tabWidget->setCurrentIndex(tab);
        qint64 passNs = 0, recordNs = 0;
        QElapsedTimer t;
        for (int i = 0; i < passes; ++i) {
            landAll(static_cast<uint32_t>(i + 1));
            t.start();
            pages.pagePass();
            passNs += t.nsecsElapsed();
            t.start();
            recorder.recordPass(pages.shownValues(), tab, QDateTime::currentDateTime(), &error);
            recordNs += t.nsecsElapsed();
        }
        out << QString("%1 %2 %3 %4\n")
                   .arg(tab == 0 ? "Home" : "Pack", -8)
                   .arg(passNs / 1e6 / passes, 10, 'f', 3)
                   .arg(recordNs / 1e6 / passes, 10, 'f', 3)
                   .arg(recorder.rowsWritten(tab), 6);
        out.flush();
    }

    // 24 hours of the default trend series, one sample a second.
    TrendModel model;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - TrendModel::kSpanMs;
    std::map<QString, double> numbers;
    QElapsedTimer fill;
    fill.start();
    for (int s = 0; s <= 24 * 3600; ++s) {
        for (const QString &f : TrendModel::defaultFields())
            numbers[f] = 1000 + (s * 7 + f.size()) % 500;
        model.addSample(t0 + s * 1000LL, numbers);
    }
    out << QString("trend model: %1 samples of %2 series, filled in %3 ms\n")
               .arg(model.size())
               .arg(model.tracked().size())
               .arg(fill.elapsed());
    TrendWindow trends(&model);
    trends.show();
    QApplication::processEvents();
    QElapsedTimer t;
    constexpr int kRepaints = 5;
    qint64 replotNs = 0, paintNs = 0;
    for (int i = 0; i < kRepaints; ++i) {
        t.start();
        trends.replot();
        replotNs += t.nsecsElapsed();
        t.start();
        trends.repaint();
        QApplication::processEvents();
        paintNs += t.nsecsElapsed();
    }
    out << QString("trend window, 24 h: replot %1 ms, repaint %2 ms\n")
               .arg(replotNs / 1e6 / kRepaints, 0, 'f', 1)
               .arg(paintNs / 1e6 / kRepaints, 0, 'f', 1);
    return 0;
}
