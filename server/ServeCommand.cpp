#include "server/Commands.h"

#include "server/Database.h"
#include "server/Schema.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <iostream>
#include <thread>

#include <pthread.h>

namespace {

// "HOST:PORT", "[V6]:PORT" or "PORT"; false for anything else.
bool SplitListen(const std::string& listen, ListenOptions& options) {
    const std::size_t colon = listen.rfind(':');
    std::string host = colon == std::string::npos ? "127.0.0.1" : listen.substr(0, colon);
    const std::string port = colon == std::string::npos ? listen : listen.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos || std::stoi(port) > 65535) {
        return false;
    }
    options.Host = host;
    options.Port = std::stoi(port);
    return true;
}

} // namespace

int Serve(const std::string& url, const std::string& listen, const ListenOptions& tls) {
    ListenOptions options = tls;
    if (!SplitListen(listen, options)) {
        std::cerr << "tervix-line: --listen takes HOST:PORT, not " << listen << std::endl;
        return LineExit::Usage;
    }
    // SIGINT and SIGTERM are taken by one thread of their own, so every other thread (made
    // from here on) leaves them to it; a client that goes away mid-answer is no signal at all.
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopping, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<Database> db;
    std::unique_ptr<LineServer> server;
    try {
        db = OpenDatabase(url);
        server = std::make_unique<LineServer>(*db, options);
    } catch (const std::exception& error) {
        std::cerr << "tervix-line: " << error.what() << std::endl;
        return LineExit::Failure;
    }
    std::atomic<bool> ended{false};
    std::atomic<int> signal{0};
    std::thread waiter([&] {
        const timespec tick{0, 200'000'000};
        while (!ended) {
            if (const int got = sigtimedwait(&stopping, nullptr, &tick); got > 0) {
                signal = got;
                server->Stop();
                return;
            }
        }
    });
    std::cerr << "tervix-line: listening on " << (options.TlsCert.empty() ? "http" : "https")
              << "://" << options.Host << ":" << server->Port() << ", database " << ShownUrl(url)
              << " (" << db->Engine() << ", schema " << SchemaVersion << ")" << std::endl;
    const bool served = server->Run();
    ended = true;
    waiter.join();
    server.reset();
    db.reset();
    if (signal != 0) {
        std::cerr << "tervix-line: stopped by SIG" << sigabbrev_np(signal) << std::endl;
        return LineExit::Success;
    }
    std::cerr << "tervix-line: serving stopped" << std::endl;
    return served ? LineExit::Success : LineExit::Failure;
}
