#include "tests/server/PostgresCluster.h"

#include <libpq-fe.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* Bin = "/usr/lib/postgresql/15/bin";
constexpr const char* User = "tervix";

// A loopback port that nothing listens on now.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
}

// Starts program as uid/gid with output to log; with dieWithParent, it gets SIGINT (a fast
// shutdown) when the test program ends however it ends.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, uid_t uid, gid_t gid,
            const std::string& log, bool dieWithParent) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    // The cluster's folder, which its user may enter.
    const std::string folder = log.substr(0, log.rfind('/'));
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    // Only async-signal-safe calls from here: the test program may run threads.
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 || setsid() < 0 ||
        chdir(folder.c_str()) != 0) {
        _exit(127);
    }
    if (getuid() != uid && (setgid(gid) != 0 || setuid(uid) != 0)) {
        _exit(127);
    }
    // Set after the change of user, which clears it.
    if (dieWithParent && (prctl(PR_SET_PDEATHSIG, SIGINT) != 0 || getppid() != parent)) {
        _exit(127);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
}

} // namespace

PostgresCluster::PostgresCluster() : bin_(Bin) {
    uid_ = getuid();
    gid_ = getgid();
    if (uid_ == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (nobody == nullptr) {
            problem_ = "no user nobody to run PostgreSQL as";
            return;
        }
        uid_ = nobody->pw_uid;
        gid_ = nobody->pw_gid;
    }
    // Not under the tests' own temporary folders, which only root may enter.
    std::string pattern = (std::filesystem::temp_directory_path() / "tervix-pg-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr || chown(pattern.c_str(), uid_, gid_) != 0) {
        problem_ = "cannot make a folder for the cluster";
        return;
    }
    root_ = pattern;
    if (const int status =
            RunAs(bin_ + "/initdb", {"-D", root_ + "/data", "-U", User, "-A", "trust", "--no-sync",
                                     "-E", "UTF8", "--locale=C"});
        status != 0) {
        problem_ =
            "initdb failed with status " + std::to_string(status) + ", see " + root_ + "/log";
        return;
    }
    port_ = FreePort();
    Start();
}

PostgresCluster::~PostgresCluster() {
    Stop();
    if (!root_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

int PostgresCluster::RunAs(const std::string& program, const std::vector<std::string>& args) {
    const pid_t pid = Spawn(program, args, uid_, gid_, root_ + "/log", false);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool PostgresCluster::Start() {
    // Durability is not what these tests are about: no sync, for speed.
    pid_ = Spawn(bin_ + "/postgres",
                 {"-D", root_ + "/data", "-p", std::to_string(port_), "-k", root_, "-c",
                  "listen_addresses=127.0.0.1", "-c", "fsync=off", "-c", "synchronous_commit=off",
                  "-c", "full_page_writes=off", "-c", "max_connections=200"},
                 uid_, gid_, root_ + "/log", true);
    if (pid_ < 0 || !AwaitConnection()) {
        problem_ = "PostgreSQL did not start, see " + root_ + "/log";
        Stop();
        return false;
    }
    return true;
}

void PostgresCluster::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGINT);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

bool PostgresCluster::AwaitConnection() {
    const std::string url =
        "postgresql://" + std::string(User) + "@127.0.0.1:" + std::to_string(port_) + "/postgres";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        if (PQping(url.c_str()) == PQPING_OK) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string PostgresCluster::NewDatabase() {
    const std::string name = "line" + std::to_string(++databases_);
    const std::string server =
        "postgresql://" + std::string(User) + "@127.0.0.1:" + std::to_string(port_) + "/";
    PGconn* connection = PQconnectdb((server + "postgres").c_str());
    PGresult* result = PQexec(connection, ("CREATE DATABASE " + name).c_str());
    const bool created = PQresultStatus(result) == PGRES_COMMAND_OK;
    const std::string error = PQerrorMessage(connection);
    PQclear(result);
    PQfinish(connection);
    if (!created) {
        throw std::runtime_error("CREATE DATABASE " + name + " failed: " + error);
    }
    return server + name;
}

PostgresCluster& SharedPostgres() {
    static PostgresCluster cluster;
    return cluster;
}
