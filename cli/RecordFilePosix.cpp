#include "cli/RecordFile.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

struct RecordFile::Handle {
    int Fd = -1;
};

RecordFile::RecordFile(const std::string& path) : handle_(std::make_unique<Handle>()) {
    // Not inherited: the children of a run on several boards never write it.
    handle_->Fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
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
    return written == static_cast<ssize_t>(whole.size());
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}
