// The button dispatcher driven through real clicks on the offscreen main form, with its message
// boxes answered by the test, and end to end through the real link worker and the simulated
// controller on a pseudo-terminal.

#include "commanddispatcher.h"

#include "ui_widget.h"

#include "battertstackthread.h"
#include "paramtable.h"
#include "ptysimulator.h"
#include "registermirror.h"
#include "serialconfig.h"
#include "serialline.h"
#include "serialsettings.h"
#include "stagewrite.h"
#include "widget.h"
#include "writejournal.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// What a modal box showed, and which button the test pressed.
struct BoxSeen {
    bool seen = false;
    QString className;
    QString title;
    QString text;
    QString informativeText;
    QStringList buttons;
    QString defaultButton;
    QString escapeButton;
    Qt::WindowFlags flags;
    QString styleSheet;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QPointer<QWidget> widget;
};

// Waits (inside the box's own event loop) for the next modal widget and answers it: a message
// box by clicking the button with the given text, any other dialog by rejecting it.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QObject *parent = nullptr) : QObject(parent) {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, &BoxAnswerer::poll);
    }
    void answer(const QString &buttonText) {
        seen = BoxSeen{};
        button = buttonText;
        timer.start();
    }
    BoxSeen seen;

private:
    void poll() {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        timer.stop();
        seen.seen = true;
        seen.className = QString::fromLatin1(modal->metaObject()->className());
        seen.title = modal->windowTitle();
        seen.flags = modal->windowFlags();
        seen.styleSheet = modal->styleSheet();
        seen.widget = modal;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen.text = box->text();
            seen.informativeText = box->informativeText();
            seen.icon = box->icon();
            seen.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
            seen.escapeButton = box->escapeButton() ? box->escapeButton()->text() : QString();
            QAbstractButton *target = nullptr;
            for (QAbstractButton *b : box->buttons()) {
                seen.buttons << b->text();
                if (b->text() == button)
                    target = b;
            }
            if (target)
                QTest::mouseClick(target, Qt::LeftButton);
            else if (button == QLatin1String("Escape"))
                QTest::keyClick(box, Qt::Key_Escape);
            else if (button == QLatin1String("Return"))
                QTest::keyClick(box, Qt::Key_Return);
            else
                box->reject();
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->reject();
        }
    }
    QTimer timer;
    QString button;
};

QString statusText() {
    char text[kStatusTextSize];
    readStatusText(text);
    return QString::fromUtf8(text);
}

QByteArray stagedBytes() {
    const StagedWrite w = takeStagedWrite();
    return QByteArray(reinterpret_cast<const char *>(w.data), w.count * 2);
}

void stageSentinel() {
    const uint16_t word = 0xBEEF;
    stageWrite(&word, 999, 1, kDataWord);
    linkOp = 0;
    writePending = 0;
}

// The link state of a connected window whose worker never runs: what a button stages stays
// staged for the test to look at.
void pretendConnected() {
    linkRunning = 1;
    portEnabled = 1;
}

// A read of the Home block reporting devices on the bus (cell 2:17), as the worker lands it.
void landHomeBlock(int devices) {
    QByteArray block(200, '\0');
    block[2 * 17 + 1] = char(devices);
    landRegisters(2, reinterpret_cast<const uint8_t *>(block.constData()), 100);
}

const QString kNotConnected =
    QStringLiteral("Not connected: press Connect first. Nothing was sent.");
const QString kDeviceCountUnknown = QStringLiteral(
    "The number of devices is not known yet: show the Home page until it has been read, then "
    "press One-click setup muti batt again. Nothing was sent.");

} // namespace

class TestDispatcher : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void comSetShowsSettings();
    void connectNeedsSettings();
    void faultCountChecked_data();
    void faultCountChecked();
    void pageButtonsToggle();
    void setAddress_data();
    void setAddress();
    void command_data();
    void command();
    void confirmationNamesTheSerialNumber();
    void confirmationReplacesBox();
    void writeButton_data();
    void writeButton();
    void refusedInputShowsTips_data();
    void refusedInputShowsTips();
    void invalidDateShowsFormatBox();
    void everyWriteButtonStagesItsRegister();
    void oneClickFormOrder();
    void oneClickFieldsAbove84Untracked();
    void oneClickRefusedWhole_data();
    void oneClickRefusedWhole();
    void disconnectedRefused_data();
    void disconnectedRefused();
    void exportOpensSaveDialog();
    void unknownSenderIgnored();

    void connectTwice();
    void writeReachesReadBack();
    void oneClickToEveryAddress();
    void everyWriteButtonReachesController();
    void commandReachesController();
    void setAddressReachesController();
    void listQueuedDuringRunIsSent();
    void refusedInputSendsNothing();
    void nothingStagedBeforeConnectIsSent();
    void setWhileListQueuedSendsEverything();
    void mutiBattWaitsForDeviceCount();

private:
    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
    void configureSerial(const QString &path);
    void connectToSimulator();
    QList<QByteArray> writeFrames() const;

    std::unique_ptr<Widget> window;
    Ui::Widget *ui = nullptr;
    serialConfig *config = nullptr;
    Battert_Stack_Thread *worker = nullptr;
    CommandDispatcher *dispatcher = nullptr;
    BoxAnswerer *answerer = nullptr;
    std::unique_ptr<PtySimulator> sim;
};

