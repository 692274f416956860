// tervix-line-load: the line server's benchmark client (scripts/bench-line.sh). Stations that
// reserve numbers at once, each on its own kept-alive connection, and the round trip of every
// reservation; or the answer time of a yield query.
//
//   tervix-line-load reserve PORT TOKEN CLIENTS COUNT
//   tervix-line-load yield PORT TOKEN BY SINCE UNTIL REPEAT
//
// Prints "name: value" lines; exits 1 when a request fails.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The value below which share of the sorted times fall.
double Percentile(const std::vector<double>& sorted, double share) {
    const auto at = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted.at(at);
}

void PrintTimes(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%s_p50_ms: %.2f\n%s_p99_ms: %.2f\n%s_max_ms: %.2f\n", what, Percentile(times, 0.5),
                what, Percentile(times, 0.99), what, times.back());
}

// Says why a request failed: the server's answer, or what the connection did.
void Failed(const char* what, const httplib::Result& result) {
    if (result) {
        std::fprintf(stderr, "tervix-line-load: %s: %d %s\n", what, result->status,
                     result->body.c_str());
    } else {
        std::fprintf(stderr, "tervix-line-load: %s: %s\n", what,
                     httplib::to_string(result.error()).c_str());
    }
}

httplib::Headers Auth(const std::string& token) {
    return {{"Authorization", "Bearer " + token}};
}

// Each client: reserve, then end the reservation as used with its board's record, as a station
// whose boards pass. Only the reservation is timed, and only after each client's first Warmup
// rounds, which open the server's connections to its database.
constexpr int Warmup = 20;

int Reserve(int port, const std::string& token, int clients, int count) {
    std::vector<std::vector<double>> times(static_cast<std::size_t>(clients));
    std::vector<std::vector<double>> ends(static_cast<std::size_t>(clients));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    // Rounds per second over the whole run, warm-up included.
    const Clock::time_point start = Clock::now();
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            // A request stalled by the disk shows as its time, not as a failure.
            client.set_read_timeout(60);
            const std::string body = R"({"port":"COM)" + std::to_string(c + 1) + R"("})";
            for (int i = -Warmup; i < count; ++i) {
                const Clock::time_point sent = Clock::now();
                const auto reserved = client.Post("/api/v1/pools/widget/reservations", Auth(token),
                                                  body, "application/json");
                if (i >= 0) {
                    times[static_cast<std::size_t>(c)].push_back(Ms(Clock::now() - sent));
                }
                if (!reserved || reserved->status != 201) {
                    Failed("reservation", reserved);
                    ++failures;
                    return;
                }
                const nlohmann::json reservation = nlohmann::json::parse(reserved->body);
                nlohmann::json record = {
                    {"id", "load-" + std::to_string(c) + "-" + std::to_string(i)},
                    {"time", "2026-12-07T15:49:30Z"},
                    {"port", "COM" + std::to_string(c + 1)},
                    {"exit_status", 0},
                    {"serial", reservation["serial"]},
                    {"tags", {{"lot", "bench"}}}};
                const Clock::time_point ending = Clock::now();
                const auto used = client.Post(
                    "/api/v1/reservations/" + std::to_string(reservation["id"].get<long long>()) +
                        "/used",
                    Auth(token), nlohmann::json({{"record", record}}).dump(), "application/json");
                if (i >= 0) {
                    ends[static_cast<std::size_t>(c)].push_back(Ms(Clock::now() - ending));
                }
                if (!used || used->status != 200) {
                    Failed("used", used);
                    ++failures;
                    return;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const double seconds = Ms(Clock::now() - start) / 1000;
    if (failures > 0) {
        std::fprintf(stderr, "tervix-line-load: %d clients failed\n", failures.load());
        return 1;
    }
    std::vector<double> all, allEnds;
    for (int c = 0; c < clients; ++c) {
        all.insert(all.end(), times[c].begin(), times[c].end());
        allEnds.insert(allEnds.end(), ends[c].begin(), ends[c].end());
    }
    std::printf("reservations: %zu\nseconds: %.2f\nreservations_per_second: %.0f\n", all.size(),
                seconds, clients * (count + Warmup) / seconds);
    PrintTimes("reserve", all);
    PrintTimes("used", allEnds);
    return 0;
}

int Yield(int port, const std::string& token, const std::string& by, const std::string& since,
          const std::string& until, int repeat) {
    httplib::Client client("127.0.0.1", port);
    client.set_keep_alive(true);
    client.set_read_timeout(60);
    const std::string path = "/api/v1/yield?by=" + by + "&since=" + since + "&until=" + until;
    std::vector<double> times;
    std::size_t groups = 0;
    long long boards = 0;
    for (int i = 0; i < repeat; ++i) {
        const Clock::time_point sent = Clock::now();
        const auto answer = client.Get(path, Auth(token));
        times.push_back(Ms(Clock::now() - sent));
        if (!answer || answer->status != 200) {
            std::fprintf(stderr, "tervix-line-load: %s failed\n", path.c_str());
            return 1;
        }
        const nlohmann::json yield = nlohmann::json::parse(answer->body);
        groups = yield.size();
        boards = 0;
        for (const auto& group : yield) {
            boards += group["boards"].get<long long>();
        }
    }
    std::printf("groups: %zu\nboards: %lld\nfirst_ms: %.2f\n", groups, boards, times.front());
    PrintTimes("yield", times);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "reserve") {
        return Reserve(std::stoi(args[1]), args[2], std::stoi(args[3]), std::stoi(args[4]));
    }
    if (args.size() == 7 && args[0] == "yield") {
        return Yield(std::stoi(args[1]), args[2], args[3], args[4], args[5], std::stoi(args[6]));
    }
    std::fprintf(stderr, "usage: tervix-line-load reserve PORT TOKEN CLIENTS COUNT\n"
                         "       tervix-line-load yield PORT TOKEN BY SINCE UNTIL REPEAT\n");
    return 64;
}
