#pragma once
// The terminal a station runs in: the operator's keys as they are pressed (no echo, no line
// editing, Ctrl-C still a signal), and the size and colours of the screen. One file per platform.

#include <cstdio>
#include <memory>

class StationKeys {
public:
    // Takes keys from standard input: a console one key at a time until the object goes, a pipe
    // or a file as its bytes come.
    StationKeys();
    ~StationKeys();
    StationKeys(const StationKeys&) = delete;
    StationKeys& operator=(const StationKeys&) = delete;

    // The next key within timeoutMs, or 0 when none came (or the input has ended). Enter comes as
    // '\n'.
    char Next(int timeoutMs);

    struct State;

private:
    std::unique_ptr<State> state_;
};

// Columns and rows of the console out writes to; 80 x 24 when it cannot be told.
void ConsoleSize(std::FILE* out, int& columns, int& rows);

// Whether the console out writes to shows colours (and NO_COLOR is not set).
bool ConsoleColours(std::FILE* out);
