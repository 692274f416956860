#pragma once
// Locking a project to its firmware: the SHA-256 written into the project file where it stands,
// every other byte of the file (comments, order, blank lines, line ends) kept, since a TOML
// writer would drop the comments.

#include "line/Project.h"

#include <optional>
#include <string>

// The text of project (read with ProjectRead::Lock) with firmware.sha256 set to digest: the value
// replaced where it stands, or a line added after firmware.file. None, with why, when the result
// would not read back as the project locked to digest.
std::optional<std::string> LockedProjectText(const std::string& text, const Project& project,
                                             const std::string& digest, std::string& why);