void TestDispatcher::init() {
    setSerialSettings(SerialSettings{});
    setComConfigured(false);
    clearMirror();
    deviceAddr = 1;

    // The real main window: its buttons reach the dispatcher through slotmainBtnClicked, its
    // refresh cycle follows the tab on screen and its tick thread drives the link's timers.
    window = std::make_unique<Widget>();
    ui = window->form();
    config = window->settingsDialog();
    worker = window->worker();
    dispatcher = window->dispatcher();
    answerer = new BoxAnswerer(window.get());
    window->show();
}

void TestDispatcher::cleanup() {
    window.reset(); // stops the worker first
    sim.reset();
    portEnabled = 0;
    linkRunning = 0;
}

// Connects the window to a fresh simulated controller; waits for its first answer.
void TestDispatcher::connectToSimulator() {
    sim = std::make_unique<PtySimulator>();
    QVERIFY(sim->start());
    sim->setFrozen(true);
    configureSerial(sim->slavePath());
    click(ui->com_open_close_btn);
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() > 0, 10000);
}

QList<QByteArray> TestDispatcher::writeFrames() const {
    QList<QByteArray> out;
    for (const SimRequest &r : sim->requests())
        if (r.frame.size() > 1 && uint8_t(r.frame[1]) == 16)
            out << r.frame;
    return out;
}

void TestDispatcher::configureSerial(const QString &path) {
    useSerialLine(path);
}

void TestDispatcher::comSetShowsSettings() {
    QSignalSpy spy(dispatcher, &CommandDispatcher::needToConfigCom);
    QVERIFY(!config->isVisible());
    click(ui->com_set_btn);
    QCOMPARE(spy.count(), 1);
    QVERIFY(config->isVisible());
    QVERIFY(!config->isModal());
}

void TestDispatcher::connectNeedsSettings() {
    answerer->answer(QStringLiteral("OK"));
    click(ui->com_open_close_btn);
    QVERIFY(answerer->seen.seen);
    QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
    QCOMPARE(answerer->seen.text, QStringLiteral("please config com"));
    QCOMPARE(answerer->seen.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(ui->com_open_close_btn->text(), QStringLiteral("Connect"));
    QCOMPARE(int(portEnabled), 0);
    QCOMPARE(int(linkRunning), 0);
    QVERIFY(!worker->isRunning());
}

void TestDispatcher::faultCountChecked_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("1 accepted") << "1" << true;
    QTest::newRow("63 accepted") << "63" << true;
    QTest::newRow("64 rejected") << "64" << false;
    QTest::newRow("0 rejected") << "0" << false;
    QTest::newRow("negative rejected") << "-5" << false;
    QTest::newRow("letters rejected") << "ten" << false;
    QTest::newRow("empty rejected") << "" << false;
}

void TestDispatcher::faultCountChecked() {
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    ::faultCount = 9;
    faultIndex = 5;
    ui->needReadFaultCnt_text->setPlainText(text);
    answerer->answer(QStringLiteral("ok"));
    click(ui->ReadingFault_btn);
    if (accepted) {
        QVERIFY(!answerer->seen.seen);
        QCOMPARE(int(::faultCount), text.toInt());
        QCOMPARE(int(faultIndex), 0);
        QCOMPARE(int(faultWalk), 1);
        QCOMPARE(int(pollPeriod), 300);
    } else {
        QVERIFY(answerer->seen.seen);
        QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
        QCOMPARE(answerer->seen.text, QStringLiteral("error value,value 1-64"));
        QCOMPARE(answerer->seen.buttons, QStringList{QStringLiteral("ok")});
        QCOMPARE(int(::faultCount), 9);
        QCOMPARE(int(faultIndex), 5);
        QCOMPARE(int(faultWalk), 0);
        QCOMPARE(int(pollPeriod), 1000);
    }
}

void TestDispatcher::pageButtonsToggle() {
    QCOMPARE(ui->stackedWidget->currentIndex(), 0);
    click(ui->next_page1);
    QCOMPARE(ui->stackedWidget->currentWidget(), ui->set_page_2);
    click(ui->next_page1);
    QCOMPARE(ui->stackedWidget->currentWidget(), ui->set_page);
    click(ui->next_page2);
    QCOMPARE(ui->stackedWidget->currentWidget(), ui->set_page_2);
    click(ui->next_page2);
    QCOMPARE(ui->stackedWidget->currentWidget(), ui->set_page);
}

void TestDispatcher::setAddress_data() {
    // addr -1: refused with a box, the address in use (9) stays.
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("addr");
    QTest::newRow("7") << "7" << 7;
    QTest::newRow("1 lowest") << "1" << 1;
    QTest::newRow("247 highest") << "247" << 247;
    QTest::newRow("typed line break ignored") << "12\n" << 12;
    QTest::newRow("300 refused") << "300" << -1;
    QTest::newRow("248 refused") << "248" << -1;
    QTest::newRow("0 broadcast refused") << "0" << -1;
    QTest::newRow("-1 refused") << "-1" << -1;
    QTest::newRow("letters refused") << "x" << -1;
    QTest::newRow("empty refused") << "" << -1;
}

void TestDispatcher::setAddress() {
    QFETCH(QString, text);
    QFETCH(int, addr);
    deviceAddr = 9;
    ui->devaddrSetText->setPlainText(text);
    answerer->answer(QStringLiteral("OK"));
    click(ui->devaddrSet_btn);
    if (addr >= 0) {
        QVERIFY(!answerer->seen.seen);
        QCOMPARE(int(deviceAddr), addr);
    } else {
        QVERIFY(answerer->seen.seen);
        QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
        QCOMPARE(answerer->seen.text, QStringLiteral("The device address must be a whole number "
                                                     "from 1 to 247, for example 1."));
        QCOMPARE(int(deviceAddr), 9);
        QCOMPARE(ui->devaddrSetText->toPlainText(), text);
    }
}

