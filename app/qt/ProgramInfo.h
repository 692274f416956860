#pragma once
// --help and --version of the desktop program, answered before any window exists: they must
// work without a display (over ssh, and when the manual page is made at build time).

#include <optional>

// The exit status when the command line asked for help or the version, which has then been
// printed; nothing when the program should start as usual.
std::optional<int> AnswerProgramInfo(int argc, char* argv[]);
