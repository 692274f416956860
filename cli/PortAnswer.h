#pragma once
// Who answers the connection's port question: --yes says Yes to the first port that opens, and
// otherwise the user on the terminal; --port names the one port to open, asking nothing. It also
// remembers what the scan met, to explain a connection that found no port.

#include <string>
#include <vector>

class ProgressDisplay;

struct PortChoice {
    std::string Port; // a COM name or a device path; empty when not given
    bool Yes = false;
};

class PortAnswer {
public:
    PortAnswer(PortChoice choice, ProgressDisplay& progress);
    ~PortAnswer();
    PortAnswer(const PortAnswer&) = delete;
    PortAnswer& operator=(const PortAnswer&) = delete;

    // Neither --port nor --yes, and no terminal to ask on: the caller must stop before any port
    // is touched.
    static bool NeedsTerminal(const PortChoice& choice);

    // The index in PortNameTable of the port --port names (by its COM name or by the device it
    // leads to); -1 when --port is not given or names no port of the table.
    int NamedIndex() const;

    // Why a scan ended without an accepted port, in words.
    std::string NoPortReason() const;

private:
    bool Answer(const char* name);
    bool AskUser(const char* name, const char* caption, const std::string& device);

    PortChoice choice_;
    std::string wantedDevice_; // DeviceKey of --port, "" when it names no device
    ProgressDisplay& progress_;
    std::vector<std::string> declined_;
};

// What two names of one port have in common: the device they lead to, else the plain COM name
// ("COM12" for "\\.\COM12" and "com12").
std::string PortIdentity(const std::string& port);

// The one name a port has in records, tables and the serial journal: the plain COM name ("COM12"
// for "\\.\COM12" and "com12"), a device path as given.
std::string ShortPortName(const std::string& port);

// "COM3 (/dev/pts/4)", or the bare name when it maps to no device.
std::string PortWithDevice(const char* name);
