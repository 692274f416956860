#include "server/JsonInput.h"

#include "server/Refusal.h"

namespace {

[[noreturn]] void Bad(const std::string& why) {
    throw Refusal(HttpStatus::BadRequest, why);
}

// An integer that a signed 64-bit number holds.
bool IsInteger(const Json& value) {
    return value.is_number_integer() &&
           !(value.is_number_unsigned() &&
             value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX));
}

} // namespace

Json ParseObject(const std::string& body, bool allowEmpty) {
    if (allowEmpty && body.find_first_not_of(" \t\r\n") == std::string::npos) {
        return Json::object();
    }
    Json value = Json::parse(body, nullptr, false);
    if (value.is_discarded()) {
        Bad("the body is not valid JSON");
    }
    if (!value.is_object()) {
        Bad("the body must be a JSON object");
    }
    return value;
}

std::optional<std::string> OptionalString(const Json& object, const char* key,
                                          std::size_t maxSize) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!it->is_string() || it->get_ref<const std::string&>().empty() ||
        it->get_ref<const std::string&>().size() > maxSize) {
        Bad(std::string("\"") + key + "\" must be a string of 1 to " + std::to_string(maxSize) +
            " bytes");
    }
    return it->get<std::string>();
}

std::string RequiredString(const Json& object, const char* key, std::size_t maxSize) {
    auto value = OptionalString(object, key, maxSize);
    if (!value) {
        Bad(std::string("\"") + key + "\" is missing");
    }
    return *value;
}

std::int64_t RequiredInteger(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        Bad(std::string("\"") + key + "\" is missing");
    }
    if (!IsInteger(*it)) {
        Bad(std::string("\"") + key + "\" must be an integer");
    }
    return it->get<std::int64_t>();
}

std::optional<std::int64_t> OptionalInteger(const Json& object, const char* key, std::int64_t min,
                                            std::int64_t max) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!IsInteger(*it) || it->get<std::int64_t>() < min || it->get<std::int64_t>() > max) {
        Bad(std::string("\"") + key + "\" must be an integer from " + std::to_string(min) + " to " +
            std::to_string(max));
    }
    return it->get<std::int64_t>();
}

bool OptionalBool(const Json& object, const char* key, bool otherwise) {
    const auto it = object.find(key);
    if (it == object.end() || it->is_null()) {
        return otherwise;
    }
    if (!it->is_boolean()) {
        Bad(std::string("\"") + key + "\" must be true or false");
    }
    return it->get<bool>();
}

bool IsName(const std::string& text) {
    return !text.empty() && text.size() <= 64 &&
           text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                  "0123456789._-") == std::string::npos;
}
