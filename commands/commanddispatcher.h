#pragma once
// The one button dispatcher of the main window: every push button of the form reaches
// dispatch() with itself as sender. It never touches the serial port: it changes the shared
// link state, which the link worker acts on at its next loop step.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class QMessageBox;
class QPlainTextEdit;
class QPushButton;
class QWidget;
class LinkSession;
class serialConfig;
namespace Ui {
class Widget;
}

class CommandDispatcher : public QObject {
    Q_OBJECT
public:
    // The operator chose the controller at addr (SET ADDR, or a row of the Bus window): the
    // address box shows it, deviceAddr names it and it is remembered.
    void selectController(uint8_t addr);
    // window is the main window (parent of every message box), ui its form. None is owned.
    CommandDispatcher(QWidget *window, Ui::Widget *ui, serialConfig *config,
                      LinkSession *link);
    ~CommandDispatcher() override;

    // Performs the action of the pressed button; a sender that is no push button of the form,
    // or a button without an action, does nothing.
    void dispatch(QObject *sender);

    // Marks parameters 1..84 as edited when the text of their field changes.
    void connectEditTracking();

    // The last confirmation box (at most one exists); null before the first.
    QMessageBox *confirmationBox() const;
    int settingsPageIndex() const { return settingsPage; }

signals:
    // COM SET: the settings window re-selects the stored settings.
    void needToConfigCom();

private:
    // 0 when the serial settings have been applied; otherwise shows "please config com", -1.
    int comGuard();
    // Dark Yes/No box; true only when the operator pressed Yes.
    bool confirm(const QString &text, const QString &informativeText);
    void showTips(const QString &text, const QString &buttonText);
    // True while the link runs; otherwise tells the operator to connect first. Work is never
    // kept for a later Connect: by then the operator may be talking to another controller.
    bool linkReady();

    void openComSettings();
    void connectOrDisconnect();
    void startFaultReading();
    void turnSettingsPage(int step);
    void writeParameter(int n);
    void oneClickSetup(uint8_t op);
    void runCommand(int n);
    void setDeviceAddress();

    QWidget *window = nullptr;
    Ui::Widget *ui = nullptr;
    serialConfig *config = nullptr;
    LinkSession *link = nullptr;
    // Parameter fields 1..84 in the form's creation order: the one-click list's order.
    QList<QPlainTextEdit *> paramFields;
    QPointer<QMessageBox> confirmBox;
    int settingsPage = 0;
    // Reads of the Home block (which carries the device count) landed before the last Connect.
};
