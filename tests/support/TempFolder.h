#pragma once
// A fresh folder of the test's own under the system's temporary folder, removed with its content
// when the object goes, so tests running side by side never share a file.

#include <filesystem>
#include <string>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Empty when the folder could not be made.
    std::filesystem::path Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // The whole content of a file in the folder; empty when it cannot be read.
    std::string Read(const std::string& name) const;
    // Replaces a file in the folder with text; false on failure.
    bool Write(const std::string& name, const std::string& text) const;
    // Write that fails the test itself and returns the file's path.
    std::string Create(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};
