#include "line/SharedFile.h"

#include <windows.h>

struct FileLock::Handle {
    HANDLE File = INVALID_HANDLE_VALUE;
};

FileLock::FileLock(const std::string& path) : handle_(std::make_unique<Handle>()) {
    handle_->File = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_->File == INVALID_HANDLE_VALUE) {
        return;
    }
    OVERLAPPED whole{};
    if (!LockFileEx(handle_->File, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        CloseHandle(handle_->File);
        handle_->File = INVALID_HANDLE_VALUE;
    }
}

FileLock::~FileLock() {
    if (handle_->File != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_->File); // lets the lock go
    }
}

bool FileLock::Ok() const {
    return handle_->File != INVALID_HANDLE_VALUE;
}

bool ReplaceFileDurably(const std::string& path, const std::string& text) {
    const std::string fresh = path + ".new";
    HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    // The write-through move returns once the new name is on the disk.
    if (!whole || !MoveFileExA(fresh.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(fresh.c_str());
        return false;
    }
    return true;
}

long long OwnProcessId() {
    return static_cast<long long>(GetCurrentProcessId());
}

bool ProcessRunning(long long pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        // A process this user may not look at still runs.
        return GetLastError() == ERROR_ACCESS_DENIED;
    }
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}
