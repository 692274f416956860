#pragma once
// The HEX file as it was when the run started. It is read once, hashed from the bytes read, and
// written to a private copy in a folder of its own; the check, the row count, the programmer and
// every board's child then read that copy, never the file. A file replaced or deleted during the
// run thus changes nothing on any board or in any record. The copy's folder goes with the object.
// A copy on disk rather than bytes in memory, because the programmer and "temp.log" take the
// file by its path.

#include <optional>
#include <string>

class HexSnapshot {
public:
    // Reads file and makes the copy; Ok() tells whether both worked, Error() why not.
    explicit HexSnapshot(const std::string& file);
    ~HexSnapshot();
    HexSnapshot(const HexSnapshot&) = delete;
    HexSnapshot& operator=(const HexSnapshot&) = delete;

    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    // The private copy, to be read instead of the file.
    const std::string& Path() const { return path_; }
    // SHA-256 of the bytes read, lower-case hexadecimal.
    const std::optional<std::string>& Sha256() const { return sha256_; }

private:
    std::string folder_;
    std::string path_;
    std::optional<std::string> sha256_;
    std::string error_;
};
