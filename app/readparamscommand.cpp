#include "readparamscommand.h"

#include "auditlog.h"
#include "battertstackthread.h"
#include "paramreader.h"
#include "paramset.h"
#include "registermirror.h"
#include "serialsettings.h"
#include "systick.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

void printErr(const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

int usageError(const QString &what, const QCommandLineParser &parser) {
    printErr(QStringLiteral("vaduz: %1\n\n%2").arg(what, parser.helpText()));
    return kReadParamsUsageError;
}

} // namespace

std::optional<int> runReadParamsCommand(int argc, char **argv) {
    bool wanted = false;
    for (int i = 1; i < argc && !wanted; ++i)
        wanted = std::strcmp(argv[i], "--read-params") == 0;
    if (!wanted)
        return std::nullopt;

    int appArgc = argc; // QCoreApplication keeps a reference to it
    QCoreApplication app(appArgc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the parameters the Settings pages show (and the controller's identity) from one\n"
        "controller into a parameter-set file (JSON). Only reads; needs no display.\n\n"
        "Exit status: 0 written, 1 no answer or the file could not be written, 2 usage error"));
    const QCommandLineOption fileOption(QStringLiteral("read-params"),
                                        QStringLiteral("Write the set to FILE."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("The serial port, e.g. /dev/ttyUSB0."),
                                        QStringLiteral("PATH"));
    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("The controller's address (default 1)."),
                                           QStringLiteral("N"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
                                        QStringLiteral("Baud rate (default 9600), 8N1."),
                                        QStringLiteral("N"));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this text."));
    parser.addOptions({fileOption, portOption, addressOption, baudOption, helpOption});
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText(), parser);
    if (parser.isSet(helpOption)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return kReadParamsDone;
    }
    const QString path = parser.value(fileOption);
    const QString port = parser.value(portOption);
    if (path.isEmpty() || port.isEmpty())
        return usageError(QStringLiteral("--read-params needs FILE and --port PATH"), parser);
    uint8_t address = 1;
    if (parser.isSet(addressOption) && !parseDeviceAddress(parser.value(addressOption), &address))
        return usageError(QStringLiteral("--address takes a whole number from 1 to 247"), parser);
    int baud = 9600;
    if (parser.isSet(baudOption)) {
        bool ok = false;
        baud = parser.value(baudOption).toInt(&ok);
        if (!ok || !offeredBaudRates().contains(baud))
            return usageError(QStringLiteral("--baud needs a baud rate, e.g. 9600"), parser);
    }

    SerialSettings s;
    s.comName = port + QStringLiteral(":Serial port");
    s.baudRate = baud;
    s.dataBits = 8;
    s.stopBits = 1.0f;
    s.checkBit = 0;
    s.comConfigured = true;
    setSerialSettings(s);
    resetLinkState();

    SysTimerThread tick;
    tick.start();
    Battert_Stack_Thread worker;
    ParamReader reader;
    bool ok = false;
    QString error;
    QObject::connect(&reader, &ParamReader::finished, &app, [&](bool done, const QString &why) {
        ok = done;
        error = why;
        app.quit();
    });
    worker.startLink(LinkSetup::serial(portNameOf(s), serialLineOf(s)));
    int status = kReadParamsFailed;
    if (reader.start(address)) {
        printErr(QStringLiteral("Reading the parameters of address %1 on %2 ...\n")
                     .arg(address)
                     .arg(port));
        app.exec();
        if (ok) {
            const ParamSet set = paramSetFromMirror(QStringLiteral(VADUZ_VERSION), port, address);
            if (saveParamSet(path, set, &error)) {
                printErr(QStringLiteral("%1 parameters written to %2.\n")
                             .arg(set.params.size())
                             .arg(path));
                status = kReadParamsDone;
            } else {
                printErr(QStringLiteral("vaduz: %1 could not be written: %2\n").arg(path, error));
            }
        } else {
            printErr(QStringLiteral("vaduz: %1\n").arg(error));
        }
    }
    worker.stopLink();
    tick.stop();
    return status;
}
