#pragma once
// Serves a board on a pseudo-terminal: the host opens the slave end as its serial port, the
// board answers on the master end.

#include "sim/BoardSession.h"

#include <string>

// Holds SIGINT and SIGTERM back so that they arrive only while the server waits for input and
// end it cleanly. Call before anything else, so an early signal is not lost.
void HoldStopSignals();

class PtyServer {
public:
    PtyServer() = default;
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens a raw pseudo-terminal pair; false with error set when that fails.
    bool Open(std::string& error);
    const std::string& SlavePath() const { return slavePath_; }

    // Serves until SIGINT or SIGTERM, or, with once, until the host has closed the port after
    // its first request. False with error set when the line fails.
    bool Serve(BoardSession& session, bool once, std::string& error);

private:
    void Send(const std::vector<std::uint8_t>& bytes);

    int master_ = -1;
    // Our own slave descriptor: without it the master reports a hang-up whenever no host has
    // the port open, before the first open included.
    int heldSlave_ = -1;
    std::string slavePath_;
};
