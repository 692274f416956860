#include "tests/server/LineFixture.h"

#include "server/Pools.h"
#include "server/Tokens.h"
#include "tests/server/PostgresCluster.h"

#include <chrono>
#include <csignal>
#include <iostream>
#include <regex>

std::string NewDatabaseUrl(const std::string& engine, const TempFolder& folder) {
    if (engine == "sqlite") {
        return "sqlite:" + folder.File("line.db");
    }
    PostgresCluster& cluster = SharedPostgres();
    if (!cluster.Ready()) {
        ADD_FAILURE() << cluster.Problem();
        return {};
    }
    return cluster.NewDatabase();
}

Json BoardRecord(const std::string& id, const Json& serial, int exitStatus,
                 const std::string& time) {
    Json record;
    record["id"] = id;
    record["time"] = time;
    record["host"] = "line-3";
    record["command"] = "flash";
    record["port"] = "COM3";
    record["result"] = exitStatus == 0 ? "504 blocks erased, 8 rows written and verified"
                                       : "verify mismatch at row 0x0210";
    record["exit_status"] = exitStatus;
    record["serial"] = serial;
    record["tags"] = {{"lot", "2026-49"}};
    return record;
}

void LineFixture::SetUp() {
    url_ = NewDatabaseUrl(GetParam(), folder_);
    ASSERT_FALSE(url_.empty());
    db_ = OpenDatabase(url_);
    AddCounterPool(*db_, "widget", 1000, 1);
    station_ = AddToken(*db_, "bench-3", TokenRole::Station);
    viewer_ = AddToken(*db_, "wall", TokenRole::Viewer);
    admin_ = AddToken(*db_, "ann", TokenRole::Admin);
    StartServer();
}

void LineFixture::TearDown() {
    StopServer();
}

void LineFixture::StartServer() {
    ListenOptions options;
    options.Port = 0;
    server_ = std::make_unique<LineServer>(*db_, options);
    thread_ = std::thread([this] { server_->Run(); });
}

void LineFixture::StopServer() {
    if (server_) {
        server_->Stop();
        thread_.join();
        server_.reset();
    }
}

Reply LineFixture::Call(const std::string& method, const std::string& path, const std::string& body,
                        const std::string& token) const {
    return Request(server_->Port(), method, path, body, token);
}

Reply Request(int port, const std::string& method, const std::string& path, const std::string& body,
              const std::string& token) {
    httplib::Client client("127.0.0.1", port);
    httplib::Headers headers;
    if (!token.empty()) {
        headers.emplace("Authorization", "Bearer " + token);
    }
    httplib::Result result = method == "GET" ? client.Get(path, headers)
                             : method == "PUT"
                                 ? client.Put(path, headers, body, "application/json")
                                 : client.Post(path, headers, body, "application/json");
    if (!result) {
        ADD_FAILURE() << method << " " << path << ": " << httplib::to_string(result.error());
        return {};
    }
    Reply reply;
    reply.Status = result->status;
    if (!result->body.empty()) {
        reply.Body = Json::parse(result->body, nullptr, false);
        EXPECT_FALSE(reply.Body.is_discarded()) << method << " " << path << ": " << result->body;
    }
    return reply;
}

Reply LineFixture::Reserve(const std::string& port, int leaseSeconds) const {
    return Post("/api/v1/pools/widget/reservations",
                {{"port", port}, {"lease_seconds", leaseSeconds}});
}

Reply LineFixture::End(std::int64_t id, const std::string& how) const {
    const std::string path = "/api/v1/reservations/" + std::to_string(id) + "/" + how;
    if (how != "used") {
        return Post(path, Json::object());
    }
    const Reply reservation = Get("/api/v1/reservations/" + std::to_string(id));
    return Post(path, {{"record",
                        BoardRecord("rec-" + std::to_string(id), reservation.Body["serial"], 0)}});
}

std::int64_t LineFixture::Rows(const std::string& table) const {
    std::int64_t rows = 0;
    db_->Read([&](SqlSession& session) {
        rows = session.Run("SELECT COUNT(*) FROM " + table).at(0).Int(0);
    });
    return rows;
}

EventListener::EventListener(int port, const std::string& query) : client_("127.0.0.1", port) {
    // Longer than the server's 15 s between keep-alive lines.
    client_.set_read_timeout(60);
    thread_ = std::thread([this, query] {
        client_.Get(("/api/v1/events?" + query).c_str(),
                    [this](const char* data, std::size_t size) {
                        std::lock_guard lock(mutex_);
                        text_.append(data, size);
                        changed_.notify_all();
                        return true;
                    });
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    });
}

EventListener::~EventListener() {
    client_.stop();
    thread_.join();
}

bool EventListener::Await(const std::string& text, int seconds) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds),
                             [&] { return text_.find(text) != std::string::npos; });
}

std::string EventListener::Text() {
    std::lock_guard lock(mutex_);
    return text_;
}

bool EventListener::AwaitEnd() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return ended_; });
}

namespace {

std::vector<std::string> ServeArgs(const std::string& url, const std::vector<std::string>& more,
                                   const std::string& listen) {
    std::vector<std::string> args{"serve", "--db", url, "--listen", listen};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

} // namespace

LineProcess::LineProcess(const std::string& folder, const std::string& url,
                         const std::vector<std::string>& more, const std::string& listen)
    : process_("tervix-line", ServeArgs(url, more, listen), folder) {
    // The port is whole once the text after it has come.
    std::smatch port;
    const std::string err =
        process_.AwaitError(", database ", ProcessTimeoutMs) ? process_.Err() : std::string();
    if (std::regex_search(err, port, std::regex(":([0-9]+), database "))) {
        port_ = std::stoi(port[1]);
    }
    EXPECT_GT(port_, 0) << process_.Err();
}

LineProcess::~LineProcess() {
    process_.Signal(SIGTERM);
    process_.Wait(ProcessTimeoutMs);
    if (testing::Test::HasFailure()) {
        std::cerr << "tervix-line on port " << port_ << ":\n" << process_.Err();
    }
}
