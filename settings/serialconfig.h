#pragma once
// The serial settings window: the operator picks the port, the line parameters and the device
// address, and "Setting" stores them in the serial settings record. The window never opens a
// port itself; the link worker reads the record when it opens one.

#include <QWidget>

// A port list entry without the mark of a remembered port that is not present.
QString portEntryName(const QString &entry);
// The port's own name in an entry ("/dev/ttyUSB0" of "/dev/ttyUSB0:USB Serial"), or the path
// or COM name typed.
QString portNameOf(const QString &entry);

namespace Ui {
class serialConfig;
}

class serialConfig : public QWidget
{
    Q_OBJECT
public:
    explicit serialConfig(QWidget *parent = nullptr);
    ~serialConfig() override;

    // Refills the port list from the system's serial ports (and the extra entries given on the
    // command line) when their number has changed since the last refresh, or always when
    // forced (the Refresh button). The port shown before stays shown.
    void refreshPortList(bool force = false);

    Ui::serialConfig *form() const { return ui; }
    // Puts an address into the address field (the remembered one at start).
    void showDeviceAddress(int addr);

public slots:
    // Re-selects the stored settings, once they have been set at least once.
    void showAlreadyComConfig();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void slotSerialConfigBtnClicked();

private:
    // "Find devices": scans the chosen port with the framing chosen here; a found device's
    // address and rate are taken into the form.
    void openScanDialog();
    // Shows the entry whose port is entry's, adding it (marked "(not present)" when it is gone)
    // when the list does not hold it.
    void selectPort(const QString &entry);
    // The list's entry for entry's port; -1 when it holds none.
    int portIndex(const QString &entry) const;
    // Serial: port and line fields; Network: host, TCP port and framing.
    void showLinkKind();

    Ui::serialConfig *ui = nullptr;
};
