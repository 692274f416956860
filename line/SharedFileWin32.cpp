#include "line/SharedFile.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string_view>

namespace {

enum class Named { Same, Other, Unknown };

// Whether file is the one that path names now (same volume and file index), another file or
// none (Other), or cannot be told.
Named FileAt(HANDLE file, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION held{};
    if (!GetFileInformationByHandle(file, &held)) {
        return Named::Unknown;
    }
    // Opened for no access at all: only its identity is read.
    const HANDLE other =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND ? Named::Other : Named::Unknown;
    }
    BY_HANDLE_FILE_INFORMATION named{};
    const bool read = GetFileInformationByHandle(other, &named);
    CloseHandle(other);
    if (!read) {
        return Named::Unknown;
    }
    return held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
                   held.nFileIndexHigh == named.nFileIndexHigh &&
                   held.nFileIndexLow == named.nFileIndexLow
               ? Named::Same
               : Named::Other;
}

bool MoveTo(HANDLE file, std::uint64_t offset) {
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) != 0;
}

bool CutAt(HANDLE file, std::uint64_t offset) {
    return MoveTo(file, offset) && SetEndOfFile(file);
}

// The final name of an open file or folder, without the "\\?\" the system puts before it.
std::string FinalName(HANDLE file) {
    std::string name(MAX_PATH, '\0');
    DWORD length = GetFinalPathNameByHandleA(file, name.data(), static_cast<DWORD>(name.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= name.size()) {
        name.resize(length + 1);
        length = GetFinalPathNameByHandleA(file, name.data(), static_cast<DWORD>(name.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    if (length == 0 || length >= name.size()) {
        return {};
    }
    name.resize(length);
    constexpr std::string_view Unc = "\\\\?\\UNC\\";
    constexpr std::string_view Local = "\\\\?\\";
    if (name.starts_with(Unc)) {
        return "\\\\" + name.substr(Unc.size());
    }
    return name.starts_with(Local) ? name.substr(Local.size()) : name;
}

} // namespace

struct FileLock::Handle {
    HANDLE File = INVALID_HANDLE_VALUE;
};

FileLock::FileLock(const std::string& path, bool create) : handle_(std::make_unique<Handle>()) {
    for (;;) {
        // Not shared for deleting: the file cannot go while anyone has it open.
        handle_->File =
            CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_->File == INVALID_HANDLE_VALUE) {
            return;
        }
        // Windows' locks bar other handles from the bytes they cover: this one covers a byte far
        // past any content, so the file itself stays free to read and append to.
        OVERLAPPED beyond{};
        beyond.OffsetHigh = 0x7FFFFFFF;
        const bool locked = LockFileEx(handle_->File, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &beyond);
        const Named named = locked ? FileAt(handle_->File, path) : Named::Unknown;
        if (named == Named::Same) {
            return;
        }
        CloseHandle(handle_->File);
        handle_->File = INVALID_HANDLE_VALUE;
        // Replaced while this waited: the file now at path is the lock.
        if (named == Named::Unknown) {
            return;
        }
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
    // A name of this writer's own: two writers never write into one new file.
    char unique[48];
    std::snprintf(unique, sizeof unique, ".%lu-%08x.new", GetCurrentProcessId(),
                  static_cast<unsigned>(std::random_device()()));
    const std::string fresh = path + unique;
    HANDLE file = CreateFileA(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
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

bool AppendDurably(const std::string& path, const std::string& text, std::uint64_t end) {
    // Every writer holds the file's lock, so the end found here stays the end.
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) < end) {
        CloseHandle(file);
        return false;
    }
    DWORD written = 0;
    const bool appended =
        (static_cast<std::uint64_t>(size.QuadPart) == end ? MoveTo(file, end) : CutAt(file, end)) &&
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size() && FlushFileBuffers(file);
    if (!appended && CutAt(file, end)) {
        FlushFileBuffers(file);
    }
    CloseHandle(file);
    return appended;
}

std::string ResolvedPath(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        std::string resolved = FinalName(file);
        CloseHandle(file);
        return resolved;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return {};
    }
    // A file not made yet: where its folder really is.
    const std::filesystem::path name(path);
    const std::string folder =
        ResolvedPath(name.has_parent_path() ? name.parent_path().string() : std::string("."));
    return folder.empty() ? folder : (std::filesystem::path(folder) / name.filename()).string();
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
