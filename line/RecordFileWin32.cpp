#include "line/RecordFile.h"

#include <windows.h>

#include <system_error>

struct RecordFile::Handle {
    HANDLE File = INVALID_HANDLE_VALUE;
    std::string Path;
    std::string Error;
};

namespace {

std::string LastErrorText() {
    return std::system_category().message(static_cast<int>(GetLastError()));
}

bool Identity(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
    return file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
}

} // namespace

RecordFile::RecordFile(const std::string& path) : handle_(std::make_unique<Handle>()) {
    handle_->Path = path;
    // Append-only access makes every write land at the end, also with other writers.
    handle_->File = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_->File == INVALID_HANDLE_VALUE) {
        handle_->Error = LastErrorText();
    }
}

RecordFile::~RecordFile() {
    if (handle_->File != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_->File);
    }
}

bool RecordFile::Ok() const {
    return handle_->File != INVALID_HANDLE_VALUE;
}

bool RecordFile::Append(const std::string& line) {
    const std::string whole = line + "\n";
    DWORD written = 0;
    if (!WriteFile(handle_->File, whole.data(), static_cast<DWORD>(whole.size()), &written,
                   nullptr)) {
        handle_->Error = LastErrorText();
        return false;
    }
    if (written != whole.size()) {
        handle_->Error = "only part of the line was written";
        return false;
    }
    return true;
}

const std::string& RecordFile::Error() const {
    return handle_->Error;
}

bool RecordFile::IsFile(const std::string& path) const {
    // Opened for no access at all: only its identity is read, also of a file another holds.
    const HANDLE other =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION mine{};
    BY_HANDLE_FILE_INFORMATION theirs{};
    const bool same = Identity(handle_->File, mine) && Identity(other, theirs) &&
                      mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber &&
                      mine.nFileIndexHigh == theirs.nFileIndexHigh &&
                      mine.nFileIndexLow == theirs.nFileIndexLow;
    if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
    }
    return same;
}

std::uint64_t RecordFile::Size() const {
    LARGE_INTEGER size{};
    return Ok() && GetFileSizeEx(handle_->File, &size) ? static_cast<std::uint64_t>(size.QuadPart)
                                                       : 0;
}

bool RecordFile::ReadAfter(std::uint64_t from, std::string& text) const {
    const HANDLE file = CreateFileA(handle_->Path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Only a file on a disk is read back, as far as it reaches now.
    LARGE_INTEGER size{};
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(from);
    bool read = GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size) &&
                SetFilePointerEx(file, start, nullptr, FILE_BEGIN);
    text.clear();
    char buffer[65536];
    for (LONGLONG at = start.QuadPart; read && at < size.QuadPart;) {
        DWORD got = 0;
        read = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0 && got > 0;
        text.append(buffer, got);
        at += got;
    }
    CloseHandle(file);
    return read;
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}
