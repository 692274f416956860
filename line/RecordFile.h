#pragma once
// Where the record of every board goes: a file opened for appending, each line written by one
// call so that lines from parallel boards and repeated runs never interleave. Also the host's
// name, which every line carries. One file per platform behind this interface.

#include <cstdint>
#include <memory>
#include <string>

class RecordFile {
public:
    // Opens (creating if needed) path for appending; Ok() tells whether that worked.
    explicit RecordFile(const std::string& path);
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    bool Ok() const;
    // Writes line and its line end with one call; false when not all of it was written.
    bool Append(const std::string& line);
    // Why the open or the last append failed, in words ("No space left on device").
    const std::string& Error() const;
    // Whether the open file is the one at path, whatever either is called (same device and
    // inode, or volume and file index).
    bool IsFile(const std::string& path) const;
    // The file's length now, in bytes.
    std::uint64_t Size() const;
    // The file's bytes after its first `from`, read back through its name: what other processes
    // appended meanwhile. False when the file cannot be read.
    bool ReadAfter(std::uint64_t from, std::string& text) const;

    struct Handle;

private:
    std::unique_ptr<Handle> handle_;
};

// This computer's name, "" when it cannot be told.
std::string HostName();
