#include "line/LineClient.h"

#include <cstdlib>
#include <fstream>

LineReply LineClient::Call(const std::string& method, const std::string& path,
                           const nlohmann::json& body) const {
    const HttpAnswer answer = SendHttp(
        address_, method, path, body.is_null() ? std::string() : body.dump(), token_, timeouts_);
    LineReply reply;
    reply.Status = answer.Status;
    if (answer.Status == 0) {
        reply.Why = "the line server " + address_.Url + " cannot be reached: " + answer.Error;
        return reply;
    }
    reply.Body = nlohmann::json::parse(answer.Body, nullptr, false);
    if (reply.Ok() && !reply.Body.is_discarded()) {
        return reply;
    }
    // A server's refusal says why in "error"; a proxy's or another program's may not.
    std::string said;
    if (reply.Body.is_object() && reply.Body.contains("error") && reply.Body["error"].is_string()) {
        said = reply.Body["error"].get<std::string>();
    } else if (reply.Ok()) {
        said = "its answer is not JSON";
        reply.Status = 502;
    } else {
        said = "no reason given";
    }
    reply.Why = "the line server " + address_.Url + " refused it: " + said + " (HTTP " +
                std::to_string(answer.Status) + ")";
    return reply;
}

std::string LineToken(const std::string& file, std::string& why) {
    std::string token;
    if (!file.empty()) {
        std::ifstream in(file);
        if (!in || !std::getline(in, token)) {
            why = "cannot read the line server's token from " + file;
            return {};
        }
    } else if (const char* given = std::getenv("TERVIX_LINE_TOKEN")) {
        token = given;
    }
    // A file written by an editor or echo ends its line; a CR or blanks are no part of a token.
    while (!token.empty() &&
           (token.back() == '\r' || token.back() == ' ' || token.back() == '\t')) {
        token.pop_back();
    }
    while (!token.empty() && (token.front() == ' ' || token.front() == '\t')) {
        token.erase(0, 1);
    }
    if (token.empty()) {
        why = file.empty() ? "the line server needs a station's token: set TERVIX_LINE_TOKEN or "
                             "give --line-token-file FILE"
                           : "the token file " + file + " is empty";
    }
    return token;
}
