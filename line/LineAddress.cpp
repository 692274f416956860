#include "line/LineHttp.h"

#include <charconv>

std::optional<LineAddress> ParseLineAddress(const std::string& url, std::string& why) {
    LineAddress address;
    address.Url = url;
    std::string rest;
    if (url.starts_with("http://")) {
        rest = url.substr(7);
    } else if (url.starts_with("https://")) {
        address.Tls = true;
        rest = url.substr(8);
    } else {
        why = "the line server's address " + url + " must start with http:// or https://";
        return std::nullopt;
    }
    const std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos) {
        address.Prefix = rest.substr(slash);
        while (!address.Prefix.empty() && address.Prefix.back() == '/') {
            address.Prefix.pop_back();
        }
    }
    address.Port = address.Tls ? 443 : 80;
    // A literal IPv6 address stands in brackets, so that its colons are not the port's.
    const std::size_t close = authority.starts_with('[') ? authority.find(']') : 0;
    const std::size_t colon = authority.find(':', close == std::string::npos ? 0 : close);
    if (colon != std::string::npos) {
        const std::string port = authority.substr(colon + 1);
        int value = 0;
        const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (error != std::errc() || end != port.data() + port.size() || value < 1 ||
            value > 65535) {
            why = "the line server's address " + url + " has no valid port";
            return std::nullopt;
        }
        address.Port = value;
        authority.resize(colon);
    }
    if (authority.starts_with('[') && authority.ends_with(']')) {
        authority = authority.substr(1, authority.size() - 2);
    }
    if (authority.empty() || authority.find_first_of("@?#") != std::string::npos ||
        address.Prefix.find_first_of("?#") != std::string::npos) {
        why = "the line server's address " + url + " must be http://HOST[:PORT][/PATH]";
        return std::nullopt;
    }
    address.Host = authority;
    return address;
}
