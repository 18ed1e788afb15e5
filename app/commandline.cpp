#include "commandline.h"

#include "buswindow.h"
#include "serialsettings.h"

#include <QCommandLineParser>

#ifndef VADUZ_VERSION
#define VADUZ_VERSION "0"
#endif

namespace {

// Qt's own options, which QApplication takes from the command line itself.
const char *const kQtOptionsWithValue[] = {"platform", "platformpluginpath", "platformtheme",
                                           "plugin",   "qwindowgeometry",    "qwindowtitle",
                                           "qwindowicon", "style",           "stylesheet",
                                           "session",  "display",            "geometry",
                                           "name",     "title",              "qmljsdebugger"};
const char *const kQtFlags[] = {"reverse", "nograb", "dograb", "sync", "widgetcount",
                                "testability"};

// The option's name when arg is one of Qt's options ("-style", "--style=fusion"), else "".
QString qtOptionName(const QString &arg, bool *withValue, bool *valueAttached) {
    if (!arg.startsWith(QLatin1Char('-')))
        return QString();
    QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    *valueAttached = name.contains(QLatin1Char('='));
    name = name.section(QLatin1Char('='), 0, 0);
    for (const char *o : kQtOptionsWithValue)
        if (name == QLatin1String(o)) {
            *withValue = true;
            return name;
        }
    for (const char *o : kQtFlags)
        if (name == QLatin1String(o)) {
            *withValue = false;
            return name;
        }
    return QString();
}

} // namespace

QString versionLine() {
    return QStringLiteral("vaduz %1").arg(QLatin1String(VADUZ_VERSION));
}

CommandLine parseCommandLine(const QStringList &args) {
    CommandLine cl;
    QStringList ours;
    for (int i = 0; i < args.size(); ++i) {
        bool withValue = false;
        bool attached = false;
        if (i > 0 && !qtOptionName(args.at(i), &withValue, &attached).isEmpty()) {
            cl.qtArgs << args.at(i);
            if (withValue && !attached && i + 1 < args.size())
                cl.qtArgs << args.at(++i);
            continue;
        }
        (i == 0 ? cl.qtArgs : ours) << args.at(i);
    }
    if (cl.qtArgs.isEmpty())
        cl.qtArgs << QStringLiteral("vaduz");
    // --bus takes its range only when one follows: "--bus" alone and "--bus 1-8" both work.
    for (int i = 0; i < ours.size(); ++i)
        if (ours.at(i) == QLatin1String("--bus") || ours.at(i) == QLatin1String("-bus")) {
            const bool range = i + 1 < ours.size() && !ours.at(i + 1).startsWith(QLatin1Char('-'));
            ours[i] = QStringLiteral("--bus=") + (range ? ours.takeAt(i + 1) : QString());
        }
    ours.prepend(cl.qtArgs.first());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Host tool for stacked battery systems: shows and sets a battery "
                       "management controller over a serial line."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the program's version and exit."));
    const QCommandLineOption simulator(
        QStringLiteral("simulator"),
        QStringLiteral("Start the built-in simulated controller and offer (and select) its port."));
    const QCommandLineOption connect(
        QStringLiteral("connect"),
        QStringLiteral("Connect at start with the given or remembered settings."));
    const QCommandLineOption bus(
        QStringLiteral("bus"),
        QStringLiteral("Open the Bus window at start: every controller at once (optionally these "
                       "addresses, e.g. 1-8)."),
        QStringLiteral("first-last"));
    const QCommandLineOption verbose(
        QStringLiteral("verbose"),
        QStringLiteral("Log the link's port events and every frame on the terminal."));
    const QCommandLineOption record(
        QStringLiteral("record"),
        QStringLiteral("Record the pages shown into CSV files in this folder from the start."),
        QStringLiteral("folder"));
    const QCommandLineOption recordFormat(
        QStringLiteral("record-format"),
        QStringLiteral("The recording's separator: comma (decimal points) or semicolon (decimal "
                       "commas); by default what the system's locale uses."),
        QStringLiteral("comma|semicolon"));
    const LinkOptionSet linkOptions;
    QList<const QCommandLineOption *> listed{&help, &version};
    for (const QCommandLineOption &o : linkOptions.options())
        listed << &o;
    listed << &simulator << &connect << &bus << &verbose << &record << &recordFormat;
    for (const auto *o : listed)
        parser.addOption(*o);

    // Written out here: the parser's own help text needs an application object, and --help
    // must work before (and without) one.
    QString usage = QStringLiteral("Usage: vaduz [options]\n%1\n\nOptions:\n")
                        .arg(parser.applicationDescription());
    for (const auto *o : listed) {
        QStringList names;
        for (const QString &n : o->names())
            names << (n.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + n;
        QString left = names.join(QStringLiteral(", "));
        if (!o->valueName().isEmpty())
            left += QStringLiteral(" <%1>").arg(o->valueName());
        usage += QStringLiteral("  %1  %2\n").arg(left, -22).arg(o->description());
    }
    usage += QStringLiteral("\nvaduz --scan (--port <path> [--baud <rate>] | --tcp <host[:port]> "
                            "[--framing mbap|rtu]) [--addresses <first-last>]\n"
                            "  Find the controllers on a line, print them and exit (no display "
                            "needed; see vaduz --scan --help).\n");
    usage += QStringLiteral("\nvaduz --read-params <file> (--port <path> [--baud <rate>] | --tcp "
                            "<host[:port]> [--framing mbap|rtu]) [--address <n>]\n"
                            "  Read the controller's parameters into a parameter-set file and exit "
                            "(no display needed).\n");
    usage += QStringLiteral("\nQt's own options (-platform, -style, ...) are passed on to Qt.");
    auto fail = [&](const QString &message) {
        cl.action = CommandLine::Action::Error;
        cl.text = QStringLiteral("vaduz: %1\n\n%2").arg(message, usage);
        return cl;
    };
    if (!parser.parse(ours)) {
        if (parser.errorText().contains(QLatin1String("Missing value after '--port'")))
            return fail(QStringLiteral("--port needs a device path"));
        return fail(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument '%1'")
                        .arg(parser.positionalArguments().first()));
    if (parser.isSet(help)) {
        cl.action = CommandLine::Action::Help;
        cl.text = usage;
        return cl;
    }
    if (parser.isSet(version)) {
        cl.action = CommandLine::Action::Version;
        cl.text = versionLine();
        return cl;
    }
    cl.simulator = parser.isSet(simulator);
    QString linkError;
    if (!linkOptions.read(parser, &cl.link, &linkError))
        return fail(linkError);
    cl.connect = parser.isSet(connect);
    cl.bus = parser.isSet(bus);
    if (cl.bus && !parser.value(bus).isEmpty() &&
        !parseBusAddresses(parser.value(bus), &cl.busAddresses))
        return fail(QStringLiteral("--bus takes addresses from 1 to 247 such as 1-8, not '%1'")
                        .arg(parser.value(bus)));
    cl.verbose = parser.isSet(verbose);
    cl.recordFolder = parser.value(record);
    if (parser.isSet(record) && cl.recordFolder.trimmed().isEmpty())
        return fail(QStringLiteral("--record needs a folder"));
    if (parser.isSet(recordFormat) &&
        !parseRecordFormat(parser.value(recordFormat), &cl.recordFormat))
        return fail(QStringLiteral("--record-format takes comma or semicolon, not '%1'")
                        .arg(parser.value(recordFormat)));
    return cl;
}
