#pragma once
// Exit statuses of tervix-flash, one per stage that can fail, so a script can tell what to do
// with the board next without parsing the message.

namespace ExitStatus {
inline constexpr int Success = 0;
inline constexpr int Connection = 1; // no port, port declined, device read failed, wrong device
inline constexpr int File = 2;       // HEX file unreadable, invalid or empty, output not writable
inline constexpr int Erase = 3;
inline constexpr int Transfer = 4; // write, verify or read failed
inline constexpr int Finish = 5;   // setting run mode or closing the port failed
// A board's process was ended from outside (SIGKILL, a crash): its board may be half written.
inline constexpr int Killed = 6;
inline constexpr int Usage = 64; // bad command line, or a question that cannot be asked

// Stopped by a signal: 128 + its number, as the shells report it.
inline constexpr int Interrupted = 130; // SIGINT
inline constexpr int Terminated = 143;  // SIGTERM or SIGHUP
} // namespace ExitStatus

// The table printed at the end of every --help.
inline constexpr const char* ExitStatusHelp =
    "Exit status:\n"
    "  0   success\n"
    "  1   connection: no port answered, port declined,\n"
    "      device read failed or wrong device\n"
    "  2   file: HEX file unreadable, invalid or without\n"
    "      data to write, or the output file or temp.log\n"
    "      could not be written\n"
    "  3   erase failed\n"
    "  4   write, verify or read failed\n"
    "  5   setting run mode or closing the port failed\n"
    "  6   a board's process was killed from outside;\n"
    "      its board may be half written\n"
    "  64  usage error\n"
    "  130 interrupted by SIGINT (Ctrl-C)\n"
    "  143 interrupted by SIGTERM or SIGHUP\n";
