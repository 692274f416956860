#pragma once
// A temporary ports folder made the program's COM map ($TERVIX_PORTS) for its lifetime, so that
// COM names lead to the devices a test wires up and no real serial port is touched.

#include "tests/support/TempFolder.h"

#include <string>

class PortsFolder : public TempFolder {
public:
    PortsFolder();
    ~PortsFolder();

    // Makes comName (for example "COM3" or "COM12") a link to device; fails the test when that
    // does not work.
    void Link(const std::string& comName, const std::string& device) const;

private:
    std::string previous_;
    bool hadPrevious_ = false;
};
