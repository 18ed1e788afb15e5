#pragma once
// The port the link talks through: a serial line (serialport.h), a network socket, or a test's
// scripted fake on a virtual clock. A new port implements exactly these operations and leaves
// everything else to the transaction engine above it (framing, waits, retries, matching):
//  - open() and close(), open() giving a reason an operator can act on when it fails;
//  - write() the bytes of a request, waiting until they have left or a deadline passes;
//  - readAvailable() appends what has been received, waitForBytes() blocks until bytes are
//    there, the port is lost or a deadline passes (it must not return early without cause);
//  - discardInput() and discardOutput() drop what is pending in either direction;
//  - lost(): the device or the connection has gone; the link closes the port and reopens it;
//  - nowUs(): the port's monotonic clock, which every deadline is measured on;
//  - description() for the link monitor.
// All calls come from the one thread that runs the link; none blocks past its deadline.

#include <QByteArray>
#include <QString>

#include <cstdint>

class LinkPort {
public:
    virtual ~LinkPort() = default;

    // False, with *reason set ("No such port: /dev/ttyUSB0. Is the adapter plugged in?"), when
    // the port cannot be opened.
    virtual bool open(QString *reason) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Writes length bytes and waits until they have left the port, at most until deadlineUs.
    // False when they could not all be written in time; what was not sent is discarded, so it
    // cannot go out in front of the next request.
    virtual bool write(const uint8_t *bytes, int length, int64_t deadlineUs) = 0;
    // Appends the bytes received so far to into; returns how many.
    virtual int readAvailable(QByteArray &into) = 0;
    // Returns when bytes are available (true), or the port is lost or deadlineUs is reached.
    virtual bool waitForBytes(int64_t deadlineUs) = 0;
    virtual void discardInput() = 0;
    virtual void discardOutput() = 0;

    // The device has gone (adapter unplugged, peer closed the connection); errorText() says
    // how. Cleared by close().
    virtual bool lost() const = 0;
    virtual QString errorText() const = 0;

    // "/dev/ttyUSB0, 9600 8N1", "192.168.1.20:502, Modbus TCP"
    virtual QString description() const = 0;
    virtual int64_t nowUs() const = 0;
};
