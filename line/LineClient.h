#pragma once
// The line server's API as a station calls it: one request at a time, its answer as JSON, and
// a failure in words that name the server and what it said.

#include "line/LineHttp.h"

#include <nlohmann/json.hpp>

#include <string>

struct LineReply {
    int Status = 0; // 0: no answer came
    nlohmann::json Body;
    std::string Why; // what went wrong, in words; empty when the answer is 2xx

    bool Ok() const { return Status >= 200 && Status < 300; }
    // The server did not take the request, and the same request later may: no answer, an
    // answer from a server that cannot reach its database, or a token it refused (which an
    // administrator may mend).
    bool Away() const { return Status == 0 || Status >= 500 || Status == 401 || Status == 403; }
};

class LineClient {
public:
    LineClient(LineAddress address, std::string token, HttpTimeouts timeouts = {})
        : address_(std::move(address)), token_(std::move(token)), timeouts_(timeouts) {}

    // method on path ("/api/v1/..."), with body unless it is null.
    LineReply Call(const std::string& method, const std::string& path,
                   const nlohmann::json& body) const;

    const LineAddress& Address() const { return address_; }

private:
    LineAddress address_;
    std::string token_;
    HttpTimeouts timeouts_;
};

// The token of a station: from the first line of file when one is named, else from
// TERVIX_LINE_TOKEN. Empty, with why, when there is none.
std::string LineToken(const std::string& file, std::string& why);
