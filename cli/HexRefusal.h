#pragma once
// The file check every command that sends a HEX file's rows makes before any board is touched.

#include "cli/HexCheck.h"

#include <string>

// Reads file as the programmer would into check; prints why and returns ExitStatus::File when
// the file is unreadable, holds a record the programmer would stop on, or holds records it
// would never reach. ExitStatus::Success otherwise.
int RefuseUnfitFile(const std::string& file, HexCheck& check);
