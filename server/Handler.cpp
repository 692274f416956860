#include "server/Handler.h"

#include "server/IsoTime.h"
#include "server/Refusal.h"

#include <charconv>
#include <iostream>

namespace {

std::string BearerToken(const httplib::Request& request) {
    const std::string header = request.get_header_value("Authorization");
    constexpr std::string_view Scheme = "Bearer ";
    return header.starts_with(Scheme) ? header.substr(Scheme.size()) : std::string();
}

// The status and message of whatever the work threw.
std::pair<int, std::string> Failure(std::exception_ptr thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const Refusal& refusal) {
        return {refusal.Status(), refusal.what()};
    } catch (const SqlError& error) {
        switch (error.Failure()) {
        case SqlFailure::Unreachable:
            return {HttpStatus::Unavailable,
                    std::string("the database cannot be reached: ") + error.what()};
        case SqlFailure::Constraint:
            return {HttpStatus::Conflict, std::string("the database refused it: ") + error.what()};
        default:
            return {HttpStatus::InternalError, std::string("database failure: ") + error.what()};
        }
    } catch (const std::exception& error) {
        return {HttpStatus::InternalError, error.what()};
    }
}

} // namespace

void Fail(httplib::Response& response, int status, const std::string& why) {
    response.status = status;
    Json body;
    body["error"] = why;
    response.set_content(body.dump(), "application/json");
}

Caller Authorized(TokenCheck& tokens, const httplib::Request& request, Access access,
                  bool tokenInQuery) {
    std::string token = BearerToken(request);
    if (token.empty() && tokenInQuery) {
        token = request.get_param_value("token");
    }
    if (token.empty()) {
        throw Refusal(HttpStatus::Unauthorized, "a token is needed: Authorization: Bearer TOKEN");
    }
    const std::optional<Caller> caller = tokens.Holder(token);
    if (!caller) {
        throw Refusal(HttpStatus::Unauthorized, "the token is not valid");
    }
    if (access == Access::Change && caller->Role == TokenRole::Viewer) {
        throw Refusal(HttpStatus::Forbidden,
                      "the token of " + caller->Name + " is a viewer's: it may only read");
    }
    return *caller;
}

httplib::Server::Handler Guarded(TokenCheck& tokens, Access access, Work work) {
    return [&tokens, access, work = std::move(work)](const httplib::Request& request,
                                                     httplib::Response& response) {
        try {
            const Answer answer = work(request, Authorized(tokens, request, access));
            response.status = answer.Status;
            response.set_content(answer.Body.dump(), "application/json");
        } catch (...) {
            const auto [status, why] = Failure(std::current_exception());
            if (status >= HttpStatus::InternalError && status != HttpStatus::Unavailable) {
                std::cerr << "tervix-line: " << request.method << " " << request.path << ": " << why
                          << std::endl;
            }
            Fail(response, status, why);
        }
    };
}

std::optional<std::string> TextParam(const httplib::Request& request, const char* name) {
    if (!request.has_param(name)) {
        return std::nullopt;
    }
    return request.get_param_value(name);
}

std::optional<std::int64_t> TimeParam(const httplib::Request& request, const char* name) {
    const std::optional<std::string> text = TextParam(request, name);
    if (!text) {
        return std::nullopt;
    }
    const std::optional<std::int64_t> ms = MsFromIso(*text);
    if (!ms) {
        throw Refusal(HttpStatus::BadRequest, std::string(name) +
                                                  " must be UTC ISO 8601, as "
                                                  "2026-12-07T15:49:30Z: " +
                                                  *text);
    }
    return ms;
}

std::int64_t LimitParam(const httplib::Request& request, std::int64_t otherwise, std::int64_t max) {
    const std::optional<std::string> text = TextParam(request, "limit");
    if (!text) {
        return otherwise;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || value < 1 || value > max) {
        throw Refusal(HttpStatus::BadRequest,
                      "limit must be a number from 1 to " + std::to_string(max));
    }
    return value;
}

std::int64_t IdInPath(const httplib::Request& request, std::size_t match) {
    const std::string text = request.matches[match].str();
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw Refusal(HttpStatus::NotFound, "no reservation " + text);
    }
    return value;
}
