#pragma once
// The program's command line: what to do (run the window, print the usage or the version, or
// refuse) and the options that shape the run. Parsed before any window system is touched, so
// --help and --version work without a display; Qt's own options (-platform, -style, ...) are
// passed on to the application untouched.

#include "linksession.h"
#include "pagerecorder.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <cstdint>

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    QString text;          // Help: the usage; Version: the version line; Error: message + usage
    QStringList qtArgs;    // the program name and Qt's own options, for QApplication
    bool simulator = false;
    LinkOptions link;     // --port, --tcp, --framing, --baud, --address
    bool connect = false;
    bool bus = false;       // --bus: open the Bus window at start
    QVector<int> busAddresses; // --bus FIRST-LAST: its controllers (empty: as remembered)
    bool verbose = false;
    QString recordFolder;  // --record: record the pages shown into this folder from the start
    RecordFormat recordFormat = systemRecordFormat(); // --record-format
};

CommandLine parseCommandLine(const QStringList &args);

// "vaduz 1.2.0"
QString versionLine();
