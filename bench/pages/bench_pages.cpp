// Time of one page pass for each page of the main form, offscreen. Prints figures, never fails.
//
//   QT_QPA_PLATFORM=offscreen build/bench/pages/bench_pages [passes]
//
// "changing" passes alternate between two mirror contents, so every field and cell gets a new
// text on every pass (the worst case); "steady" passes repaint from an unchanged mirror (the
// common case: most values move slowly). "+paint" also lets the shown window repaint after the
// pass. The Data and Pack tables are timed with both ways of writing their cells.

#include "pagerefresh.h"
#include "ui_widget.h"

#include "registermirror.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTextStream>

#include <cstdio>

namespace {

void fillMirror(uint32_t seed) {
    for (int i = 0; i < kMirrorCells; ++i) {
        seed = seed * 1664525u + 1013904223u;
        setMirrorCell(i, static_cast<int16_t>(seed >> 16));
    }
}

struct Figures {
    double changing = 0, steady = 0, changingPaint = 0;
};

double timePasses(QWidget &window, PageRefresh &pages, int passes, bool changing, bool paint) {
    fillMirror(1);
    pages.pagePass();
    if (paint)
        QApplication::processEvents();
    QElapsedTimer timer;
    qint64 total = 0;
    for (int i = 0; i < passes; ++i) {
        if (changing)
            fillMirror(i % 2 ? 1 : 2);
        timer.start();
        pages.pagePass();
        if (paint) {
            window.repaint();
            QApplication::processEvents();
        }
        total += timer.nsecsElapsed();
    }
    return total / 1e6 / passes;
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int passes = argc > 1 ? qMax(1, atoi(argv[1])) : 40;

    QWidget window;
    Ui::Widget ui;
    ui.setupUi(&window);
    window.show();
    PageRefresh pages(&window);

    QTextStream out(stdout);
    out << "page pass, ms per pass (" << passes << " passes each)\n";
    out << QString("%1 %2 %3 %4\n")
               .arg("page", -28)
               .arg("changing", 10)
               .arg("steady", 10)
               .arg("changing+paint", 16);

    struct Case {
        const char *name;
        int tab;
        PageRefresh::TableWrite mode;
    };
    const Case cases[] = {
        {"Home (58 fields)", 0, PageRefresh::TableWrite::UpdateItems},
        {"Data, items updated", 1, PageRefresh::TableWrite::UpdateItems},
        {"Data, items replaced", 1, PageRefresh::TableWrite::ReplaceItems},
        {"Settings (118 fields)", 2, PageRefresh::TableWrite::UpdateItems},
        {"Fault (64 cells)", 3, PageRefresh::TableWrite::UpdateItems},
        {"Pack, items updated", 4, PageRefresh::TableWrite::UpdateItems},
        {"Pack, items replaced", 4, PageRefresh::TableWrite::ReplaceItems},
    };
    for (const Case &c : cases) {
        ui.tabWidget->setCurrentIndex(c.tab);
        pages.setTableWrite(c.mode);
        Figures f;
        f.changing = timePasses(window, pages, passes, true, false);
        f.steady = timePasses(window, pages, passes, false, false);
        f.changingPaint = timePasses(window, pages, passes, true, true);
        out << QString("%1 %2 %3 %4\n")
                   .arg(QLatin1String(c.name), -28)
                   .arg(f.changing, 10, 'f', 3)
                   .arg(f.steady, 10, 'f', 3)
                   .arg(f.changingPaint, 16, 'f', 3);
        out.flush();
    }

    // The 10 ms call when no page pass is due: tab read, poll mode store, gate test.
    ui.tabWidget->setCurrentIndex(0);
    pages.slotRefeshParaTimer();
    QElapsedTimer timer;
    constexpr int kCalls = 100000;
    refreshPeriod = 0xFFFFFFFFu;
    timer.start();
    for (int i = 0; i < kCalls; ++i)
        pages.slotRefeshParaTimer();
    out << QString("10 ms call without a pass: %1 us\n")
               .arg(timer.nsecsElapsed() / 1e3 / kCalls, 0, 'f', 3);
    return 0;
}
