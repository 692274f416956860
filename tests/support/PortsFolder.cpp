#include "tests/support/PortsFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

PortsFolder::PortsFolder() {
    if (const char* old = std::getenv("TERVIX_PORTS"); old != nullptr) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("TERVIX_PORTS", Path().c_str(), 1);
}

PortsFolder::~PortsFolder() {
    if (hadPrevious_) {
        ::setenv("TERVIX_PORTS", previous_.c_str(), 1);
    } else {
        ::unsetenv("TERVIX_PORTS");
    }
}

void PortsFolder::Link(const std::string& comName, const std::string& device) const {
    std::error_code error;
    std::filesystem::create_symlink(device, File(comName), error);
    EXPECT_FALSE(error) << comName << " -> " << device << ": " << error.message();
}