void TestDispatcher::command_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("answer");
    QTest::newRow("restore factory, yes") << 81 << "Restore Factory"
                                          << "Note: The host ID will be changed to 1" << "Yes";
    QTest::newRow("restore factory, no") << 81 << "Restore Factory"
                                         << "Note: The host ID will be changed to 1" << "No";
    QTest::newRow("relay close, yes") << 82 << "Forced Relay Close"
                                      << "Note:Relay forced closure" << "Yes";
    QTest::newRow("relay close, no") << 82 << "Forced Relay Close"
                                     << "Note:Relay forced closure" << "No";
    QTest::newRow("shutdown, yes") << 83 << "System ShutDown"
                                   << "Note: The BPU switch will trip" << "Yes";
    QTest::newRow("shutdown, no") << 83 << "System ShutDown"
                                  << "Note: The BPU switch will trip" << "No";
    QTest::newRow("shutdown, Escape") << 83 << "System ShutDown"
                                      << "Note: The BPU switch will trip" << "Escape";
    // Return takes the default button: No, so a stray key press sends nothing.
    QTest::newRow("restore factory, Return") << 81 << "Restore Factory"
                                             << "Note: The host ID will be changed to 1"
                                             << "Return";
    QTest::newRow("relay close, Return") << 82 << "Forced Relay Close"
                                         << "Note:Relay forced closure"
                                         << "Return";
}

void TestDispatcher::command() {
    QFETCH(int, n);
    QFETCH(QString, text);
    QFETCH(QString, note);
    QFETCH(QString, answer);
    const bool yes = answer == QLatin1String("Yes");

    pretendConnected();
    deviceAddr.store(7);
    stageSentinel();
    uint64_t noted = lastWriteOutcomeSeq();
    answerer->answer(answer);
    click(ui->writeButton(n));
    const BoxSeen &seen = answerer->seen;
    QVERIFY(seen.seen);
    QCOMPARE(seen.text, text);
    // The note, then the controller the command reaches (address 7 over the set port).
    QCOMPARE(seen.informativeText, note + QStringLiteral("\n\nController at address 7 on %1")
                                              .arg(linkTargetText(serialSettings())));
    QCOMPARE(seen.buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
    QCOMPARE(seen.defaultButton, QStringLiteral("No"));
    QCOMPARE(seen.escapeButton, QStringLiteral("No"));
    QCOMPARE(int(seen.flags), 0x803);
    QCOMPARE(seen.icon, QMessageBox::Warning);
    QVERIFY(seen.styleSheet.contains(QStringLiteral("#1F1F1F")));
    QVERIFY(seen.styleSheet.contains(QStringLiteral("#D3111B")));

    const StagedWrite w = takeStagedWrite();
    if (yes) {
        QCOMPARE(int(w.start), n);
        QCOMPARE(int(w.count), 1);
        QCOMPARE(stagedBytes(), QByteArray::fromHex("0001"));
        QCOMPARE(int(linkOp), 1);
        QCOMPARE(int(writePending), 1);
    } else {
        QCOMPARE(int(w.start), 999); // the earlier request stays staged
        QCOMPARE(int(linkOp), 0);
    }
    // A cancelled command is noted for the audit log as such; a confirmed one by the link.
    const std::vector<WriteOutcome> outcomes = writeOutcomesSince(&noted);
    QCOMPARE(int(outcomes.size()), yes ? 0 : 1);
    if (!yes) {
        QVERIFY(outcomes.front().cancelled);
        QCOMPARE(int(outcomes.front().addr), 7);
        QCOMPARE(int(outcomes.front().start), n);
    }
}

// Where the controller's identity has been read on this link, the box names its serial number.
void TestDispatcher::confirmationNamesTheSerialNumber() {
    pretendConnected();
    deviceAddr.store(7);
    QByteArray block(200, '\0');
    block.replace(2 * 27, 6, "SN4711");
    mirrorOf(7).land(86, reinterpret_cast<const uint8_t *>(block.constData()), 100);
    answerer->answer(QStringLiteral("No"));
    click(ui->W_Addr83_btn);
    QVERIFY2(answerer->seen.informativeText.endsWith(
                 QStringLiteral("Controller at address 7, serial number SN4711, on %1")
                     .arg(linkTargetText(serialSettings()))),
             qPrintable(answerer->seen.informativeText));
}

void TestDispatcher::confirmationReplacesBox() {
    pretendConnected();
    answerer->answer(QStringLiteral("No"));
    click(ui->W_Addr81_btn);
    QPointer<QMessageBox> first = dispatcher->confirmationBox();
    QVERIFY(first);
    answerer->answer(QStringLiteral("No"));
    click(ui->W_Addr82_btn);
    QVERIFY(!first); // deleted when replaced
    QVERIFY(dispatcher->confirmationBox());
    QCOMPARE(window->findChildren<QMessageBox *>().size(), 1);
}

void TestDispatcher::writeButton_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("24 milli 3.65") << 24 << "3.65" << QByteArray::fromHex("0e42");
    QTest::newRow("41 deci 0.25 rounds to 3") << 41 << "0.25" << QByteArray::fromHex("0003");
    QTest::newRow("47 signed deci -0.25") << 47 << "-0.25" << QByteArray::fromHex("fffd");
    QTest::newRow("1 int 65535") << 1 << "65535" << QByteArray::fromHex("ffff");
    QTest::newRow("15 signed int -32768") << 15 << "-32768" << QByteArray::fromHex("8000");
    QTest::newRow("40 half of 7") << 40 << "7" << QByteArray::fromHex("0003");
    QTest::newRow("79 ABCDEF") << 79 << "ABCDEF" << QByteArray::fromHex("414243444546");
    QTest::newRow("74 date and time")
        << 74 << "2024-03-05 07:08:09" << QByteArray::fromHex("001800030005000700080009");
    QTest::newRow("84 host id") << 84 << "2" << QByteArray::fromHex("0002");
    QTest::newRow("103 page 2 deci") << 103 << "12.5" << QByteArray::fromHex("007d");
    QTest::newRow("107 balance start diff") << 107 << "30" << QByteArray::fromHex("001e");
}

