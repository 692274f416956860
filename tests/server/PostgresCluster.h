#pragma once
// A PostgreSQL server of the tests' own: a cluster made with initdb in a temporary folder and
// started on a free loopback port, as an unprivileged user when the tests run as root (CI
// does), which PostgreSQL insists on. It dies with the test program, even one that crashes.

#include <string>
#include <vector>

#include <sys/types.h>

class PostgresCluster {
public:
    // Makes and starts the cluster; Ready() says whether that worked, Problem() why not.
    PostgresCluster();
    // Stops the server and removes the cluster.
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    bool Ready() const { return pid_ > 0; }
    const std::string& Problem() const { return problem_; }

    // A new, empty database and its address.
    std::string NewDatabase();
    // Stops the server and starts it again on the same port and files: a database that goes
    // away and comes back.
    void Stop();
    bool Start();

private:
    // Runs a program of PostgreSQL's as the cluster's user; its exit status.
    int RunAs(const std::string& program, const std::vector<std::string>& args);
    bool AwaitConnection();

    std::string root_;
    std::string bin_;
    int port_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    pid_t pid_ = -1;
    int databases_ = 0;
    std::string problem_;
};

// The one cluster of the test program, started when first asked for and stopped at its end.
PostgresCluster& SharedPostgres();
