#include "sim/PortLink.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool PointsAt(const std::string& path, const std::string& target) {
    std::vector<char> buffer(target.size() + 2);
    const ssize_t n = readlink(path.c_str(), buffer.data(), buffer.size());
    return n >= 0 && std::string(buffer.data(), static_cast<std::size_t>(n)) == target;
}

} // namespace

PortLink::~PortLink() {
    // Another board may have taken the name over meanwhile; its link stays.
    if (!path_.empty() && PointsAt(path_, target_)) {
        unlink(path_.c_str());
    }
}

bool PortLink::Create(const std::string& path, const std::string& target, std::string& error) {
    struct stat existing {};
    if (lstat(path.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode)) {
            error = path + " exists and is not a symbolic link";
            return false;
        }
        unlink(path.c_str());
    }
    if (symlink(target.c_str(), path.c_str()) != 0) {
        error = "cannot link " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}
