#pragma once
// A line server in the test program on a free loopback port, over SQLite in a temporary file or
// a fresh database of the shared PostgreSQL cluster (the test's parameter), with a counter pool
// "widget" from 1000 and a token of each role; requests go through a real HTTP client.

#include "server/Database.h"
#include "server/JsonInput.h"
#include "server/LineServer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempFolder.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct Reply {
    int Status = 0;
    Json Body;
};

// One request to the server on port: its status and JSON body (null when it has none).
Reply Request(int port, const std::string& method, const std::string& path, const std::string& body,
              const std::string& token);

// A database address for engine ("sqlite" or "postgresql"): a file in folder, or a new database.
std::string NewDatabaseUrl(const std::string& engine, const TempFolder& folder);

// A board's record as tervix-flash writes it, with the given id, serial number and exit status.
Json BoardRecord(const std::string& id, const Json& serial, int exitStatus,
                 const std::string& time = "2026-12-07T15:49:30Z");

class LineFixture : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override;
    void TearDown() override;

    // One request, its status and its JSON body (null when it has none).
    Reply Call(const std::string& method, const std::string& path, const std::string& body,
               const std::string& token) const;
    Reply Post(const std::string& path, const Json& body) const {
        return Call("POST", path, body.dump(), station_);
    }
    Reply Get(const std::string& path) const { return Call("GET", path, "", viewer_); }
    // Reserves a number of the pool "widget" for port.
    Reply Reserve(const std::string& port = "COM3", int leaseSeconds = 60) const;
    // Ends reservation id: "used" (with a passing record), "released" or "spoiled".
    Reply End(std::int64_t id, const std::string& how) const;
    // The rows of a table, counted on the database itself.
    std::int64_t Rows(const std::string& table) const;
    // A server that goes away, and one that comes back on the same database (on a new port).
    void StopServer();
    void StartServer();
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(server_->Port()); }

    TempFolder folder_;
    std::string url_;
    std::unique_ptr<Database> db_;
    std::unique_ptr<LineServer> server_;
    std::thread thread_;
    std::string station_, viewer_, admin_;
};

// The event stream of a server as a listener reads it, in the background.
class EventListener {
public:
    // query: what follows "?" in /api/v1/events?..., the token among it.
    EventListener(int port, const std::string& query);
    ~EventListener();
    EventListener(const EventListener&) = delete;
    EventListener& operator=(const EventListener&) = delete;

    // Whether text came within the time.
    bool Await(const std::string& text, int seconds = 10);
    std::string Text();
    // Whether the server ended the stream, waiting up to 10 s.
    bool AwaitEnd();

private:
    httplib::Client client_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string text_;
    bool ended_ = false;
    std::thread thread_;
};

// `tervix-line serve` as a process, on a free loopback port unless listen names one (a server
// started again where the stations look for it).
class LineProcess {
public:
    LineProcess(const std::string& folder, const std::string& url,
                const std::vector<std::string>& more = {},
                const std::string& listen = "127.0.0.1:0");
    // Stops the server; what it said goes with a failed test's output.
    ~LineProcess();
    LineProcess(const LineProcess&) = delete;
    LineProcess& operator=(const LineProcess&) = delete;

    int Port() const { return port_; }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    ChildProcess& Process() { return process_; }

private:
    ChildProcess process_;
    int port_ = 0;
};

// The engines every API test runs on.
#define INSTANTIATE_FOR_ENGINES(suite)                                                             \
    INSTANTIATE_TEST_SUITE_P(Engines, suite, testing::Values("sqlite", "postgresql"),              \
                             [](const auto& engine) { return engine.param; })
