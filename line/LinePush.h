#pragma once
// Sending what waits in a spool to the line server, in the order it was written. An entry the
// server has is marked sent; one it refuses for good is set aside beside the spool with the
// reason; while the server is away (no answer, its database unreachable, the token refused)
// the rest waits for the next push.

#include "line/LineSpool.h"

#include <set>
#include <string>
#include <vector>

struct PushReport {
    std::size_t Sent = 0;
    std::size_t SetAside = 0;       // refused for good, kept in SPOOL.refused
    std::size_t Left = 0;           // still waiting
    std::size_t Damaged = 0;        // lines that are not entries
    std::vector<std::string> Notes; // entries that did not go as written, and why
    std::string Away;               // why sending stopped early
    std::string Failure;            // why the spool could not be read or marked
};

// Sends the spool's waiting entries (only those whose ids are in only, when given) with token,
// each to the server it names, or to url when that is not empty.
PushReport PushSpool(const LineSpool& spool, const std::string& token, const std::string& url,
                     const std::set<std::string>* only = nullptr);
