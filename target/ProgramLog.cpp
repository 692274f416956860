#include "target/ProgramLog.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool ProgramLogUsable() {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(ProgramLogName, error);
    if (status.type() == fs::file_type::not_found) {
        return PathWritable(".");
    }
    if (error || status.type() != fs::file_type::regular) {
        return false;
    }
    return fs::hard_link_count(ProgramLogName, error) == 1 && !error &&
           PathWritable(ProgramLogName);
}

std::FILE* CreateProgramLog() {
    return ProgramLogUsable() ? OpenProgramLogFile(true) : nullptr;
}

std::FILE* ExtendProgramLog() {
    return ProgramLogUsable() ? OpenProgramLogFile(false) : nullptr;
}
