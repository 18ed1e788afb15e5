#pragma once
// The simulated controller behind a serial-to-Ethernet gateway: a TCP server on the loopback
// address, on a thread of its own, that speaks Modbus TCP (MBAP header, unit identifier =
// device address) or passes RTU frames through unchanged, CRC included, as a transparent
// gateway does. The same controller and misbehaviour as on the pseudo-terminal, and a gateway
// that drops the connection.

#include "simfaults.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

class TcpSimulator {
public:
    enum class Framing { Mbap, Rtu };

    TcpSimulator();
    ~TcpSimulator(); // stops the thread and closes every connection

    // Listens on 127.0.0.1 at port (0: a free port the system picks). False, with
    // errorString(), when it cannot.
    bool start(uint16_t port = 0, Framing framing = Framing::Mbap);
    void stop();
    bool isRunning() const;
    uint16_t port() const;
    Framing framing() const;
    QString errorString() const;

    void setAddress(uint8_t addr);
    void setAnswerAll(bool all);
    void setDistinct(bool distinct);
    void setDeviceCount(uint8_t n);
    void setBadRequestReply(bool exception);
    void setFrozen(bool frozen);
    // Misbehaviour: delay, silent, dropEvery, split, wrongAddr, exception, shortBy, oversizeTo as
    // on the line. Garbage: over RTU corruptCrc and strayByte as on the line; over Modbus TCP
    // corruptCrc answers with another transaction identifier and strayByte puts a byte in
    // front of the answer. hangUp: the connection is closed at the next request, unanswered.
    void setFaults(const SimFaults &faults);
    // Every k-th request of a connection (k > 0) closes it unanswered; 0: never.
    void setDropConnectionEvery(int k);

    int16_t reg(int block, int reg) const;
    void setReg(int block, int reg, int16_t value);
    uint16_t writtenRegister(int n) const;

    // Every request the controller was given, as an RTU frame (address or unit identifier,
    // function and data, CRC), in order; the latest 10000.
    QList<QByteArray> requests() const;
    void clearRequests();
    int requestCount() const;
    int answerCount() const;
    int connectionCount() const; // connections accepted since start()

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
