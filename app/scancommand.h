#pragma once
// vaduz --scan --port PATH [--baud N] [--addresses FIRST-LAST]: finds the controllers on a
// serial port from the command line, without a window or a display, and exits.

#include <optional>

// Exit statuses of a scan from the command line.
constexpr int kScanFound = 0;      // at least one controller answered
constexpr int kScanNoneFound = 1;  // no controller answered
constexpr int kScanUsageError = 2; // a bad command line, or a port that could not be used

// When the command line asks for a scan (--scan among the arguments): parses the scan's
// options, scans with a QCoreApplication of its own, prints one line per controller found on
// standard output ("address 17 at 19200 baud") and returns the exit status. Otherwise returns
// nothing and does nothing. Call it before any QApplication exists.
std::optional<int> runScanCommand(int argc, char **argv);
