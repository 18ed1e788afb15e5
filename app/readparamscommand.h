#pragma once
// vaduz --read-params FILE (--port PATH [--baud N] | --tcp HOST[:PORT] [--framing mbap|rtu])
// [--address N]: reads the controller's parameter set into FILE without a window or a display,
// and exits.

#include <optional>

constexpr int kReadParamsDone = 0;
constexpr int kReadParamsFailed = 1;     // no answer, or the file could not be written
constexpr int kReadParamsUsageError = 2; // a bad command line

// When the command line asks for it (--read-params among the arguments): reads, writes the
// file and returns the exit status; otherwise returns nothing. Call before any QApplication.
std::optional<int> runReadParamsCommand(int argc, char **argv);
