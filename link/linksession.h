#pragma once
// A link session: from the serial settings record to a running link, without any window. The
// window's Connect, --connect, --read-params and a headless logger all start links through it:
// it starts the process tick, drops what an earlier link left staged, and runs the worker on the
// port or gateway the settings name. The settings-to-link mapping and the link options of the
// command line are written here once.

#include "battertstackthread.h"
#include "serialsettings.h"

#include <QCommandLineOption>
#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QCommandLineParser;

// The link the settings record names: its serial port and line, or its gateway and framing.
LinkSetup linkSetupFor(const SerialSettings &settings);

// ---------------------------------------------------------------------------------------------
// The link options every command line takes: --port, --baud, --tcp, --framing and --address.
struct LinkOptions {
    QStringList ports;    // --port, in order; the last one is the one to use
    QString tcpHost;      // --tcp HOST[:PORT]
    uint16_t tcpPort = 0; // 0: --tcp not given
    QString framing;      // --framing mbap|rtu, as given (lower case); empty: not given
    int baud = 0;         // 0: not given
    int address = 0;      // 0: not given
    bool network() const { return tcpPort != 0; }
    // Anything that names the link (a port, a gateway, a framing or a rate) was given.
    bool namesLink() const { return !ports.isEmpty() || network() || !framing.isEmpty() || baud; }
};

class LinkOptionSet {
public:
    enum Flag {
        Address = 1, // --address N
        AnyBaud = 2, // --baud takes any rate (a scan), not only the ones the window offers
    };
    explicit LinkOptionSet(int flags = Address);
    // The options, to add to a parser (or to list in a usage text).
    const QList<QCommandLineOption> &options() const { return m_options; }
    void addTo(QCommandLineParser &parser) const;
    // The options the parser found; false with what is wrong in plain words.
    bool read(const QCommandLineParser &parser, LinkOptions *out, QString *error) const;

private:
    int m_flags;
    QList<QCommandLineOption> m_options;
};

// base with the options on top: the port or the gateway, the framing and the rate; the line's
// framing is completed (8N1 at 9600 baud where nothing was set before).
SerialSettings settingsWithOptions(SerialSettings base, const LinkOptions &options);

// ---------------------------------------------------------------------------------------------
class LinkSession : public QObject {
    Q_OBJECT
public:
    explicit LinkSession(QObject *parent = nullptr);
    // Stops the link before the worker goes.
    ~LinkSession() override;

    Battert_Stack_Thread *worker() const { return m_worker.get(); }

    // Starts the link. settings is asked at every opening of the port, so settings changed while
    // connected take effect when the port is next opened.
    void start(std::function<SerialSettings()> settings);
    void start(const SerialSettings &settings);
    // Closes the port and joins the worker (within about one transaction).
    void stop();
    bool isRunning() const;

signals:
    void runningChanged(bool running);

private:
    std::unique_ptr<Battert_Stack_Thread> m_worker;
};
