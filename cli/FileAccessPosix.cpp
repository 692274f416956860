#include "cli/FileAccess.h"

#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

bool CanWriteLogFile(const char* name) {
    struct stat entry {};
    if (lstat(name, &entry) == 0) {
        return S_ISREG(entry.st_mode) && access(name, W_OK) == 0;
    }
    return errno == ENOENT && access(".", W_OK | X_OK) == 0;
}