void TestDispatcher::writeButton() {
    QFETCH(int, n);
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    pretendConnected();
    ui->editField(n)->setPlainText(text);
    click(ui->writeButton(n));
    const StagedWrite w = takeStagedWrite();
    QCOMPARE(int(w.func), 16);
    QCOMPARE(int(w.start), n);
    QCOMPARE(int(w.count), expected.size() / 2);
    QCOMPARE(stagedBytes(), expected);
    QCOMPARE(int(linkOp), 1);
    QCOMPARE(int(writePending), 1);
}

void TestDispatcher::refusedInputShowsTips_data() {
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip");
    const QString milli24 = QStringLiteral(
        "Cell OV Warning (V) takes a number from 0 to 5, for example 3.65. Nothing was written.");
    QTest::newRow("24 unit typed") << 24 << "3.6V" << milli24;
    QTest::newRow("24 decimal comma") << 24 << "3,65" << milli24;
    QTest::newRow("24 letters") << 24 << "abc" << milli24;
    QTest::newRow("24 empty") << 24 << "" << milli24;
    QTest::newRow("24 too large") << 24 << "99999999" << milli24;
    QTest::newRow("4 decimal in an integer")
        << 4 << "95.5"
        << "Relay Close Delay (ms) takes a whole number from 0 to 65535, for example 100. "
           "Nothing was written.";
    QTest::newRow("1 above 65535")
        << 1 << "70000"
        << "Packs per Rack takes a whole number from 0 to 65535, for example 100. Nothing was "
           "written.";
    QTest::newRow("58 negative delay")
        << 58 << "-5"
        << "OV Warning Delay (s) takes a whole number from 0 to 32767, for example 100. Nothing "
           "was written.";
    QTest::newRow("42 negative voltage")
        << 42 << "-0.1"
        << "Total UV Warning (V) takes a number from 0 to 3276.7, for example 25.5. Nothing was "
           "written.";
    QTest::newRow("40 half negative")
        << 40 << "-7"
        << "Limit Delay (\u00D72 s) takes a whole number from 0 to 131071, for example 100. "
           "Nothing was written.";
    QTest::newRow("79 text too long")
        << 79 << "ABCDEFG"
        << "Region Code takes a text of at most 6 bytes (a letter or digit is one byte), for "
           "example ABC123. Nothing was written.";
    QTest::newRow("108 page 2 letters")
        << 108 << "x"
        << "BalStoptVoltDiff (mV) takes a whole number from 0 to 5000, for example 100. Nothing "
           "was written.";
}

void TestDispatcher::refusedInputShowsTips() {
    // Nothing is staged; the field keeps its text and (1..84) its edited mark.
    QFETCH(int, n);
    QFETCH(QString, text);
    QFETCH(QString, tip);
    pretendConnected();
    ui->editField(n)->setPlainText(text);
    paramEdited[n <= kTrackedParamMax ? n : 0] = 1;
    stageSentinel();
    answerer->answer(QStringLiteral("OK"));
    click(ui->writeButton(n));
    QVERIFY(answerer->seen.seen);
    QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
    QCOMPARE(answerer->seen.text, tip);
    QCOMPARE(answerer->seen.buttons, QStringList{QStringLiteral("OK")});
    QCOMPARE(int(takeStagedWrite().start), 999);
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(writePending), 0);
    QCOMPARE(ui->editField(n)->toPlainText(), text);
    if (n <= kTrackedParamMax)
        QCOMPARE(int(paramEdited[n]), 1);
}

void TestDispatcher::invalidDateShowsFormatBox() {
    pretendConnected();
    stageSentinel();
    ui->editField(74)->setPlainText(QStringLiteral("2024-02-30 10:00:00"));
    answerer->answer(QStringLiteral("ok"));
    click(ui->writeButton(74));
    QVERIFY(answerer->seen.seen);
    QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
    QCOMPARE(answerer->seen.text,
             QStringLiteral("The format is incorrect,correct format is yyyy-MM-dd hh:mm:ss"));
    QCOMPARE(answerer->seen.buttons, QStringList{QStringLiteral("ok")});
    QCOMPARE(int(takeStagedWrite().start), 999);
    QCOMPARE(int(linkOp), 0);
}

