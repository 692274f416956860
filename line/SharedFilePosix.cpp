#include "line/SharedFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

bool WriteWhole(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

enum class Named { Same, Other, Unknown };

// Whether fd is the file that path names now, another file or none (Other), or cannot be told.
Named FileAt(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) != 0) {
        return Named::Unknown;
    }
    if (stat(path.c_str(), &named) != 0) {
        return errno == ENOENT ? Named::Other : Named::Unknown;
    }
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino ? Named::Same : Named::Other;
}

// Links are followed at most this deep, as the system itself does.
constexpr int LinkDepth = 40;

std::string Resolved(const std::string& path, int depth) {
    if (char* real = realpath(path.c_str(), nullptr)) {
        std::string resolved = real;
        std::free(real);
        return resolved;
    }
    if (errno != ENOENT || depth == 0) {
        return {};
    }
    const std::filesystem::path name(path);
    std::error_code error;
    // A link to a file not made yet: the file is made where the link points.
    if (std::filesystem::is_symlink(name, error)) {
        const std::filesystem::path target = std::filesystem::read_symlink(name, error);
        return error ? std::string() : Resolved((name.parent_path() / target).string(), depth - 1);
    }
    const std::string folder = Resolved(name.has_parent_path() ? name.parent_path() : ".", depth);
    return folder.empty() ? folder : (std::filesystem::path(folder) / name.filename()).string();
}

} // namespace

struct FileLock::Handle {
    int Fd = -1;
};

FileLock::FileLock(const std::string& path, bool create) : handle_(std::make_unique<Handle>()) {
    for (;;) {
        // Not inherited, so a board's child never holds its parent's lock. Read only: a user who
        // may only read the file may still wait for its writers.
        handle_->Fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (create ? O_CREAT : 0), 0644);
        if (handle_->Fd < 0) {
            return;
        }
        int locked = -1;
        do {
            locked = flock(handle_->Fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        const Named named = locked == 0 ? FileAt(handle_->Fd, path) : Named::Unknown;
        if (named == Named::Same) {
            return;
        }
        close(handle_->Fd);
        handle_->Fd = -1;
        // Deleted or replaced while this waited: another process may hold the lock on the file
        // now at path, so that one is locked instead.
        if (named == Named::Unknown) {
            return;
        }
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
    // A name of this writer's own: two writers never write into one new file.
    char unique[48];
    std::snprintf(unique, sizeof unique, ".%lld-%08x.new", static_cast<long long>(getpid()),
                  static_cast<unsigned>(std::random_device()()));
    const std::string fresh = path + unique;
    const int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const bool whole = WriteWhole(fd, text) && fsync(fd) == 0;
    if (close(fd) != 0 || !whole || rename(fresh.c_str(), path.c_str()) != 0) {
        unlink(fresh.c_str());
        return false;
    }
    return SyncFolderOf(path);
}

bool AppendDurably(const std::string& path, const std::string& text, std::uint64_t end) {
    const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    struct stat before {};
    if (fstat(fd, &before) != 0 || static_cast<std::uint64_t>(before.st_size) < end) {
        close(fd);
        return false;
    }
    const auto length = static_cast<off_t>(end);
    bool appended = (before.st_size == length || ftruncate(fd, length) == 0) &&
                    WriteWhole(fd, text) && fsync(fd) == 0;
    if (!appended && ftruncate(fd, length) == 0) {
        fsync(fd);
    }
    appended = close(fd) == 0 && appended;
    // A journal made by this append: its name must reach the disk too.
    return appended && (end > 0 || SyncFolderOf(path));
}

std::string ResolvedPath(const std::string& path) {
    return Resolved(path, LinkDepth);
}

long long OwnProcessId() {
    return getpid();
}

bool ProcessRunning(long long pid) {
    return pid > 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
