#pragma once
// What a file shared by several processes and kept through power cuts needs of the system: an
// exclusive lock that ends with its holder, a replacement that leaves the old or the new content
// and never a torn one, and telling whether a process still runs. One file per platform behind
// this interface.

#include <memory>
#include <string>

class FileLock {
public:
    // Waits for the exclusive lock on path (created if needed); Ok() tells whether it is held.
    // The system lets it go when its holder ends, however it ends.
    explicit FileLock(const std::string& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Ok() const;

    struct Handle;

private:
    std::unique_ptr<Handle> handle_;
};

// Writes text to a new file beside path, syncs it, renames it over path and syncs the folder;
// false when any step failed, path then holding its old content.
bool ReplaceFileDurably(const std::string& path, const std::string& text);

long long OwnProcessId();
// Whether a process of this id runs on this computer.
bool ProcessRunning(long long pid);
