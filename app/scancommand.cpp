#include "scancommand.h"

#include "devicescan.h"
#include "linksession.h"
#include "serialsettings.h"
#include "storedsettings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>
#include <cstring>

namespace {

const char kDescription[] =
    "Finds the controllers on a serial port, or behind a serial-to-Ethernet gateway (--tcp). At\n"
    "each baud rate, every address is asked for one\n"
    "register of block 2 (a read: nothing is written), and every address that answers is\n"
    "printed on a line of its own: \"address 17 at 19200 baud\", followed by \"(exception N)\"\n"
    "when it answered with an exception, or \"(answered late)\" when its answer came after the\n"
    "next address had been asked. Line framing: 8 data bits, no parity, 1 stop bit. A pass\n"
    "over 247 addresses on a silent line takes about 27 s at 9600 baud. The rate last used by\n"
    "the program is tried first. Through a gateway each unit identifier is asked once\n"
    "(\"unit 17 at 10.0.0.5:502\"), about 0.1 s each when none answers (a gateway's own\n"
    "exceptions 10 and 11 count as no answer). Where the scan stands is shown on standard\n"
    "error once a second. Needs no display.\n"
    "\n"
    "Exit status:\n"
    "  0  at least one controller answered\n"
    "  1  no controller answered\n"
    "  2  a usage error, or the port could not be opened or was lost";

void printErr(const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

int usageError(const QString &what, const QCommandLineParser &parser) {
    printErr(QStringLiteral("vaduz: %1\n\n%2").arg(what, parser.helpText()));
    return kScanUsageError;
}

// "17" or "16-18", within 1-247.
bool parseAddresses(const QString &text, int *first, int *last) {
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() > 2)
        return false;
    bool ok1 = false, ok2 = false;
    *first = parts.first().trimmed().toInt(&ok1);
    *last = parts.last().trimmed().toInt(&ok2);
    return ok1 && ok2 && *first >= kScanFirstAddress && *last <= kScanLastAddress &&
           *first <= *last;
}

QString rateList(const QList<int> &rates) {
    QStringList out;
    for (const int r : rates)
        out << QString::number(r);
    return out.join(QStringLiteral(", "));
}

} // namespace

