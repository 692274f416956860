#include "cli/RecordFile.h"

#include <windows.h>

struct RecordFile::Handle {
    HANDLE File = INVALID_HANDLE_VALUE;
};

RecordFile::RecordFile(const std::string& path) : handle_(std::make_unique<Handle>()) {
    // Append-only access makes every write land at the end, also with other writers.
    handle_->File = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    return WriteFile(handle_->File, whole.data(), static_cast<DWORD>(whole.size()), &written,
                     nullptr) &&
           written == whole.size();
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}
