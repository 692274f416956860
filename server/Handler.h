#pragma once
// What every API request goes through: the token (401), the role (403), then the route's work,
// whose refusals and database failures become a status and {"error": "..."}.

#include "server/Database.h"
#include "server/JsonInput.h"
#include "server/TokenCheck.h"

#include <httplib.h>

#include <functional>
#include <optional>
#include <string>

// Who may call a route: every role may read; only stations and administrators change things.
enum class Access { Read, Change };

struct Answer {
    int Status = 200;
    Json Body;
};

using Work = std::function<Answer(const httplib::Request&, const Caller&)>;

httplib::Server::Handler Guarded(TokenCheck& tokens, Access access, Work work);

// The caller of a request, from "Authorization: Bearer TOKEN" (or ?token= where a browser's
// event stream cannot send a header); throws Refusal 401 or 403.
Caller Authorized(TokenCheck& tokens, const httplib::Request& request, Access access,
                  bool tokenInQuery = false);

// Writes {"error": why} with status.
void Fail(httplib::Response& response, int status, const std::string& why);

// Query parameters: each absent one is none; a bad one throws Refusal 400.
std::optional<std::string> TextParam(const httplib::Request& request, const char* name);
std::optional<std::int64_t> TimeParam(const httplib::Request& request, const char* name);
std::int64_t LimitParam(const httplib::Request& request, std::int64_t otherwise, std::int64_t max);
// A number in the path, as a reservation's id; 404 for one that is none.
std::int64_t IdInPath(const httplib::Request& request, std::size_t match);
