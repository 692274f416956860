#pragma once
// A symbolic link to the board's port, such as an entry COM3 in a ports folder, removed again
// when the board stops.

#include <string>

class PortLink {
public:
    PortLink() = default;
    ~PortLink();
    PortLink(const PortLink&) = delete;
    PortLink& operator=(const PortLink&) = delete;

    // Points path at target. An existing symbolic link there is replaced (a board that was
    // killed leaves one behind); any other file is left alone and the call fails.
    bool Create(const std::string& path, const std::string& target, std::string& error);

private:
    std::string path_;
    std::string target_;
};
