#pragma once
// Why a write failed, in the operating system's words.

#include <QString>

class QFileDevice;
class QSaveFile;

// The reason the last write, flush or commit on file failed: Qt's own text where it has one,
// else the system's (errno). A write the system cuts short (part of the data written, then
// "No space left on device" or "File too large") leaves Qt with no error of its own, and it
// would say "Unknown error". Call it right after the failing call, before anything else can
// change errno.
QString writeErrorReason(const QFileDevice &file);

// Commits file (open, written) and tells whether all of it reached the disk, with the reason
// in *error when not. The data still in the file's buffer is flushed first and checked: a
// commit alone publishes a file whose last write was cut short as complete.
bool commitSaveFile(QSaveFile &file, QString *error);
