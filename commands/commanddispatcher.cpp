#include "commanddispatcher.h"

#include "storedsettings.h"

#include "ui_widget.h"

#include "auditlog.h"
#include "faultexport.h"
#include "linksession.h"
#include "paramset.h"
#include "paramtable.h"
#include "registermirror.h"
#include "serialconfig.h"
#include "serialsettings.h"
#include "stagewrite.h"
#include "writelist.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>

namespace {

// The Home block; its register 17 holds the number of devices on the bus in its low byte.

// Operator-visible texts belong to the main window's translation context.
QString trWidget(const char *text) {
    return QCoreApplication::translate("Widget", text);
}

// Parameter number from a write button's object name "W_Addr<n>_btn"; 0 otherwise.
int paramNumberFromButton(const QString &name) {
    static const QString prefix = QStringLiteral("W_Addr");
    static const QString suffix = QStringLiteral("_btn");
    if (name.size() <= prefix.size() + suffix.size() || !name.startsWith(prefix) ||
        !name.endsWith(suffix))
        return 0;
    bool ok = false;
    const int n = name.mid(prefix.size(), name.size() - prefix.size() - suffix.size()).toInt(&ok);
    return ok ? n : 0;
}

struct CommandText {
    int n;
    const char *text;
    const char *note;
};

constexpr CommandText kCommands[] = {
    {81, QT_TRANSLATE_NOOP("Widget", "Restore Factory"),
     QT_TRANSLATE_NOOP("Widget", "Note: The host ID will be changed to 1")},
    {82, QT_TRANSLATE_NOOP("Widget", "Forced Relay Close"),
     QT_TRANSLATE_NOOP("Widget", "Note:Relay forced closure")},
    {83, QT_TRANSLATE_NOOP("Widget", "System ShutDown"),
     QT_TRANSLATE_NOOP("Widget", "Note: The BPU switch will trip")},
};

const char kConfirmStyle[] = R"(
    QMessageBox {
        background-color: #1F1F1F;
        border-radius: 14px;
    }
    QLabel {
        color: #FFFFFF;
    }
    QMessageBox#qt_msgbox_icon {
        color: #D3111B;
    }
    QPushButton {
        background-color: #D3111B;
        border: none;
        border-radius: 6px;
        padding: 8px 22px;
        font-size:13px;
        color:#FFFFFF;
    }
    QPushButton:hover {
        background-color: #D3111B;
    }
    QPushButton:pressed {
        background-color: #B8B8B8;
    }
)";

} // namespace

CommandDispatcher::CommandDispatcher(QWidget *window, Ui::Widget *ui, serialConfig *config,
                                     LinkSession *link)
    : QObject(window), window(window), ui(ui), config(config), link(link) {
    if (ui->stackedWidget)
        settingsPage = ui->stackedWidget->currentIndex();
    paramFields = trackedParamFields(ui->fieldWidgets());
}

CommandDispatcher::~CommandDispatcher() {
    delete confirmBox;
}

QMessageBox *CommandDispatcher::confirmationBox() const {
    return confirmBox.data();
}

void CommandDispatcher::connectEditTracking() {
    ::connectEditTracking(paramFields);
}

void CommandDispatcher::dispatch(QObject *sender) {
    auto *button = qobject_cast<QPushButton *>(sender);
    if (!button)
        return;

    if (button == ui->com_set_btn) {
        openComSettings();
    } else if (button == ui->com_open_close_btn) {
        connectOrDisconnect();
    } else if (button == ui->one_key_set_btn) {
        oneClickSetup(2);
    } else if (button == ui->one_key_set_muti_batt_btn) {
        oneClickSetup(3);
    } else if (button == ui->ReadingFault_btn) {
        startFaultReading();
    } else if (button == ui->ExportFault_btn) {
        exportFaultLog(window);
    } else if (button == ui->next_page1) {
        turnSettingsPage(+1);
    } else if (button == ui->next_page2) {
        turnSettingsPage(-1);
    } else if (button == ui->devaddrSet_btn) {
        setDeviceAddress();
    } else {
        const int n = paramNumberFromButton(button->objectName());
        // Only the form's own write button of a known parameter.
        const ParamInfo *info = paramInfo(n);
        if (!info || ui->writeButton(n) != button)
            return;
        if (info->encoding == ParamEncoding::Command)
            runCommand(n);
        else
            writeParameter(n);
    }
}

int CommandDispatcher::comGuard() {
    if (comConfigured())
        return 0;
    showTips(trWidget("please config com"), trWidget("OK"));
    return -1;
}

