// vaduz-logger: records every listed controller of one line into files and publishes it to an
// MQTT broker, without a display. Runs until SIGTERM or SIGINT, then releases the port, syncs
// its files and leaves the broker with a clean "offline".

#include "loggerconfig.h"
#include "loggerservice.h"
#include "platform.h"
#include "systick.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

// Exit statuses: 0 a clean stop; 1 a part could not be started; 78 the configuration is wrong
// (systemd's unit does not restart on it).
constexpr int kExitFailed = 1;
constexpr int kExitConfig = 78;

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vaduz-logger"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VADUZ_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Records every listed controller of one line (serial port or gateway) into CSV files\n"
        "and publishes it to an MQTT broker, with Home Assistant discovery. No display.\n"
        "Options override the keys of the --config file."));
    parser.addHelpOption();
    parser.addVersionOption();
    const LoggerOptions options;
    options.addTo(parser);
    parser.process(app);

    LoggerConfig config;
    QStringList problems;
    const bool ok = options.read(parser, &config, &problems);
    for (const QString &p : problems)
        std::fprintf(stderr, "vaduz-logger: %s\n", p.toLocal8Bit().constData());
    if (!ok)
        return kExitConfig;
    if (parser.isSet(options.checkOption())) {
        std::printf("vaduz-logger: the configuration is good\n");
        return 0;
    }

    // Frames only when asked for: a service's log has one line per event.
    QLoggingCategory::setFilterRules(config.verbose
                                         ? QStringLiteral("vaduz.link.debug=true")
                                         : QStringLiteral("vaduz.*.debug=false\n"
                                                          "vaduz.link.frames.info=false"));
    const std::unique_ptr<QObject> signalHandling = quitOnTerminationSignals(&app);
    int status = 0;
    {
        LoggerService service(config);
        QString error;
        if (service.start(&error)) {
            app.exec();
            logLine(LogLevel::Info, QStringLiteral("Stopping"));
        } else {
            logLine(LogLevel::Error, QStringLiteral("Cannot start: %1").arg(error));
            status = kExitFailed;
        }
        service.stop();
    }
    stopProcessTick();
    return status;
}
