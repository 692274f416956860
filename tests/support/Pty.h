#pragma once
// A pseudo-terminal pair standing in for a serial line: the code under test opens the slave end
// by its path, the test plays the far side on the master end. A pseudo-terminal has no modem
// lines and always reports an empty output queue.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class Pty {
public:
    // Opens the pair with both ends raw. Ok() tells whether that worked.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool Ok() const { return master_ >= 0 && heldSlave_ >= 0; }
    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    // A slave descriptor kept open for the pair's life, so the master end never sees a hang-up
    // between one open of the slave and the next. Tests may also inspect the line settings on it.
    int HeldSlave() const { return heldSlave_; }

    // Writes every byte to the master end; false when that fails or stalls for timeoutMs.
    bool Send(const std::vector<std::uint8_t>& bytes, int timeoutMs = 5000);
    // Waits until at least count bytes sent wait unread at the slave end; false after timeoutMs.
    bool AwaitUnread(std::size_t count, int timeoutMs = 5000) const;
    // Reads from the master end until count bytes have come or timeoutMs has passed.
    std::vector<std::uint8_t> Receive(std::size_t count, int timeoutMs = 5000);

private:
    int master_ = -1;
    int heldSlave_ = -1;
    std::string slavePath_;
};
