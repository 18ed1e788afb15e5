#pragma once
// The link's port on a serial line: a QSerialPort set to one SerialLine. The one place where
// the line settings are mapped onto the port, and where its errors are told apart (a device
// that went away is lost; a modem-control setting a line refuses is not).

#include "linesettings.h"
#include "linkport.h"

#include <QSerialPort>

#include <memory>

class SerialLinePort : public LinkPort {
public:
    // portName: the port's own name ("/dev/ttyUSB0", "COM3"), no description.
    SerialLinePort(const QString &portName, const SerialLine &line);
    ~SerialLinePort() override;

    bool open(QString *reason) override;
    void close() override;
    bool isOpen() const override;
    bool write(const uint8_t *bytes, int length, int64_t deadlineUs) override;
    int readAvailable(QByteArray &into) override;
    bool waitForBytes(int64_t deadlineUs) override;
    void discardInput() override;
    void discardOutput() override;
    bool lost() const override { return lost_; }
    QString errorText() const override;
    QString description() const override;
    int64_t nowUs() const override;

    // Another baud rate on the open port (the device scan's passes); false when refused.
    bool setBaudRate(int baud);
    const SerialLine &line() const { return line_; }

private:
    void handleError(QSerialPort::SerialPortError error);

    std::unique_ptr<QSerialPort> port_;
    SerialLine line_;
    bool lost_ = false;
};

// Sets port to line (baud rate in both directions, data bits, parity, stop bits).
void applySerialLine(QSerialPort &port, const SerialLine &line);
// Why port did not open, in words an operator can act on.
QString openFailureReason(const QSerialPort &port);
