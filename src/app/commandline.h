#pragma once

#include <cstdio>

// The client's command line, read before the application object exists: it
// needs neither a display nor the single-instance lock. Options of Qt itself
// (-style, -platform, ...) are left for QApplication.
namespace CommandLine {

// Answers --help and --version on `out` and returns the exit code (0); returns
// -1 when the program is to start as usual.
int handleInfoOptions(int argc, char **argv, std::FILE *out);

// After QApplication took its own options: whatever is left is not ours.
// Reports the first such argument on `err` and returns 2; -1 when none is left.
int rejectRemaining(int argc, char **argv, std::FILE *err);

} // namespace CommandLine
