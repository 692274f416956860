#include "line/LineHttp.h"

#include <httplib.h>

namespace {

// httplib names its errors in one word; a station's operator reads them.
std::string ErrorText(httplib::Error error) {
    switch (error) {
    case httplib::Error::Connection:
        return "no connection (refused, or no way to the host)";
    case httplib::Error::ConnectionTimeout:
        return "no connection within the time allowed";
    case httplib::Error::Read:
        return "no answer (the connection broke, or the answer did not come in time)";
    case httplib::Error::Write:
        return "the request could not be sent";
    case httplib::Error::SSLConnection:
        return "the TLS connection failed";
    case httplib::Error::SSLLoadingCerts:
        return "the certificate authorities could not be loaded";
    case httplib::Error::SSLServerVerification:
        return "its certificate is not one this computer trusts (SSL_CERT_FILE names a "
               "certificate authority's file)";
    default:
        return httplib::to_string(error);
    }
}

} // namespace

HttpAnswer SendHttp(const LineAddress& to, const std::string& method, const std::string& path,
                    const std::string& body, const std::string& token,
                    const HttpTimeouts& timeouts) {
    // A literal IPv6 address goes back into its brackets.
    const std::string host = to.Host.find(':') == std::string::npos ? to.Host : "[" + to.Host + "]";
    httplib::Client client((to.Tls ? "https://" : "http://") + host + ":" +
                           std::to_string(to.Port));
    client.set_connection_timeout(std::chrono::milliseconds(timeouts.ConnectMs));
    client.set_read_timeout(std::chrono::milliseconds(timeouts.ReplyMs));
    client.set_write_timeout(std::chrono::milliseconds(timeouts.ReplyMs));
    httplib::Headers headers;
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    const std::string where = to.Prefix + path;
    httplib::Result result = method == "GET" ? client.Get(where, headers)
                             : method == "PUT"
                                 ? client.Put(where, headers, body, "application/json")
                                 : client.Post(where, headers, body, "application/json");
    HttpAnswer answer;
    if (!result) {
        answer.Error = ErrorText(result.error());
        return answer;
    }
    answer.Status = result->status;
    answer.Body = std::move(result->body);
    return answer;
}
