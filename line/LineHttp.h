#pragma once
// One HTTP request to the line server and its answer. One file per platform: cpp-httplib on
// Linux (HTTPS through OpenSSL and the system's certificate authorities), WinHTTP on Windows
// (HTTPS through the system, its certificate store and proxy settings).

#include <optional>
#include <string>

// Where the server is: http://HOST[:PORT][/PREFIX] or https://..., a prefix standing for a
// reverse proxy that serves it under a path of its own.
struct LineAddress {
    bool Tls = false;
    std::string Host;
    int Port = 0;
    std::string Prefix; // "" or "/path", no slash at the end
    std::string Url;    // as given
};

// The address in url; none, with why, when it is not one.
std::optional<LineAddress> ParseLineAddress(const std::string& url, std::string& why);

struct HttpAnswer {
    int Status = 0;    // 0: no answer came
    std::string Body;  // the answer's body
    std::string Error; // why no answer came, in a few words
};

struct HttpTimeouts {
    int ConnectMs = 3000;
    int ReplyMs = 15000;
};

// method ("GET", "POST", "PUT") on path (after the prefix, "/api/v1/..."), with a JSON body when
// not empty and the token as a bearer.
HttpAnswer SendHttp(const LineAddress& to, const std::string& method, const std::string& path,
                    const std::string& body, const std::string& token,
                    const HttpTimeouts& timeouts = {});
