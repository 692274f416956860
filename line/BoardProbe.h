#pragma once
// Looking at many ports at once before a many-board run: each port is opened in a thread of its
// own and asked for its device number once, so that silent ports cost one short wait together,
// not one each, and every port's finding can be shown.

#include "link/OpenFailure.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

enum class PortFinding {
    NoDevice,      // the name leads to no device
    InUse,         // another program holds it
    Refused,       // this user may not open it
    NotOpened,     // it exists but would not open for another reason
    NoAnswer,      // it opened but nothing answered the device read
    NotUnderstood, // something answered, but not with a reply that carries a device number
    Device,        // a board answered with its device number
};

struct ProbedPort {
    std::string Port; // as given, or a name of PortNameTable
    PortFinding Finding = PortFinding::NoDevice;
    PortOpenFailure Failure; // why it did not open
    int Device = 0;          // for PortFinding::Device
    std::int32_t Code = 0;   // the device read's code for NoAnswer and NotUnderstood
};

// What a port that would not open holds, by why it would not.
PortFinding FindingOfFailure(const PortOpenFailure& failure);
// What one device read found, from its code and the number it stored (-1 when none): silence, a
// reply not understood, or a device number.
PortFinding FindingOfReply(std::int32_t code, int device);

// Probes every port at the same time; the results come in the order of ports. Each port is
// closed again before this returns.
std::vector<ProbedPort> ProbePorts(const std::vector<std::string>& ports, std::uint32_t baudRate,
                                   std::uint32_t readTimeoutMs);

// A board answered, whether or not with the expected device: it belongs in the run's table.
bool BoardAnswered(const ProbedPort& probed);

// What the ports held when they were looked at, in the order they were given: every port's
// finding, the ports whose board reported the expected device, and the boards that answered but
// failed that check.
struct FoundBoards {
    std::vector<ProbedPort> Probed;
    std::vector<std::string> Boards;
    std::map<std::string, ProbedPort> FailedChecks;
};

// Probes ports at the profile's baud rate, a silent one given up on after at most a second, and
// sorts them by the profile's device number.
FoundBoards FindBoards(const std::vector<std::string>& ports);

// What a run makes of a port it looked at: a board to run, a board that failed the device check
// (it is run no further, but has its record), or a port passed over.
enum class PortRole { Board, FailedCheck, Skipped };
PortRole RoleOf(const FoundBoards& found, const std::string& port);

// The ports of ports that hold a board, whether or not it passed the device check, in order.
std::vector<std::string> AnsweredPorts(const FoundBoards& found,
                                       const std::vector<std::string>& ports);
