#pragma once
// The programming log "temp.log" in the current folder. Whatever stands under its name may be
// replaced only when it is the log of an earlier run: a plain file with no other name. A link, a
// FIFO, a device or a second name of another file is refused, never written through.

#include <cstdio>

inline constexpr const char* ProgramLogName = "temp.log";

// Whether a run could create the log here now: the name is free in a folder that takes new
// files, or holds a writable plain file with a single link.
bool ProgramLogUsable();

// Creates the log afresh for writing, or returns null when it is refused or cannot be created.
// Opening never blocks, whatever stands under the name. Every line reaches the file as it ends,
// before the row's request goes out, so the log of a run killed at any point holds every row sent.
std::FILE* CreateProgramLog();

// Opens the log an earlier run of this job began, for adding rows at its end, under the same
// rules; null when it is refused or cannot be opened.
std::FILE* ExtendProgramLog();

// One file per platform: whether this user may write to path, and the log opened for writing,
// emptied when afresh, else for adding at its end; null when it cannot be. Each line reaches the
// file as it ends.
bool PathWritable(const char* path);
std::FILE* OpenProgramLogFile(bool afresh);
