#include "target/ProgramLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool PathWritable(const char* path) {
    return access(path, W_OK) == 0;
}

std::FILE* OpenProgramLogFile(bool afresh) {
    // The check before and the open are apart: the open itself refuses a link and does not wait
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
}
