// The floor of the start-up figures: a bare 1400 x 900 QWidget in a program that links only Qt
// Widgets, set up as the program's entry sets up the application. Prints, when its window is
// first exposed, the milliseconds since main() began and its VmRSS in kB, then exits.

#include "benchprocess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

// Reports once the window's first expose has been handled (and with it the first paint).
class ExposeProbe : public QObject {
public:
    explicit ExposeProbe(QElapsedTimer *sinceMain) : m_sinceMain(sinceMain) {}

protected:
    bool eventFilter(QObject *watched, QEvent *e) override {
        if (e->type() == QEvent::Expose && !m_reported &&
            static_cast<QWindow *>(watched)->isExposed()) {
            m_reported = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    std::printf("%lld %ld\n", static_cast<long long>(m_sinceMain->elapsed()),
                                rssKb());
                    std::fflush(stdout);
                    QCoreApplication::quit();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QElapsedTimer *m_sinceMain;
    bool m_reported = false;
};

} // namespace

int main(int argc, char **argv) {
    QElapsedTimer sinceMain;
    sinceMain.start();
    setUpAsTheProgram();
    QApplication app(argc, argv);
    QWidget w;
    w.resize(1400, 900);
    ExposeProbe probe(&sinceMain);
    w.winId();
    w.windowHandle()->installEventFilter(&probe);
    w.show();
    return app.exec();
}