void TestDispatcher::everyWriteButtonStagesItsRegister() {
    // Every parameter button of the form writes its own register from its own field; a
    // parameter without a field or button here would be a wiring fault.
    QList<int> params;
    for (int n = 1; n <= 108; ++n) {
        if ((n >= 81 && n <= 83) || n == 92 || n == 93 || n == 98 || n == 99 || n == 101 ||
            n == 105)
            continue;
        params << n;
    }
    QCOMPARE(params.size(), 99);
    pretendConnected();
    for (int n : params) {
        QPlainTextEdit *edit = ui->editField(n);
        QPushButton *button = ui->writeButton(n);
        QVERIFY2(edit && button, qPrintable(QString::number(n)));
        edit->setPlainText(n == 74 ? QStringLiteral("2024-03-05 07:08:09") : QStringLiteral("1"));
        stageSentinel();
        click(button);
        QVERIFY2(takeStagedWrite().start == n, qPrintable(QString::number(n)));
        QCOMPARE(int(linkOp), 1);
    }
}

void TestDispatcher::oneClickFormOrder() {
    // Showing a page moves it to the end of its parent's children; the list keeps the form's
    // creation order whatever page is on screen.
    pretendConnected();
    ui->tabWidget->setCurrentWidget(ui->Setting_tabWidget);
    click(ui->next_page1);
    ui->editField(3)->setPlainText(QStringLiteral("30"));
    ui->editField(8)->setPlainText(QStringLiteral("80"));
    ui->editField(24)->setPlainText(QStringLiteral("3.65"));
    click(ui->one_key_set_btn);
    QCOMPARE(int(linkOp), 2);
    WriteListEntry list[kWriteListEntries];
    const int n = takeWriteList(list);
    QCOMPARE(n, 3);
    // Home fields come before the Settings pages; on Home, 8 is created before 3.
    QCOMPARE(int(list[0].reg), 8);
    QCOMPARE(int(list[1].reg), 3);
    QCOMPARE(int(list[2].reg), 24);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(list[2].data), 2),
             QByteArray::fromHex("0e42"));

    linkOp = 0;
    click(ui->one_key_set_btn);
    QCOMPARE(int(linkOp), 0); // nothing edited since: nothing queued

    ui->editField(5)->setPlainText(QStringLiteral("5"));
    click(ui->writeButton(5)); // its own write leaves it edited
    landHomeBlock(3);          // the device count is known
    click(ui->one_key_set_muti_batt_btn);
    QCOMPARE(int(linkOp), 3);
    QCOMPARE(takeWriteList(list), 1);
    QCOMPARE(int(list[0].reg), 5);
}

void TestDispatcher::oneClickFieldsAbove84Untracked() {
    pretendConnected();
    for (int n : {85, 94, 100, 104, 106, 108})
        ui->editField(n)->setPlainText(QStringLiteral("1"));
    click(ui->one_key_set_btn);
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(writeListCount), 0);
}

void TestDispatcher::oneClickRefusedWhole_data() {
    QTest::addColumn<bool>("toAll");
    QTest::addColumn<int>("bad");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("tip");
    QTest::newRow("letters in 3")
        << false << 3 << "abc"
        << "Precharge Timeout (ms) takes a whole number from 0 to 65535, for example 100. "
           "One-click setup sent nothing.";
    QTest::newRow("decimal in 4, to every address")
        << true << 4 << "95.5"
        << "Relay Close Delay (ms) takes a whole number from 0 to 65535, for example 100. "
           "One-click setup sent nothing.";
    QTest::newRow("invalid date 74")
        << false << 74 << "2024-02-30 10:00:00"
        << "Date and Time takes a date and time as yyyy-MM-dd hh:mm:ss, for example 2024-03-05 "
           "07:08:09. One-click setup sent nothing.";
    QTest::newRow("29 out of range")
        << false << 29 << "99999999"
        << "Cell OV Prot. Release (V) takes a number from 0 to 5, for example 3.65. One-click "
           "setup sent nothing.";
}

void TestDispatcher::oneClickRefusedWhole() {
    // Good fields before and after the bad one in form order: the list is sent whole or not at
    // all, and every mark stays for the retry.
    QFETCH(bool, toAll);
    QFETCH(int, bad);
    QFETCH(QString, text);
    QFETCH(QString, tip);
    pretendConnected();
    landHomeBlock(2);
    ui->editField(8)->setPlainText(QStringLiteral("80"));
    ui->editField(bad)->setPlainText(text);
    ui->editField(30)->setPlainText(QStringLiteral("3.65"));
    answerer->answer(QStringLiteral("OK"));
    click(toAll ? ui->one_key_set_muti_batt_btn : ui->one_key_set_btn);
    QVERIFY(answerer->seen.seen);
    QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
    QCOMPARE(answerer->seen.text, tip);
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(writeListCount), 0);
    for (int n : {8, bad, 30})
        QVERIFY2(paramEdited[n] == 1, qPrintable(QString::number(n)));
    QCOMPARE(ui->editField(bad)->toPlainText(), text);
}

void TestDispatcher::disconnectedRefused_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("Set of parameter 24") << "W_Addr24_btn";
    QTest::newRow("One-click setup") << "one_key_set_btn";
    QTest::newRow("One-click setup muti batt") << "one_key_set_muti_batt_btn";
    QTest::newRow("Restore Factory") << "W_Addr81_btn";
    QTest::newRow("Forced Relay Close") << "W_Addr82_btn";
    QTest::newRow("System ShutDown") << "W_Addr83_btn";
}

void TestDispatcher::disconnectedRefused() {
    // Nothing waits for a later Connect: the press is refused before anything is staged or
    // confirmed, and the edited marks stay.
    QFETCH(QString, button);
    setComConfigured(true);
    landHomeBlock(2);
    ui->editField(24)->setPlainText(QStringLiteral("3.65"));
    stageSentinel();
    answerer->answer(QStringLiteral("Yes"));
    click(window->findChild<QPushButton *>(button));
    QVERIFY(answerer->seen.seen);
    QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
    QCOMPARE(answerer->seen.text, kNotConnected);
    QVERIFY(!dispatcher->confirmationBox());
    QCOMPARE(int(takeStagedWrite().start), 999);
    QCOMPARE(int(linkOp), 0);
    QCOMPARE(int(writePending), 0);
    QCOMPARE(int(writeListCount), 0);
    QCOMPARE(int(paramEdited[24]), 1);
}

