#include "target/ProgramLog.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;

bool Writable(const char* path) {
#ifdef _WIN32
    return _access(path, 2) == 0;
#else
    return access(path, W_OK) == 0;
#endif
}

} // namespace

bool ProgramLogUsable() {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(ProgramLogName, error);
    if (status.type() == fs::file_type::not_found) {
        return Writable(".");
    }
    if (error || status.type() != fs::file_type::regular) {
        return false;
    }
    return fs::hard_link_count(ProgramLogName, error) == 1 && !error && Writable(ProgramLogName);
}

namespace {

std::FILE* OpenProgramLog(bool afresh) {
    if (!ProgramLogUsable()) {
        return nullptr;
    }
#ifdef _WIN32
    // The Windows C library buffers "line-buffered" files fully: unbuffered is how a line gets
    // there before the next request.
    std::FILE* file = std::fopen(ProgramLogName, afresh ? "w" : "a");
    if (file != nullptr) {
        std::setvbuf(file, nullptr, _IONBF, 0);
    }
    return file;
#else
    // The check above and the open are apart: the open itself refuses a link and does not wait
    // for a FIFO's reader, and what it opened is judged before anything is truncated.
    const int fd = open(ProgramLogName,
                        O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                            (afresh ? 0 : O_APPEND),
                        0666);
    if (fd < 0) {
        return nullptr;
    }
    struct stat entry {};
    if (fstat(fd, &entry) != 0 || !S_ISREG(entry.st_mode) || entry.st_nlink != 1 ||
        (afresh && ftruncate(fd, 0) != 0)) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, afresh ? "w" : "a");
    if (file == nullptr) {
        close(fd);
    } else {
        std::setvbuf(file, nullptr, _IOLBF, BUFSIZ);
    }
    return file;
#endif
}

} // namespace

std::FILE* CreateProgramLog() {
    return OpenProgramLog(true);
}

std::FILE* ExtendProgramLog() {
    return OpenProgramLog(false);
}
