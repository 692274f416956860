#include "server/LineServer.h"

#include "server/Routes.h"

#include <chrono>
#include <stdexcept>

#include <sys/socket.h>

namespace {

// One thread per connection at a time: stations keep theirs open between requests, and each
// page holds one for its event stream.
constexpr std::size_t Threads = 64;
constexpr std::size_t RequestsPerConnection = 1000;

} // namespace

LineServer::LineServer(Database& db, const ListenOptions& options)
    : db_(db), hub_(db), sweeper_(db), tokens_(db) {
    if (options.TlsCert.empty() != options.TlsKey.empty()) {
        throw std::runtime_error("--tls-cert and --tls-key go together");
    }
    if (options.TlsCert.empty()) {
        http_ = std::make_unique<httplib::Server>();
    } else {
        http_ =
            std::make_unique<httplib::SSLServer>(options.TlsCert.c_str(), options.TlsKey.c_str());
    }
    if (!http_->is_valid()) {
        throw std::runtime_error("cannot use the certificate " + options.TlsCert + " and key " +
                                 options.TlsKey);
    }
    http_->new_task_queue = [] { return new httplib::ThreadPool(Threads); };
    http_->set_payload_max_length(MaxRequestBytes);
    // Small answers leave at once rather than waiting for the client's acknowledgement.
    http_->set_tcp_nodelay(true);
    http_->set_keep_alive_max_count(RequestsPerConnection);
    // httplib's own options add SO_REUSEPORT, with which a second server would share the port
    // of a running one without a word; an address in use must be refused.
    http_->set_socket_options([](socket_t socket) {
        const int yes = 1;
        setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    AddRoutes(*http_, db_, hub_, tokens_);
    db_.OnCommit([this] { hub_.Wake(); });
    if (options.Port == 0) {
        port_ = http_->bind_to_any_port(options.Host);
    } else if (http_->bind_to_port(options.Host, options.Port)) {
        port_ = options.Port;
    } else {
        port_ = -1;
    }
    if (port_ <= 0) {
        db_.OnCommit(nullptr);
        throw std::runtime_error("cannot listen on " + options.Host + ":" +
                                 std::to_string(options.Port));
    }
}

LineServer::~LineServer() {
    db_.OnCommit(nullptr);
}

bool LineServer::Run() {
    {
        std::lock_guard lock(runMutex_);
        if (stopped_) {
            return true;
        }
        serving_ = true;
    }
    const bool served = http_->listen_after_bind();
    {
        std::lock_guard lock(runMutex_);
        serving_ = false;
    }
    runChanged_.notify_all();
    return served;
}

void LineServer::Stop() {
    hub_.Close();
    std::unique_lock lock(runMutex_);
    stopped_ = true;
    while (serving_ && !http_->is_running()) {
        runChanged_.wait_for(lock, std::chrono::milliseconds(1));
    }
    lock.unlock();
    http_->stop();
}
