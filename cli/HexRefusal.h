#pragma once
// The file check every command that sends a HEX file's rows makes before any board is touched.

#include "target/HexCheck.h"

#include <string>

// Reads file as the programmer would into check; prints why, naming the file as name, and
// returns ExitStatus::File when the file is unreadable, holds a record the programmer would stop
// on or would never reach, asks for what no board can hold (two bytes for one address, data past
// program memory), or holds no data for a space that is written. ExitStatus::Success otherwise.
int RefuseUnfitFile(const std::string& file, const std::string& name, HexCheck& check);
