#pragma once
// A production line's project file: the firmware a station is locked to and every setting an
// operator must not change (serial numbers, records, the station's ports), in TOML. Read and
// judged here, without a port or a terminal, for every face that runs a project.

#include "line/BoardSerial.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Where a value stands in the project file: lines from 1, columns in characters from 1, the end
// one past the value's last character.
struct ProjectSpan {
    std::uint32_t Line = 0;
    std::uint32_t Column = 0;
    std::uint32_t EndLine = 0;
    std::uint32_t EndColumn = 0;
};

enum class ProjectStart : std::uint8_t {
    Board, // a board starts when it answers on its port
    Key,   // the operator starts the boards from the keyboard
};

struct ProjectSerial {
    std::string At;          // as written
    std::string Format;      // as written
    SerialSettings Settings; // place and format parsed; the source's files resolved
};

// The line server that a station's numbers and records go to.
struct ProjectLine {
    std::string Url;
    std::string Pool; // none: records only; the numbers, if any, from [serial]'s own file
};

struct Project {
    std::string Path; // the project file as given
    std::string Name;

    std::string Firmware;              // the HEX file, resolved against the project file's folder
    std::optional<std::string> Sha256; // lower-case hexadecimal; none until the project is locked
    bool Fast = false;

    std::optional<ProjectSerial> Serial; // none: no serial numbers
    std::optional<ProjectLine> Line;     // none: no line server

    std::string Records; // resolved like the firmware
    std::vector<std::pair<std::string, std::string>> Tags;

    std::string Station;
    std::vector<std::string> Ports;
    ProjectStart Start = ProjectStart::Board;

    // Every key read, by its dotted name ("firmware.sha256", "station.ports[2]", "serial" for a
    // table's header), for messages and for editing the file in place.
    std::map<std::string, ProjectSpan> Spans;

    // "widget.toml line 7" for a key read, else the file's name alone.
    std::string Where(const std::string& key) const;
};

enum class ProjectRead : std::uint8_t {
    Use,  // everything must hold
    Lock, // firmware.sha256 is about to be replaced: any value of it will do, and Sha256 holds
          // a string value as written
};

// Reads the project from text, naming it path (relative files are found beside it). None when it
// is not a project, with every fault in faults, in the file's order, each naming the file, the
// line and the key.
std::optional<Project> ParseProject(const std::string& text, const std::string& path,
                                    ProjectRead read, std::vector<std::string>& faults);

// Reads the file at path into text (a project file is small: more than 1 MiB is refused); false,
// with why, when it cannot be read.
bool ReadProjectText(const std::string& path, std::string& text, std::string& why);

// ReadProjectText and ParseProject.
std::optional<Project> LoadProject(const std::string& path, ProjectRead read,
                                   std::vector<std::string>& faults);

// Why a firmware whose bytes have the SHA-256 digest may not run under the project: it is not
// locked, or locked to other bytes (both named). Empty when it matches.
std::string FirmwareLockRefusal(const Project& project, const std::string& digest);
