#include "readparamscommand.h"

#include "auditlog.h"
#include "linksession.h"
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
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this text."));
    parser.addOptions({fileOption, helpOption});
    const LinkOptionSet linkOptions;
    linkOptions.addTo(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText(), parser);
    if (parser.isSet(helpOption)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return kReadParamsDone;
    }
    const QString path = parser.value(fileOption);
    LinkOptions link;
    QString linkError;
    if (!linkOptions.read(parser, &link, &linkError))
        return usageError(linkError, parser);
    if (path.isEmpty() || (link.ports.isEmpty() && !link.network()))
        return usageError(
            QStringLiteral("--read-params needs FILE and --port PATH or --tcp HOST[:PORT]"), parser);
    const uint8_t address = link.address != 0 ? static_cast<uint8_t>(link.address) : 1;

    // Only what the command line gives: no remembered settings.
    SerialSettings s;
    s.checkBit = 0;
    s = settingsWithOptions(s, link);
    const QString target = linkTargetText(s);
    resetLinkState();

    LinkSession session;
    ParamReader reader;
    bool ok = false;
    QString error;
    QObject::connect(&reader, &ParamReader::finished, &app, [&](bool done, const QString &why) {
        ok = done;
        error = why;
        app.quit();
    });
    session.start(s);
    int status = kReadParamsFailed;
    if (reader.start(address)) {
        printErr(QStringLiteral("Reading the parameters of address %1 on %2 ...\n")
                     .arg(address)
                     .arg(target));
        app.exec();
        if (ok) {
            const ParamSet set = paramSetFromMirror(QStringLiteral(VADUZ_VERSION), target, address);
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
    session.stop();
    stopProcessTick();
    return status;
}
