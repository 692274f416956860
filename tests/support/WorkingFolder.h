#pragma once
// A temporary folder of the test's own made the working folder until the object goes, so that
// "temp.log" lands there and tests that run side by side never share one.

#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>

class WorkingFolder : public TempFolder {
public:
    WorkingFolder() : previous_(std::filesystem::current_path()) {
        if (Path().empty()) {
            ADD_FAILURE() << "cannot create a temporary folder";
            return;
        }
        std::filesystem::current_path(Path());
    }
    // Leaves the folder before the base removes it.
    ~WorkingFolder() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }

private:
    std::filesystem::path previous_;
};