std::optional<int> runScanCommand(int argc, char **argv) {
    bool wanted = false;
    for (int i = 1; i < argc && !wanted; ++i)
        wanted = std::strcmp(argv[i], "--scan") == 0;
    if (!wanted)
        return std::nullopt;

    int appArgc = argc; // QCoreApplication keeps a reference to it
    QCoreApplication app(appArgc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption scanOption(QStringLiteral("scan"),
                                        QStringLiteral("Scan the port for controllers."));
    const QCommandLineOption addressOption(
        QStringLiteral("addresses"), QStringLiteral("Scan these addresses only (default: 1-247)."),
        QStringLiteral("FIRST-LAST"));
    const QCommandLineOption firstOption(
        QStringLiteral("first"), QStringLiteral("Stop at the first controller that answers."));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this text."));
    parser.addOption(scanOption);
    const LinkOptionSet linkOptions(LinkOptionSet::AnyBaud);
    linkOptions.addTo(parser);
    parser.addOptions({addressOption, firstOption, helpOption});

    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText(), parser);
    if (parser.isSet(helpOption)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return kScanFound;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()),
            parser);

    LinkOptions link;
    QString linkError;
    if (!linkOptions.read(parser, &link, &linkError))
        return usageError(linkError, parser);
    ScanPlan plan;
    if (link.network()) {
        plan.host = link.tcpHost;
        plan.tcpPort = link.tcpPort;
        plan.framing = link.framing == QLatin1String("rtu") ? NetFramingKind::RtuOverTcp
                                                            : NetFramingKind::Mbap;
    } else if (link.ports.size() != 1) {
        return usageError(QStringLiteral("--scan needs one --port PATH or --tcp HOST[:PORT]"),
                          parser);
    } else {
        plan.portName = link.ports.first();
    }
    // The rate the program last used first: a controller is most likely still there.
    enableStoredSettings(true);
    plan.baudRates = link.baud != 0 ? QList<int>{link.baud} : rememberedRateFirst(offeredBaudRates());
    if (parser.isSet(addressOption) &&
        !parseAddresses(parser.value(addressOption), &plan.firstAddress, &plan.lastAddress))
        return usageError(QStringLiteral("--addresses needs FIRST-LAST within 1-247, e.g. 1-32"),
                          parser);

    const QString target =
        plan.network() ? QStringLiteral("%1:%2").arg(plan.host).arg(plan.tcpPort) : plan.portName;
    if (plan.network())
        printErr(QStringLiteral("Scanning %1 (%2), unit identifiers %3-%4 (about %5 s when none "
                                "answers).\n")
                     .arg(target, plan.framing == NetFramingKind::Mbap
                                      ? QStringLiteral("Modbus TCP")
                                      : QStringLiteral("RTU over TCP"))
                     .arg(plan.firstAddress)
                     .arg(plan.lastAddress)
                     .arg(scanPlanMicros(plan) / 1e6, 0, 'f', 1));
    else
        printErr(QStringLiteral("Scanning %1 at %2 baud, addresses %3-%4 (about %5 s on a silent "
                                "line).\n")
                     .arg(plan.portName, rateList(plan.baudRates))
                     .arg(plan.firstAddress)
                     .arg(plan.lastAddress)
                     .arg(scanPlanMicros(plan) / 1e6, 0, 'f', 1));

    DeviceScan scan;
    int found = 0;
    DeviceScan::Outcome outcome = DeviceScan::Completed;
    QString detail;
    // Where the scan stands, at most once a second: the first address at once, then the
    // address being asked when a second has passed since the last line.
    QElapsedTimer sinceProgress;
    QObject::connect(&scan, &DeviceScan::progress, &app,
                     [&sinceProgress, &target, &plan](int address, int baud, int done, int total,
                                                      int found) {
                         if (sinceProgress.isValid() && sinceProgress.elapsed() < 1000)
                             return;
                         sinceProgress.start();
                         // A gateway has no baud rate to report: it is named instead.
                         const QString where = plan.network()
                                                   ? QStringLiteral("%1, unit").arg(target)
                                                   : QStringLiteral("%1 baud, address").arg(baud);
                         printErr(QStringLiteral("Scanning: %1 %2 (%3 of %4 asked), "
                                                 "found so far: %5\n")
                                      .arg(where)
                                      .arg(address)
                                      .arg(done)
                                      .arg(total)
                                      .arg(found));
                     });
    const bool stopAtFirst = parser.isSet(firstOption);
    QObject::connect(&scan, &DeviceScan::deviceFound, &app,
                     [&, stopAtFirst](const ScanHit &hit) {
                         // Answers already on their way when the scan was stopped are not printed.
                         if (stopAtFirst && found > 0)
                             return;
                         QString line = plan.network()
                                            ? QStringLiteral("unit %1 at %2").arg(hit.address).arg(target)
                                            : QStringLiteral("address %1 at %2 baud")
                                                  .arg(hit.address)
                                                  .arg(hit.baud);
                         if (hit.exceptionCode)
                             line += QStringLiteral(" (exception %1)").arg(hit.exceptionCode);
                         if (hit.late)
                             line += QStringLiteral(" (answered late)");
                         std::printf("%s\n", line.toLocal8Bit().constData());
                         std::fflush(stdout);
                         ++found;
                         if (stopAtFirst)
                             scan.stopScan();
                     });
    QObject::connect(&scan, &DeviceScan::scanFinished, &app,
                     [&](DeviceScan::Outcome o, const QString &d) {
                         outcome = o;
                         detail = d;
                         app.quit();
                     });
    if (!scan.startScan(plan))
        return usageError(QStringLiteral("the scan could not start"), parser);
    app.exec();
    scan.wait();

    if (outcome == DeviceScan::PortFailed) {
        printErr(plan.network()
                     ? QStringLiteral("vaduz: %1\n").arg(detail)
                     : QStringLiteral("vaduz: %1 could not be used: %2\n").arg(target, detail));
        return kScanUsageError;
    }
    if (found == 0) {
        printErr(QStringLiteral("No controller answered.\n"));
        return kScanNoneFound;
    }
    printErr(QStringLiteral("Controllers found: %1.\n").arg(found));
    return kScanFound;
}