void TestDispatcher::exportOpensSaveDialog() {
    answerer->answer(QString());
    click(ui->ExportFault_btn);
    QVERIFY(answerer->seen.seen);
    QVERIFY(qobject_cast<QFileDialog *>(answerer->seen.widget.data()) ||
            answerer->seen.className == QLatin1String("QFileDialog"));
}

void TestDispatcher::unknownSenderIgnored() {
    stageSentinel();
    dispatcher->dispatch(nullptr);
    dispatcher->dispatch(ui->stackedWidget);
    QPushButton stray(QStringLiteral("W_Addr24_btn"));
    stray.setObjectName(QStringLiteral("W_Addr24_btn"));
    dispatcher->dispatch(&stray);
    QCOMPARE(int(takeStagedWrite().start), 999);
    QCOMPARE(int(linkOp), 0);
}

// ---- End to end: real worker, simulated controller --------------------------------------

void TestDispatcher::connectTwice() {
    sim = std::make_unique<PtySimulator>();
    QVERIFY(sim->start());
    configureSerial(sim->slavePath());

    click(ui->com_open_close_btn);
    QCOMPARE(ui->com_open_close_btn->text(), QStringLiteral("Disconnect"));
    QCOMPARE(int(portEnabled), 1);
    QCOMPARE(int(linkRunning), 1);
    QVERIFY(worker->isRunning());
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() > 0, 10000); // the Home block is polled

    click(ui->com_open_close_btn);
    QCOMPARE(ui->com_open_close_btn->text(), QStringLiteral("Connect"));
    QCOMPARE(int(portEnabled), 0);
    QCOMPARE(int(linkRunning), 0);
    QVERIFY(worker->isFinished());
}

void TestDispatcher::writeReachesReadBack() {
    sim = std::make_unique<PtySimulator>();
    QVERIFY(sim->start());
    sim->setFrozen(true);
    configureSerial(sim->slavePath());
    ui->tabWidget->setCurrentWidget(ui->Setting_tabWidget); // the Settings poll
    click(ui->com_open_close_btn);
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() > 0, 10000);

    QVERIFY(sim->reg(3, 0) != int16_t(3123));
    ui->editField(24)->setPlainText(QStringLiteral("3.123"));
    click(ui->writeButton(24));
    // The footer shows the outcome.
    QTRY_COMPARE_WITH_TIMEOUT(ui->statusText_label->text(), QStringLiteral("Setting Successful"),
                              5000);
    QCOMPARE(sim->reg(3, 0), int16_t(3123));
    // The next Settings cycle brings it back into the read-back field of parameter 24.
    QTRY_COMPARE_WITH_TIMEOUT(mirrorCell(3, 0), int16_t(3123), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(ui->readField(3, 0)->toPlainText(), QStringLiteral("3.123"), 5000);

    // The request on the wire: address 1, function 16, register 24, one register, 3123.
    bool found = false;
    for (const SimRequest &r : sim->requests())
        if (r.frame.left(9) == QByteArray::fromHex("011000180001020c33"))
            found = true;
    QVERIFY(found);
}

void TestDispatcher::oneClickToEveryAddress() {
    sim = std::make_unique<PtySimulator>();
    QVERIFY(sim->start());
    sim->setFrozen(true);
    sim->setAnswerAll(true);
    sim->setDeviceCount(3);
    configureSerial(sim->slavePath());
    deviceAddr = 1;
    // Home is on screen: block 2 carries the device count.
    click(ui->com_open_close_btn);
    QTRY_COMPARE_WITH_TIMEOUT(mirrorCell(2, 17) & 0xFF, 3, 10000);

    ui->editField(3)->setPlainText(QStringLiteral("30"));
    ui->editField(8)->setPlainText(QStringLiteral("80"));
    sim->clearRequests();
    click(ui->one_key_set_muti_batt_btn);
    QTRY_COMPARE_WITH_TIMEOUT(statusText(), QStringLiteral("Setting Successful"), 5000);

    // Each entry to every address in turn, in form order (8 before 3).
    const QList<QByteArray> expected = {
        QByteArray::fromHex("011000080001020050"), QByteArray::fromHex("01100003000102001e"),
        QByteArray::fromHex("021000080001020050"), QByteArray::fromHex("02100003000102001e"),
        QByteArray::fromHex("031000080001020050"), QByteArray::fromHex("03100003000102001e"),
    };
    auto writes = [this] {
        QList<QByteArray> out;
        for (const SimRequest &r : sim->requests())
            if (r.frame.size() > 1 && uint8_t(r.frame[1]) == 16)
                out << r.frame.left(9);
        return out;
    };
    QTRY_COMPARE_WITH_TIMEOUT(writes().size(), 6, 10000);
    QCOMPARE(writes(), expected);
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp), 0, 5000);
    QCOMPARE(int(deviceAddr), 1); // restored after the run
    QCOMPARE(int(writeListCount), 0);
}

