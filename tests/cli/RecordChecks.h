#pragma once
// What the tests of whole runs check in records and on boards.

#include "tests/cli/CliFixture.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// A record's keys, in order.
extern const std::vector<std::string> RecordKeys;
std::vector<std::string> KeysOf(const nlohmann::ordered_json& object);

// Lower-case hexadecimal.
std::string Sha256Of(const std::string& text);
std::string ReadAll(const std::string& path);

// Program memory bytes of the file: the space the tests' stuck bytes and erases concern.
void ExpectProgramHolds(const SimBoard& board, const HexImage& image);

// Program memory and data EEPROM bytes of the file, the spaces the default profile writes.
void ExpectHolds(const SimBoard& board, const HexImage& image);
