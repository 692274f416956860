#pragma once
// Reading what a client sent: a JSON object, and its fields with their types checked, each
// failure a 400 that names the field.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

using Json = nlohmann::ordered_json;

// The body as an object; an empty body is {} when allowEmpty.
Json ParseObject(const std::string& body, bool allowEmpty = false);

// A string field of 1 to maxSize bytes; required ones throw when missing or null.
std::string RequiredString(const Json& object, const char* key, std::size_t maxSize = 200);
std::optional<std::string> OptionalString(const Json& object, const char* key,
                                          std::size_t maxSize = 200);
std::int64_t RequiredInteger(const Json& object, const char* key);
std::optional<std::int64_t> OptionalInteger(const Json& object, const char* key, std::int64_t min,
                                            std::int64_t max);
bool OptionalBool(const Json& object, const char* key, bool otherwise);
// A name that may stand in an address: letters, digits, '.', '_' and '-', 1 to 64 of them.
bool IsName(const std::string& text);
