#pragma once
// What the program needs from the operating system beyond Qt, one function per need, with one
// implementation per platform (platform_unix.cpp, platform_win.cpp). Nothing else in the
// program includes a system header of its own.

#include <QObject>
#include <QString>

#include <memory>

class QCoreApplication;
class QFile;

// A termination request from outside (SIGTERM, SIGINT, SIGHUP; on Windows Ctrl+C, Ctrl+Break
// or the console closing) ends app's event loop like closing the window, so that the caller's
// normal teardown runs. The handling lasts as long as the returned object; null when it
// could not be set up. On POSIX, SIGPIPE is ignored from then on, so that a write to a vanished
// display or a closed socket fails instead of ending the process.
std::unique_ptr<QObject> quitOnTerminationSignals(QCoreApplication *app);

// Pushes file's written data (file is open) from the system's cache to the disk, so that a
// following rename never publishes a file whose data could still be lost. False with a reason
// in *error when the system reports a failure.
bool syncFileToDisk(QFile &file, QString *error);

// Bytes the serial device behind handle (an open QSerialPort's handle()) has received and holds
// for reading, asked without waiting for the driver to hand over bytes still on their way; -1
// when the system cannot tell.
int serialBytesQueued(qintptr handle);
