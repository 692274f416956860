#pragma once
// A request the line refuses, with the HTTP status that says why and a message for people.

#include <stdexcept>
#include <string>

namespace HttpStatus {
inline constexpr int Ok = 200;
inline constexpr int Created = 201;
inline constexpr int NotModified = 304;
inline constexpr int BadRequest = 400;
inline constexpr int Unauthorized = 401;
inline constexpr int Forbidden = 403;
inline constexpr int NotFound = 404;
inline constexpr int Conflict = 409;
inline constexpr int TooLarge = 413;
inline constexpr int InternalError = 500;
inline constexpr int Unavailable = 503;
} // namespace HttpStatus

class Refusal : public std::runtime_error {
public:
    Refusal(int status, const std::string& why) : std::runtime_error(why), status_(status) {}
    int Status() const { return status_; }

private:
    int status_;
};
