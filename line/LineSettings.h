#pragma once
// How a station reaches the line server: its address, the pool its numbers come from, its
// token, the name it goes by, the lease it asks for, and its spool.

#include <string>

struct LineSettings {
    std::string Url;     // none: the line server is not used
    std::string Pool;    // none: records only, no serial numbers from the server
    std::string Token;   // the station's bearer token
    std::string Station; // the name reservations carry; none: the token's name
    int LeaseSeconds = 60;
    std::string Spool; // the spool file

    bool Used() const { return !Url.empty(); }
};

// The spool's name in the folder a station works in.
inline constexpr const char* DefaultSpoolName = "line-spool.jsonl";

// A record id of the station's own, unique for good: its name (else the computer's) and a random
// part.
std::string NewRecordId(const std::string& station);
