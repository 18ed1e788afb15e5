#pragma once
// "Find devices": scans the port chosen in the serial settings window for controllers, at the
// baud rates and over the address range the operator picks, shows how long that takes, where
// the scan stands and what it has found (stopping at the first when asked; the rate the link
// last used is tried first, and the ticks are kept for the next scan), and hands a found
// address and rate back to the settings window with one click. Modal for the whole program, so that
// nothing connects the link while the scan holds the port; refused while the link is connected.

#include "devicescan.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

class ScanDialog : public QDialog {
    Q_OBJECT
public:
    // portEntry: the settings window's port entry ("name:description"); the framing as chosen
    // there (data bits, parity code 0/1/2, stop bits); rates: the rates it offers.
    ScanDialog(const QString &portEntry, int dataBits, int checkBit, float stopBits,
               const QList<int> &rates, QWidget *parent = nullptr);
    // Stops a scan in progress and waits for its thread (at most one address).
    ~ScanDialog() override;

    // The plan the form describes now.
    ScanPlan plan() const;

signals:
    // The operator took a found device: its address and baud rate.
    void deviceChosen(int address, int baud);

public slots:
    void startScan();
    void stopScan();
    // Close and Escape: a scan in progress is stopped first.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void updateState();
    void updateEstimate();
    void addFound(const ScanHit &hit);
    void showProgress(int address, int baud, int done, int total, int found);
    void finish(DeviceScan::Outcome outcome, const QString &detail);
    void setNote(const QString &text);

    QString portName_;
    int dataBits_ = 8;
    int checkBit_ = 0;
    float stopBits_ = 1.0f;
    int foundCount_ = 0;

    QList<QCheckBox *> rateBoxes_;
    QSpinBox *firstSpin_ = nullptr;
    QSpinBox *lastSpin_ = nullptr;
    QCheckBox *stopAtFirstBox_ = nullptr;
    QLabel *estimateLabel_ = nullptr;
    QLabel *noteLabel_ = nullptr;
    QLabel *statusLabel_ = nullptr;
    QProgressBar *progress_ = nullptr;
    QTableWidget *results_ = nullptr;
    QPushButton *startButton_ = nullptr;
    QPushButton *stopButton_ = nullptr;
    QPushButton *closeButton_ = nullptr;

    DeviceScan scan_;
};