void TestDispatcher::everyWriteButtonReachesController() {
    connectToSimulator();
    int params = 0;
    for (int n = 1; n <= 108; ++n) {
        QPushButton *button = ui->writeButton(n);
        QPlainTextEdit *edit = ui->editField(n);
        if (!button || !edit)
            continue;
        ++params;
        // 1 is within every field's range, switches (0/1) included.
        edit->setPlainText(n == 74 ? QStringLiteral("2024-03-05 07:08:09") : QStringLiteral("1"));
        sim->clearRequests();
        const int answered = sim->answerCount();
        click(button);
        QTRY_VERIFY2_WITH_TIMEOUT(!writeFrames().isEmpty() && sim->answerCount() > answered,
                                  qPrintable(QString::number(n)), 5000);
        const QByteArray frame = writeFrames().first();
        // Address 1, function 16, register n; byte count twice the register count.
        QCOMPARE(uint8_t(frame[0]), uint8_t(1));
        QCOMPARE((uint8_t(frame[2]) << 8) | uint8_t(frame[3]), n);
        const int count = (uint8_t(frame[4]) << 8) | uint8_t(frame[5]);
        QCOMPARE(int(uint8_t(frame[6])), 2 * count);
        QCOMPARE(frame.size(), 2 * count + 9);
    }
    QCOMPARE(params, 99);
}

void TestDispatcher::commandReachesController() {
    connectToSimulator();
    sim->clearRequests();
    answerer->answer(QStringLiteral("Yes"));
    click(ui->W_Addr82_btn);
    // Register 82 (0x52), one register, value 1.
    QTRY_VERIFY_WITH_TIMEOUT(!writeFrames().isEmpty(), 5000);
    QCOMPARE(writeFrames().first().left(9), QByteArray::fromHex("011000520001020001"));
    QTRY_COMPARE_WITH_TIMEOUT(ui->statusText_label->text(), QStringLiteral("Setting Successful"),
                              5000);
}

void TestDispatcher::setAddressReachesController() {
    connectToSimulator();
    sim->setAddress(5);
    ui->devaddrSetText->setPlainText(QStringLiteral("5"));
    click(ui->devaddrSet_btn);
    QCOMPARE(int(deviceAddr), 5);
    sim->clearRequests();
    const int answered = sim->answerCount();
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() > answered, 10000);
    const QList<SimRequest> requests = sim->requests();
    QVERIFY(!requests.isEmpty());
    QCOMPARE(uint8_t(requests.last().frame[0]), uint8_t(5));
}

void TestDispatcher::listQueuedDuringRunIsSent() {
    // The operator presses One-click setup while the list to every address is still being sent:
    // the new list must follow the running one, not be dropped when that run ends.
    sim = std::make_unique<PtySimulator>();
    QVERIFY(sim->start());
    sim->setFrozen(true);
    sim->setAnswerAll(true);
    sim->setDeviceCount(3);
    configureSerial(sim->slavePath());
    click(ui->com_open_close_btn);
    QTRY_COMPARE_WITH_TIMEOUT(mirrorCell(2, 17) & 0xFF, 3, 10000);
    SimFaults slow;
    slow.delayMs = 40; // six writes take a quarter of a second
    sim->setFaults(slow);

    ui->editField(3)->setPlainText(QStringLiteral("30"));
    ui->editField(8)->setPlainText(QStringLiteral("80"));
    sim->clearRequests();
    click(ui->one_key_set_muti_batt_btn);
    QTRY_VERIFY_WITH_TIMEOUT(!writeFrames().isEmpty(), 5000);
    ui->editField(5)->setPlainText(QStringLiteral("55"));
    click(ui->one_key_set_btn);

    QTRY_COMPARE_WITH_TIMEOUT(writeFrames().size(), 7, 10000);
    QList<QByteArray> heads;
    for (const QByteArray &frame : writeFrames())
        heads << frame.left(9);
    const QList<QByteArray> expected = {
        QByteArray::fromHex("011000080001020050"),
        QByteArray::fromHex("01100003000102001e"),
        QByteArray::fromHex("021000080001020050"),
        QByteArray::fromHex("02100003000102001e"),
        QByteArray::fromHex("031000080001020050"),
        QByteArray::fromHex("03100003000102001e"),
        // then the second list, to the address restored after the first run
        QByteArray::fromHex("011000050001020037"),
    };
    QCOMPARE(heads, expected);
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp), 0, 5000);
    QCOMPARE(int(writeListCount), 0);
}

void TestDispatcher::refusedInputSendsNothing() {
    connectToSimulator();
    sim->clearRequests();
    ui->editField(24)->setPlainText(QStringLiteral("3.6V"));
    answerer->answer(QStringLiteral("OK"));
    click(ui->writeButton(24));
    QVERIFY(answerer->seen.seen);
    ui->editField(28)->setPlainText(QStringLiteral("3.3"));
    ui->editField(29)->setPlainText(QStringLiteral("x"));
    answerer->answer(QStringLiteral("OK"));
    click(ui->one_key_set_btn);
    QVERIFY(answerer->seen.seen);
    // The link goes on polling; no write reaches the controller.
    const int answered = sim->answerCount();
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() >= answered + 2, 10000);
    QVERIFY(writeFrames().isEmpty());

    // Corrected, the list goes out whole, with 24 still marked from its refused Set, rounded
    // as the Set buttons round: 3.3 -> 3300.
    ui->editField(24)->setPlainText(QStringLiteral("3.5"));
    ui->editField(29)->setPlainText(QStringLiteral("3.4"));
    click(ui->one_key_set_btn);
    QTRY_COMPARE_WITH_TIMEOUT(writeFrames().size(), 3, 10000);
    QCOMPARE(writeFrames().at(0).left(9), QByteArray::fromHex("011000180001020dac")); // 24: 3500
    QCOMPARE(writeFrames().at(1).left(9), QByteArray::fromHex("0110001c0001020ce4")); // 28: 3300
    QCOMPARE(writeFrames().at(2).left(9), QByteArray::fromHex("0110001d0001020d48")); // 29: 3400
}

