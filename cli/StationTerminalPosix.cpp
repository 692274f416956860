#include "cli/StationTerminal.h"

#include <cstdlib>
#include <cstring>

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

struct StationKeys::State {
    bool Terminal = false;
    termios Saved{};
    bool Ended = false;
};

StationKeys::StationKeys() : state_(std::make_unique<State>()) {
    if (tcgetattr(STDIN_FILENO, &state_->Saved) == 0) {
        termios raw = state_->Saved;
        // Keys one at a time and unseen; ISIG stays, so Ctrl-C still stops the station.
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        state_->Terminal = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
}

StationKeys::~StationKeys() {
    if (state_->Terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &state_->Saved);
    }
}

char StationKeys::Next(int timeoutMs) {
    if (state_->Ended) {
        poll(nullptr, 0, timeoutMs);
        return 0;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, timeoutMs) <= 0) {
        return 0;
    }
    char key = 0;
    if (read(STDIN_FILENO, &key, 1) != 1) {
        state_->Ended = true; // the input closed: no key comes any more
        return 0;
    }
    return key == '\r' ? '\n' : key;
}

void ConsoleSize(std::FILE* out, int& columns, int& rows) {
    winsize size{};
    columns = 80;
    rows = 24;
    if (ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        columns = size.ws_col;
        rows = size.ws_row;
    }
}

bool ConsoleColours(std::FILE* out) {
    const char* term = std::getenv("TERM");
    return isatty(fileno(out)) != 0 && std::getenv("NO_COLOR") == nullptr && term != nullptr &&
           std::strcmp(term, "dumb") != 0;
}
