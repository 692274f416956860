#pragma once
// tervix-line serving: the HTTP (or HTTPS) server over a database, with its event hub and
// housekeeping, from binding its address to a clean stop.

#include "server/Database.h"
#include "server/EventHub.h"
#include "server/Sweeper.h"
#include "server/TokenCheck.h"

#include <httplib.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

struct ListenOptions {
    std::string Host = "127.0.0.1";
    int Port = 8470;             // 0: any free port
    std::string TlsCert, TlsKey; // both or neither: PEM files
};

class LineServer {
public:
    // Binds the address; throws std::runtime_error when it cannot (address in use, bad
    // certificate).
    LineServer(Database& db, const ListenOptions& options);
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    int Port() const { return port_; }
    // Serves until Stop; false when serving failed.
    bool Run();
    // From any thread: the event streams end, the requests under way finish, Run returns.
    void Stop();

private:
    Database& db_;
    EventHub hub_;
    Sweeper sweeper_;
    TokenCheck tokens_;
    std::unique_ptr<httplib::Server> http_;
    int port_ = 0;
    // Whether Run is serving, and whether Stop was called: httplib ignores a stop that comes
    // before its loop has begun, so Stop waits for the loop or for Run not to serve at all.
    std::mutex runMutex_;
    std::condition_variable runChanged_;
    bool serving_ = false;
    bool stopped_ = false;
};
