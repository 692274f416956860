#include "line/LineHttp.h"

#include <httplib.h>

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
        answer.Error = httplib::to_string(result.error());
        if (result.error() == httplib::Error::SSLServerVerification) {
            answer.Error += " (the certificate is not one this computer trusts; SSL_CERT_FILE "
                            "names a certificate authority's file)";
        }
        return answer;
    }
    answer.Status = result->status;
    answer.Body = std::move(result->body);
    return answer;
}
