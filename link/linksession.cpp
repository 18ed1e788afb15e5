#include "linksession.h"

#include "systick.h"
#include "tcpport.h"

#include <QCommandLineParser>

LinkSetup linkSetupFor(const SerialSettings &settings) {
    if (settings.link == LinkKind::Network) {
        LinkSetup setup =
            networkLinkSetup(settings.host, settings.tcpPort,
                             settings.framing == NetFraming::Mbap ? NetFramingKind::Mbap
                                                                  : NetFramingKind::RtuOverTcp,
                             serialLineOf(settings));
        setup.name = linkTargetText(settings);
        return setup;
    }
    return LinkSetup::serial(portNameOf(settings), serialLineOf(settings));
}

// ---------------------------------------------------------------------------------------------

namespace {

const QString kPort = QStringLiteral("port");
const QString kTcp = QStringLiteral("tcp");
const QString kFraming = QStringLiteral("framing");
const QString kBaud = QStringLiteral("baud");
const QString kAddress = QStringLiteral("address");

const QList<int> kWindowRates = {9600, 19200, 38400, 57600, 115200};

} // namespace

LinkOptionSet::LinkOptionSet(int flags) : m_flags(flags) {
    m_options << QCommandLineOption(
        kPort,
        QStringLiteral("The serial port, e.g. /dev/ttyUSB0, also one the system does not list; "
                       "the last one given is used."),
        QStringLiteral("path"));
    m_options << QCommandLineOption(
        kTcp,
        QStringLiteral("Reach the controller through a serial-to-Ethernet gateway (TCP port 502 "
                       "when not given)."),
        QStringLiteral("host[:port]"));
    m_options << QCommandLineOption(
        kFraming, QStringLiteral("Over --tcp: mbap (Modbus TCP, the default) or rtu (RTU over TCP)."),
        QStringLiteral("mbap|rtu"));
    m_options << QCommandLineOption(
        kBaud,
        flags & AnyBaud ? QStringLiteral("Baud rate, e.g. 9600.")
                        : QStringLiteral("Baud rate: 9600, 19200, 38400, 57600 or 115200."),
        QStringLiteral("rate"));
    if (flags & Address)
        m_options << QCommandLineOption(kAddress, QStringLiteral("Device address, 1 to 247."),
                                        QStringLiteral("n"));
}

void LinkOptionSet::addTo(QCommandLineParser &parser) const {
    for (const QCommandLineOption &o : m_options)
        parser.addOption(o);
}

bool LinkOptionSet::read(const QCommandLineParser &parser, LinkOptions *out,
                         QString *error) const {
    LinkOptions o;
    o.ports = parser.values(kPort);
    for (const QString &p : o.ports)
        if (p.trimmed().isEmpty()) {
            *error = QStringLiteral("--port needs a device path");
            return false;
        }
    if (parser.isSet(kTcp)) {
        if (!o.ports.isEmpty()) {
            *error = QStringLiteral("give either --port or --tcp, not both");
            return false;
        }
        if (!parseHostPort(parser.value(kTcp), &o.tcpHost, &o.tcpPort)) {
            *error = QStringLiteral("--tcp takes HOST or HOST:PORT (port 1 to 65535), not '%1'")
                         .arg(parser.value(kTcp));
            return false;
        }
    }
    if (parser.isSet(kFraming)) {
        NetFraming f = NetFraming::Mbap;
        if (!parseFraming(parser.value(kFraming), &f)) {
            *error =
                QStringLiteral("--framing takes mbap or rtu, not '%1'").arg(parser.value(kFraming));
            return false;
        }
        o.framing = parser.value(kFraming).trimmed().toLower();
    }
    if (parser.isSet(kBaud)) {
        bool ok = false;
        o.baud = parser.value(kBaud).toInt(&ok);
        if (m_flags & AnyBaud) {
            if (!ok || o.baud < 50 || o.baud > 4000000) {
                *error = QStringLiteral("--baud needs a baud rate, e.g. 9600");
                return false;
            }
        } else if (!ok || !kWindowRates.contains(o.baud)) {
            *error = QStringLiteral("--baud takes 9600, 19200, 38400, 57600 or 115200, not '%1'")
                         .arg(parser.value(kBaud));
            return false;
        }
    }
    if ((m_flags & Address) && parser.isSet(kAddress)) {
        bool ok = false;
        o.address = parser.value(kAddress).toInt(&ok);
        if (!ok || o.address < 1 || o.address > 247) {
            *error = QStringLiteral("--address takes a whole number from 1 to 247, not '%1'")
                         .arg(parser.value(kAddress));
            return false;
        }
    }
    *out = o;
    return true;
}

SerialSettings settingsWithOptions(SerialSettings s, const LinkOptions &options) {
    if (!options.ports.isEmpty()) {
        s.comName = options.ports.last() + QStringLiteral(":Serial port");
        s.link = LinkKind::Serial;
    } else if (options.network()) {
        s.host = options.tcpHost;
        s.tcpPort = options.tcpPort;
        s.link = LinkKind::Network;
    }
    if (!options.framing.isEmpty())
        parseFraming(options.framing, &s.framing);
    if (options.baud != 0)
        s.baudRate = options.baud;
    if (s.baudRate == 0)
        s.baudRate = 9600;
    if (s.dataBits == 0)
        s.dataBits = 8;
    if (s.stopBits == 0.0f)
        s.stopBits = 1.0f;
    s.comConfigured = s.link == LinkKind::Network ? !s.host.isEmpty() : !s.comName.isEmpty();
    return s;
}

// ---------------------------------------------------------------------------------------------

LinkSession::LinkSession(QObject *parent)
    : QObject(parent), m_worker(std::make_unique<Battert_Stack_Thread>()) {}

LinkSession::~LinkSession() { stop(); }

void LinkSession::start(std::function<SerialSettings()> settings) {
    if (isRunning())
        return;
    startProcessTick();
    // Whatever a run cut short by Disconnect left staged is not sent on the new link.
    discardStagedRequests();
    m_worker->startLink([settings = std::move(settings)] { return linkSetupFor(settings()); });
    emit runningChanged(true);
}

void LinkSession::start(const SerialSettings &settings) {
    start([settings] { return settings; });
}

void LinkSession::stop() {
    const bool wasRunning = m_worker->isRunning();
    m_worker->stopLink();
    if (wasRunning)
        emit runningChanged(false);
}

bool LinkSession::isRunning() const { return m_worker->isRunning(); }
