// Process CPU of the idle main window with its 1 ms status timer, in two forms:
//   change-only  - the window as built: the label is touched only when the status text changed;
//   every tick   - as if the timer re-set the label's text and style sheet on every tick.
// Prints the figures; never fails. Run offscreen: QT_QPA_PLATFORM=offscreen bench_statustimer [s]

#include "registermirror.h"
#include "ui_widget.h"
#include "widget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figure {
    double cpuPercent;
    int ticks;
};

Figure measure(int seconds, int *ticks) {
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    const int ticksBefore = ticks ? *ticks : 0;
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    loop.exec();
    const double cpu = cpuSeconds() - cpu0;
    return {100.0 * cpu / (wall.nsecsElapsed() / 1e9), ticks ? *ticks - ticksBefore : 0};
}

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 3;

    Widget w;
    w.show();
    QLabel *label = w.form()->statusText_label;

    // Settle: first page pass, first status shown.
    measure(1, nullptr);
    const Figure changeOnly = measure(seconds, nullptr);

    int naiveTicks = 0;
    QTimer naive;
    naive.setTimerType(Qt::PreciseTimer);
    QObject::connect(&naive, &QTimer::timeout, label, [&] {
        char text[kStatusTextSize];
        readStatusText(text);
        label->setText(QString::fromUtf8(text));
        label->setStyleSheet(Widget::tr("color:green;font-weight: bold;"));
        ++naiveTicks;
    });
    naive.start(1);
    const Figure everyTick = measure(seconds, &naiveTicks);
    naive.stop();

    std::printf("status label, idle window, %d s each (process CPU, %% of one core)\n", seconds);
    std::printf("  change-only (as built):        %6.1f %%\n", changeOnly.cpuPercent);
    std::printf("  re-set text and style per tick: %6.1f %%  (%d re-sets, %.0f per s)\n",
                everyTick.cpuPercent, everyTick.ticks, everyTick.ticks / double(seconds));
    return 0;
}
