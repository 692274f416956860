#pragma once
// A temporary folder of the test's own made the working folder until the test ends, so that
// "temp.log" lands there and tests that run side by side never share one.

#include "tests/support/TempFolder.h"

#include <filesystem>

class WorkingFolder {
public:
    WorkingFolder() : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(folder_.Path());
    }
    ~WorkingFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    std::filesystem::path Path() const { return folder_.Path(); }

private:
    std::filesystem::path previous_;
    TempFolder folder_;
};