void CommandDispatcher::showTips(const QString &text, const QString &buttonText) {
    QMessageBox box(QMessageBox::Information, trWidget("tips"), text, QMessageBox::NoButton,
                    window);
    QPushButton *ok = box.addButton(buttonText, QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.exec();
}

bool CommandDispatcher::linkReady() {
    if (portEnabled.load(std::memory_order_acquire) && linkRunning.load(std::memory_order_acquire))
        return true;
    showTips(trWidget("Not connected: press Connect first. Nothing was sent."), trWidget("OK"));
    return false;
}

bool CommandDispatcher::confirm(const QString &text, const QString &informativeText) {
    delete confirmBox;
    confirmBox = new QMessageBox(window);
    QMessageBox *box = confirmBox;
    box->setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    box->setModal(true);
    box->setIcon(QMessageBox::Warning);
    box->setText(text);
    box->setInformativeText(informativeText);
    QPushButton *yes = box->addButton(trWidget("Yes"), QMessageBox::AcceptRole);
    QPushButton *no = box->addButton(trWidget("No"), QMessageBox::RejectRole);
    // Return and Escape both answer No: only a deliberate click on Yes acts on the controller.
    box->setDefaultButton(no);
    box->setEscapeButton(no);
    yes->setCursor(Qt::PointingHandCursor);
    no->setCursor(Qt::PointingHandCursor);
    box->setStyleSheet(QLatin1String(kConfirmStyle));
    box->exec();
    // The window may have been closed while the box was open.
    return box == confirmBox && box->clickedButton() == yes;
}

void CommandDispatcher::openComSettings() {
    emit needToConfigCom();
    config->refreshPortList();
    config->show();
    config->raise();
    config->activateWindow();
}

void CommandDispatcher::connectOrDisconnect() {
    if (comGuard() != 0)
        return;
    if (!portEnabled.load(std::memory_order_acquire)) {
        // The worker opens the port with the settings stored at the time it opens it.
        link->start(&serialSettings);
        ui->com_open_close_btn->setText(trWidget("Disconnect"));
    } else {
        // Blocks until the worker has closed the port and ended (at most about one
        // transaction).
        link->stop();
        ui->com_open_close_btn->setText(trWidget("Connect"));
    }
}

void CommandDispatcher::startFaultReading() {
    const int n = ui->needReadFaultCnt_text->toPlainText().toInt(nullptr, 10);
    // Records 0..n are read from blocks 22 + k; 63 keeps the last one at block 85.
    if (n <= 0 || n > 63) {
        showTips(trWidget("error value,value 1-64"), trWidget("ok"));
        return;
    }
    faultCount.store(static_cast<uint8_t>(n), std::memory_order_relaxed);
    faultIndex.store(0, std::memory_order_relaxed);
    faultWalk.store(1, std::memory_order_release);
    pollPeriod.store(300, std::memory_order_release);
    wakeLinkWorker();
}

void CommandDispatcher::turnSettingsPage(int step) {
    const int count = ui->stackedWidget->count();
    if (count <= 0)
        return;
    settingsPage = (settingsPage + count + step) % count;
    ui->stackedWidget->setCurrentIndex(settingsPage);
}

void CommandDispatcher::writeParameter(int n) {
    QPlainTextEdit *field = ui->editField(n);
    if (!field || !linkReady())
        return;
    if (stageParamWrite(n, field->toPlainText()))
        return;
    // Nothing is staged; the field keeps its text and its edited mark for the correction.
    if (n == 74)
        showTips(trWidget("The format is incorrect,correct format is yyyy-MM-dd hh:mm:ss"),
                 trWidget("ok"));
    else
        showTips(paramInputTip(n) + QLatin1Char(' ') + trWidget("Nothing was written."),
                 trWidget("OK"));
}

void CommandDispatcher::oneClickSetup(uint8_t op) {
    if (!linkReady())
        return;
    // The worker sends the list to addresses 1..N with N from the selected controller's Home
    // block; a count left from another link, or none at all, would send it to the wrong devices
    // or to none.
    if (op == 3 && (registerMirror->landedAtMs(kHomeBlock) <
                        linkStartedAtMs.load(std::memory_order_acquire) ||
                    deviceCount(*registerMirror) == 0)) {
        showTips(trWidget("The number of devices is not known yet: show the Home page until it "
                          "has been read, then press One-click setup muti batt again. Nothing "
                          "was sent."),
                 trWidget("OK"));
        return;
    }
    int refused = 0;
    if (queueOneClickSetup(paramFields, op, &refused) < 0)
        showTips(paramInputTip(refused) + QLatin1Char(' ') +
                     trWidget("One-click setup sent nothing."),
                 trWidget("OK"));
}

void CommandDispatcher::runCommand(int n) {
    for (const CommandText &command : kCommands) {
        if (command.n != n)
            continue;
        if (!linkReady())
            return;
        // The box names the controller the command reaches, so the operator can tell it from
        // the one they meant before pressing Yes.
        const uint8_t addr = deviceAddr.load(std::memory_order_acquire);
        const QString note =
            trWidget(command.note) + QStringLiteral("\n\n") + controllerTargetText(addr);
        if (!confirm(trWidget(command.text), note)) {
            // The audit log tells a command refused at its box from one never asked for.
            noteCancelledCommand(addr, static_cast<uint16_t>(n), linkTargetText(serialSettings()));
            return;
        }
        if (linkReady())
            stageCommand(static_cast<uint16_t>(n));
        return;
    }
}

void CommandDispatcher::setDeviceAddress() {
    uint8_t addr = 0;
    if (!parseDeviceAddress(ui->devaddrSetText->toPlainText(), &addr)) {
        // 0 would be the broadcast address: every controller acts, none answers.
        showTips(trWidget("The device address must be a whole number from 1 to 247, for example "
                          "1."),
                 trWidget("OK"));
        return;
    }
    selectController(addr);
}

void CommandDispatcher::selectController(uint8_t addr) {
    const QString text = QString::number(addr);
    if (ui->devaddrSetText->toPlainText() != text)
        ui->devaddrSetText->setPlainText(text);
    deviceAddr.store(addr, std::memory_order_release);
    storeDeviceAddress(addr);
}
