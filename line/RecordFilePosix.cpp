#include "line/RecordFile.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct RecordFile::Handle {
    int Fd = -1;
    std::string Path;
    std::string Error;
};

namespace {

std::string Reason(int error) {
    return std::generic_category().message(error);
}

} // namespace

RecordFile::RecordFile(const std::string& path) : handle_(std::make_unique<Handle>()) {
    handle_->Path = path;
    // Not inherited: the children of a run on several boards never write it.
    handle_->Fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (handle_->Fd < 0) {
        handle_->Error = Reason(errno);
    }
}

RecordFile::~RecordFile() {
    if (handle_->Fd >= 0) {
        close(handle_->Fd);
    }
}

bool RecordFile::Ok() const {
    return handle_->Fd >= 0;
}

bool RecordFile::Append(const std::string& line) {
    const std::string whole = line + "\n";
    ssize_t written = -1;
    do {
        written = write(handle_->Fd, whole.data(), whole.size());
    } while (written < 0 && errno == EINTR);
    if (written < 0) {
        handle_->Error = Reason(errno);
    } else if (written != static_cast<ssize_t>(whole.size())) {
        handle_->Error = "only " + std::to_string(written) + " of " + std::to_string(whole.size()) +
                         " bytes were written";
    }
    return written == static_cast<ssize_t>(whole.size());
}

const std::string& RecordFile::Error() const {
    return handle_->Error;
}

bool RecordFile::IsFile(const std::string& path) const {
    struct stat mine {};
    struct stat other {};
    return handle_->Fd >= 0 && fstat(handle_->Fd, &mine) == 0 && stat(path.c_str(), &other) == 0 &&
           mine.st_dev == other.st_dev && mine.st_ino == other.st_ino;
}

std::uint64_t RecordFile::Size() const {
    struct stat info {};
    return handle_->Fd >= 0 && fstat(handle_->Fd, &info) == 0
               ? static_cast<std::uint64_t>(info.st_size)
               : 0;
}

bool RecordFile::ReadAfter(std::uint64_t from, std::string& text) const {
    const int fd = open(handle_->Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // Only a plain file is read back: a device such as /dev/full would give bytes for ever.
    struct stat info {};
    const bool plain = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    text.clear();
    char buffer[65536];
    auto at = static_cast<off_t>(from);
    while (plain && at < info.st_size) {
        const ssize_t got = pread(fd, buffer, sizeof buffer, at);
        if (got <= 0 && !(got < 0 && errno == EINTR)) {
            break;
        }
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
    }
    close(fd);
    return plain && at >= info.st_size;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}
