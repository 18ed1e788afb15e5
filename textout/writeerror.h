#pragma once
// Why a write failed, in the operating system's words.

#include <QString>

class QFileDevice;

// The reason the last write, flush or commit on file failed: Qt's own text where it has one,
// else the system's (errno). A write the system cuts short (part of the data written, then
// "No space left on device" or "File too large") leaves Qt with no error of its own, and it
// would say "Unknown error". Call it right after the failing call, before anything else can
// change errno.
QString writeErrorReason(const QFileDevice &file);
