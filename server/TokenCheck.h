#pragma once
// Who holds a token, as the database says, remembered for a few seconds: a station's requests
// cost no lookup each, and a revoked token stops working on every server within that time.
// Only tokens found valid are remembered, by their hash.

#include "server/Database.h"
#include "server/Tokens.h"

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class TokenCheck {
public:
    explicit TokenCheck(Database& db,
                        std::chrono::milliseconds remembered = std::chrono::seconds(5))
        : db_(db), remembered_(remembered) {}
    // None for anything that is not a valid, unrevoked token; throws SqlError.
    std::optional<Caller> Holder(const std::string& text);

private:
    struct Known {
        Caller Who;
        std::chrono::steady_clock::time_point Until;
    };

    Database& db_;
    const std::chrono::milliseconds remembered_;
    std::mutex mutex_;
    std::map<std::string, Known> known_;
};
