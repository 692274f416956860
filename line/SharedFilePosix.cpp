#include "line/SharedFile.h"

#include <cerrno>
#include <csignal>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool SyncFolderOf(const std::string& path) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const int fd = open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

} // namespace

struct FileLock::Handle {
    int Fd = -1;
};

FileLock::FileLock(const std::string& path) : handle_(std::make_unique<Handle>()) {
    // Not inherited, so a board's child never holds its parent's lock.
    handle_->Fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (handle_->Fd < 0) {
        return;
    }
    int locked = -1;
    do {
        locked = flock(handle_->Fd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        close(handle_->Fd);
        handle_->Fd = -1;
    }
}

FileLock::~FileLock() {
    if (handle_->Fd >= 0) {
        close(handle_->Fd); // lets the lock go
    }
}

bool FileLock::Ok() const {
    return handle_->Fd >= 0;
}

bool ReplaceFileDurably(const std::string& path, const std::string& text) {
    const std::string fresh = path + ".new";
    const int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    const bool whole = written == text.size() && fsync(fd) == 0;
    if (close(fd) != 0 || !whole || rename(fresh.c_str(), path.c_str()) != 0) {
        unlink(fresh.c_str());
        return false;
    }
    return SyncFolderOf(path);
}

long long OwnProcessId() {
    return getpid();
}

bool ProcessRunning(long long pid) {
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
