#pragma once
// The main window: builds the form, wires every push button to one dispatcher slot, owns the
// serial settings window and the link worker, and runs the two GUI timers (page refresh every
// 10 ms, status text every 1 ms).

#include <QRect>
#include <QSize>
#include <QWidget>

#include <cstdint>
#include <memory>

class Battert_Stack_Thread;
class BusRound;
class BusWindow;
class LinkSession;
class CommandDispatcher;
class LinkMonitorWindow;
class PageRecorder;
class FaultRecordsWindow;
class TrendModel;
class TrendWindow;
class QToolButton;
class PageRefresh;
class ParamSetTools;
class QMessageBox;
class QPushButton;
class QTimer;
class serialConfig;

namespace Ui {
class Widget;
}

class Widget : public QWidget {
    Q_OBJECT

public:
    // Whole: the window is built whole here. HomeFirst (the program's start): the frame and
    // the Home page now, the other pages on the event loop's turn after the window's first
    // paint, or before when anything asks for the form (form(), dispatcher(), a tab change).
    enum class FormBuild { Whole, HomeFirst };
    explicit Widget(QWidget *parent = nullptr, FormBuild build = FormBuild::Whole);
    ~Widget() override;

    // For the dispatcher, the page refresh and the tests; each builds the rest of the form
    // first if it is still to come.
    Ui::Widget *form() const;
    serialConfig *settingsDialog() const { return m_serialConfig; }
    Battert_Stack_Thread *worker() const { return m_worker; }
    CommandDispatcher *dispatcher() const;
    // The last confirmation box of a one-shot command (kept by the dispatcher), and the
    // settings page the arrow buttons have turned to.
    QMessageBox *confirmationBox() const;
    int settingsPageIndex() const;
    PageRefresh *pageRefresh() const;
    // Whether every page is built.
    bool formComplete() const { return m_formComplete; }
    // Ui::Widget::fitInto() on the form as built so far.
    void fitFormInto(const QSize &available);

    // Opens (or raises) the link monitor window; Ctrl+L and the footer's "Link" button.
    LinkMonitorWindow *showLinkMonitor();
    // The Bus window (made when first asked for): every controller on the line at once.
    BusWindow *showBus();

    // Recording of the pages shown into CSV files in folder (the footer's "Rec" button and
    // --record). False with the reason when the folder cannot be used.
    bool startRecording(const QString &folder, QString *error);
    void stopRecording();
    PageRecorder *recorder() const { return m_recorder.get(); }

    // The Home page's values over time (Ctrl+T, the "Trends" button on the Home page), and the
    // fault records read (the "Records" button on the Fault page).
    TrendWindow *showTrends();
    TrendModel *trendModel() const { return m_trends.get(); }
    FaultRecordsWindow *showFaultRecords();
    // Read parameters, Compare with file, Audit log (on the Settings pages).
    ParamSetTools *paramSetTools() const { return m_paramSetTools; }

    // Stops the link worker (the port closed) and the tick thread, and ends a recording, for a
    // process that ends without returning from its event loop: Qt calls exit() when it loses
    // the display, and no thread may run on while the program's static objects are destroyed.
    void stopForExit();

signals:
    void NeedToConfigCom();
    // The main window was closed: its tool windows are closed and the link is stopped; the
    // program ends (main quits the event loop on it).
    void closed();
    // Every page is built now.
    void formCompleted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void slotmainBtnClicked();
    void slotRefeshParaTimer();
    void slotKelvaneComTimer();

private:
    // Builds the pages after Home and starts the timers; once.
    void completeForm();
    bool m_formComplete = false;
    bool m_completionQueued = false;
    int m_currentTab = 0;
    Ui::Widget *ui = nullptr;
    serialConfig *m_serialConfig = nullptr;
    LinkSession *m_link = nullptr;
    Battert_Stack_Thread *m_worker = nullptr; // the session's
    QTimer *m_refreshTimer = nullptr;
    QTimer *m_statusTimer = nullptr;
    // Performs every button's action; a child of the window, it also owns the confirmation box
    // and the settings page index.
    CommandDispatcher *m_dispatcher = nullptr;

    std::unique_ptr<PageRefresh> m_pageRefresh;
    LinkMonitorWindow *m_linkMonitor = nullptr; // made when first asked for
    BusWindow *m_busWindow = nullptr;           // made when first asked for
    BusRound *m_busRound = nullptr;             // the worker's poll source
    std::unique_ptr<PageRecorder> m_recorder;
    std::unique_ptr<TrendModel> m_trends;
    uint32_t m_trendLandings = 0; // Home reads seen by the last trend sample
    TrendWindow *m_trendWindow = nullptr;
    FaultRecordsWindow *m_faultRecords = nullptr;
    ParamSetTools *m_paramSetTools = nullptr;
    QToolButton *m_recordButton = nullptr;
    void recordButtonClicked();
    void afterPagePass();
    // The status text last shown: its generation, and whether the label's style is applied.
    uint32_t m_statusGeneration = 0;
    bool m_statusShown = false;

public:
    enum class StatusLook { Healthy, Degraded, Failure };

private:
    void updateStatusTip();
    StatusLook m_statusLook = StatusLook::Healthy;
};

// The colour class of a status text: green, amber or red.
// The status label's colour for the link health state (linkHealthState).
Widget::StatusLook statusLook(uint8_t healthState);

// The frame the process entry gives the main window before showing it: no maximise button,
// and its size fixed: 1400 x 900 from the form, or, where the screen's available area cannot
// hold that with the window's frame, the area's size with the pages scrolling (the footer
// stays in view).
void fixMainWindowFrame(QWidget &window);
// The same for a given available screen area.
void fixMainWindowFrame(QWidget &window, const QRect &available);
