#include "cli/FileAccess.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

bool Opens(const char* name, DWORD access, DWORD disposition, DWORD flags) {
    HANDLE file = CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

} // namespace

bool CanWriteLogFile(const char* name) {
    const DWORD attributes = GetFileAttributesA(name);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        constexpr DWORD refused =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY;
        return (attributes & refused) == 0 &&
               Opens(name, GENERIC_WRITE, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return false;
    }
    // Only creating a file tells whether the folder takes one; this one goes again when closed.
    return Opens(name, GENERIC_WRITE | DELETE, CREATE_NEW,
                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE);
}