void TestDispatcher::nothingStagedBeforeConnectIsSent() {
    // System ShutDown pressed while disconnected is refused; and a write or list left staged by
    // a run that Disconnect cut short is dropped by the next Connect.
    setComConfigured(true);
    answerer->answer(QStringLiteral("Yes"));
    click(ui->W_Addr83_btn);
    QCOMPARE(answerer->seen.text, kNotConnected);
    stageCommand(83);
    WriteListEntry entry;
    entry.reg = 8;
    entry.count = 1;
    queueWriteList(&entry, 1, 2);

    connectToSimulator();
    QCOMPARE(int(writePending), 0);
    const int answered = sim->answerCount();
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() >= answered + 3, 10000);
    QVERIFY(writeFrames().isEmpty());
    QCOMPARE(sim->writtenRegister(83), uint16_t(0));

    // Confirmed while connected, it goes out.
    answerer->answer(QStringLiteral("Yes"));
    click(ui->W_Addr83_btn);
    QTRY_VERIFY_WITH_TIMEOUT(!writeFrames().isEmpty(), 5000);
    QCOMPARE(writeFrames().first().left(9), QByteArray::fromHex("011000530001020001"));
}

void TestDispatcher::setWhileListQueuedSendsEverything() {
    // Set of 30 pressed right after One-click setup queued 28 and 29, before or while the worker
    // sends the list: the list is not dropped, and 30 follows it.
    connectToSimulator();
    sim->clearRequests();
    ui->editField(28)->setPlainText(QStringLiteral("3.1"));
    ui->editField(29)->setPlainText(QStringLiteral("3.2"));
    click(ui->one_key_set_btn);
    ui->editField(30)->setPlainText(QStringLiteral("3.3"));
    click(ui->writeButton(30));
    QTRY_COMPARE_WITH_TIMEOUT(writeFrames().size(), 3, 10000);
    QList<QByteArray> heads;
    for (const QByteArray &frame : writeFrames())
        heads << frame.left(9);
    const QList<QByteArray> expected = {
        QByteArray::fromHex("0110001c0001020c1c"), // 28: 3100
        QByteArray::fromHex("0110001d0001020c80"), // 29: 3200
        QByteArray::fromHex("0110001e0001020ce4"), // 30: 3300
    };
    QCOMPARE(heads, expected);
    QTRY_COMPARE_WITH_TIMEOUT(int(linkOp), 0, 5000);
    QCOMPARE(int(writePending), 0);
}

void TestDispatcher::mutiBattWaitsForDeviceCount() {
    sim = std::make_unique<PtySimulator>();
    QVERIFY(sim->start());
    sim->setFrozen(true);
    sim->setAnswerAll(true);
    sim->setDeviceCount(2);
    configureSerial(sim->slavePath());
    // A count read on an earlier link does not count for this one.
    click(ui->com_open_close_btn);
    QTRY_COMPARE_WITH_TIMEOUT(mirrorCell(2, 17) & 0xFF, 2, 10000);
    click(ui->com_open_close_btn);
    ui->tabWidget->setCurrentWidget(ui->Setting_tabWidget);
    QTRY_COMPARE_WITH_TIMEOUT(pollMode.load(), 2, 5000);
    click(ui->com_open_close_btn);
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() > 0, 10000);

    ui->editField(3)->setPlainText(QStringLiteral("30"));
    sim->clearRequests();
    answerer->answer(QStringLiteral("OK"));
    click(ui->one_key_set_muti_batt_btn);
    QVERIFY(answerer->seen.seen);
    QCOMPARE(answerer->seen.title, QStringLiteral("tips"));
    QCOMPARE(answerer->seen.text, kDeviceCountUnknown);
    QCOMPARE(int(paramEdited[3]), 1);
    QCOMPARE(int(linkOp), 0);
    const int answered = sim->answerCount();
    QTRY_VERIFY_WITH_TIMEOUT(sim->answerCount() >= answered + 2, 10000);
    QVERIFY(writeFrames().isEmpty());

    // Home shown and read on this link: the list goes to both devices.
    const uint32_t homeReads = blockLandings(2);
    ui->tabWidget->setCurrentWidget(ui->Host_tabWidget);
    QTRY_VERIFY_WITH_TIMEOUT(blockLandings(2) != homeReads, 10000);
    click(ui->one_key_set_muti_batt_btn);
    QTRY_COMPARE_WITH_TIMEOUT(writeFrames().size(), 2, 10000);
    QCOMPARE(writeFrames().at(0).left(9), QByteArray::fromHex("01100003000102001e"));
    QCOMPARE(writeFrames().at(1).left(9), QByteArray::fromHex("02100003000102001e"));
    QCOMPARE(int(paramEdited[3]), 0);
}

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    TestDispatcher test;
    const int rc = QTest::qExec(&test, argc, argv);
    // Timer ids come from a process-wide free list inside Qt; the tick and link threads write
    // into it with atomics ThreadSanitizer cannot see, and the list is freed by an exit handler
    // on this thread, which it would report as a race. The test is over: leave without running
    // exit handlers.
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(rc);
}

#include "tst_dispatcher.moc"
