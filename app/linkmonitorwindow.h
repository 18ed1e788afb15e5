#pragma once
// The "Link monitor" window: every frame the link sends and takes, with time, direction, hex
// and meaning, each transaction's outcome, and the link's counters. It records only while it is
// shown; the view keeps the last few thousand lines.

#include <QWidget>

class Battert_Stack_Thread;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class LinkMonitorWindow : public QWidget {
    Q_OBJECT
public:
    explicit LinkMonitorWindow(Battert_Stack_Thread *worker, QWidget *parent = nullptr);
    ~LinkMonitorWindow() override;

    // Takes the events recorded since the last call into the view and refreshes the counters
    // (the window's timer calls it while shown).
    void poll();
    // Writes the lines shown to path; false with a reason in *error.
    bool saveTo(const QString &path, QString *error);
    // The counters line, as shown at the top.
    QString countersText() const;

    QPlainTextEdit *view() const { return m_view; }
    bool isPaused() const { return m_paused; }
    void setPaused(bool paused);
    void clear();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void saveAs();

    Battert_Stack_Thread *m_worker;
    QLabel *m_counters = nullptr;
    QPlainTextEdit *m_view = nullptr;
    QPushButton *m_pause = nullptr;
    QTimer *m_timer = nullptr;
    quint64 m_seq = 0;
    bool m_paused = false;
};
