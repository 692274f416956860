#pragma once
// What a file shared by several processes and kept through power cuts needs of the system: an
// exclusive lock that ends with its holder, a replacement that leaves the old or the new content
// and never a torn one, an append that is on the disk when it returns, the one name a file has
// whatever link it is reached through, and telling whether a process still runs. One file per
// platform behind this interface.

#include <cstdint>
#include <memory>
#include <string>

class FileLock {
public:
    // Waits for the exclusive lock on the file at path (made empty if needed and create); Ok()
    // tells whether it is held. The system lets it go when its holder ends, however it ends. It
    // is always on the file that path names once taken: one deleted or replaced while this waited
    // is let go and the new one locked. The lock keeps no one from reading or writing the file.
    FileLock(const std::string& path, bool create);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Ok() const;

    struct Handle;

private:
    std::unique_ptr<Handle> handle_;
};

// Writes text to a new file beside path, named for this writer alone, syncs it, renames it over
// path and syncs the folder; false when any step failed, path then holding its old content and
// the new file gone.
bool ReplaceFileDurably(const std::string& path, const std::string& text);

// Appends text to path (created if needed) with one write and syncs it. Whatever lies past end
// (a line its writer never finished) is cut off first. False when the file is shorter than end or
// a step failed, path then cut back to end.
bool AppendDurably(const std::string& path, const std::string& text, std::uint64_t end);

// The file's own absolute name with every link and "." or ".." resolved; for a file not there
// yet, its folder's resolved. Empty when the folder cannot be found.
std::string ResolvedPath(const std::string& path);

long long OwnProcessId();
// Whether a process of this id runs on this computer.
bool ProcessRunning(long long pid);
