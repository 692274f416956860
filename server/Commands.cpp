#include "server/Commands.h"

#include "server/IsoTime.h"
#include "server/Pools.h"
#include "server/Refusal.h"
#include "server/Stations.h"
#include "server/Tokens.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <vector>

namespace {

// Opens the database and runs the command on it; its refusals and failures become messages and
// exit statuses.
int OnDatabase(const std::string& url, const std::function<int(Database&)>& command) {
    try {
        std::unique_ptr<Database> db = OpenDatabase(url);
        return command(*db);
    } catch (const Refusal& refusal) {
        std::cerr << "tervix-line: " << refusal.what() << std::endl;
        return LineExit::Refused;
    } catch (const std::invalid_argument& error) {
        std::cerr << "tervix-line: " << error.what() << std::endl;
        return LineExit::Usage;
    } catch (const std::exception& error) {
        std::cerr << "tervix-line: " << error.what() << std::endl;
        return LineExit::Failure;
    }
}

} // namespace

std::string ShownUrl(const std::string& url) {
    const std::size_t scheme = url.find("://");
    const std::size_t at = url.find('@');
    if (scheme == std::string::npos || at == std::string::npos || at < scheme) {
        return url;
    }
    const std::size_t colon = url.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at) {
        return url;
    }
    return url.substr(0, colon) + ":***" + url.substr(at);
}

int AddPool(const std::string& url, const std::string& name, std::optional<std::int64_t> start,
            std::int64_t step, const std::string& listFile) {
    std::vector<std::string> values;
    if (!listFile.empty()) {
        std::ifstream in(listFile);
        if (!in) {
            std::cerr << "tervix-line: cannot read " << listFile << std::endl;
            return LineExit::Failure;
        }
        for (std::string line; std::getline(in, line);) {
            values.push_back(line);
        }
    }
    return OnDatabase(url, [&](Database& db) {
        if (start) {
            AddCounterPool(db, name, *start, step);
            std::cout << "pool " << name << ": counter from " << *start << ", step " << step
                      << std::endl;
        } else {
            AddListPool(db, name, values);
            std::cout << "pool " << name << ": list of " << PoolSummary(db, name)["left"]
                      << " values from " << listFile << std::endl;
        }
        return LineExit::Success;
    });
}

int AddTokenCommand(const std::string& url, const std::string& name, const std::string& role) {
    return OnDatabase(url, [&](Database& db) {
        // Printed alone, so that a script can take it: "$(tervix-line token add ...)".
        std::cout << AddToken(db, name, *RoleNamed(role)) << std::endl;
        return std::cout ? LineExit::Success : LineExit::Failure;
    });
}

int RevokeTokenCommand(const std::string& url, const std::string& name) {
    return OnDatabase(url, [&](Database& db) {
        if (!RevokeToken(db, name)) {
            std::cerr << "tervix-line: " << name << " has no token" << std::endl;
            return LineExit::Refused;
        }
        std::cout << "token of " << name << " revoked" << std::endl;
        return LineExit::Success;
    });
}

int ListTokensCommand(const std::string& url) {
    return OnDatabase(url, [&](Database& db) {
        for (const TokenInfo& token : ListTokens(db)) {
            std::printf("%-24s %-8s made %s\n", token.Name.c_str(), RoleName(token.Role),
                        IsoFromMs(token.CreatedMs).c_str());
        }
        return LineExit::Success;
    });
}

int Status(const std::string& url) {
    return OnDatabase(url, [&](Database& db) {
        std::cout << "database " << ShownUrl(url) << " (" << db.Engine() << ")\n";
        const Json pools = PoolSummaries(db);
        std::int64_t open = 0;
        std::cout << "pools: " << pools.size() << "\n";
        for (const Json& pool : pools) {
            const std::string next =
                pool["next"].is_null() ? "none left" : pool["next"].get<std::string>();
            std::printf("  %-20s %-7s next %-12s used %lld, released %lld, spoiled %lld, "
                        "open %lld\n",
                        pool["name"].get<std::string>().c_str(),
                        pool["kind"].get<std::string>().c_str(), next.c_str(),
                        static_cast<long long>(pool["used"].get<std::int64_t>()),
                        static_cast<long long>(pool["released"].get<std::int64_t>()),
                        static_cast<long long>(pool["spoiled"].get<std::int64_t>()),
                        static_cast<long long>(pool["open"].get<std::int64_t>()));
            open += pool["open"].get<std::int64_t>();
        }
        const Json stations = ListStations(db);
        std::printf("stations seen: %zu\n", stations.size());
        for (const Json& station : stations) {
            std::printf("  %-20s last seen %s (%llds ago), project %s\n",
                        station["name"].get<std::string>().c_str(),
                        station["last_seen"].get<std::string>().c_str(),
                        static_cast<long long>(station["seconds_since_seen"].get<std::int64_t>()),
                        station["project"].get<std::string>().c_str());
        }
        std::printf("reservations open: %lld\n", static_cast<long long>(open));
        return std::fflush(stdout) == 0 ? LineExit::Success : LineExit::Failure;
    });
}
