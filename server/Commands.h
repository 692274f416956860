#pragma once
// tervix-line's commands; each returns the program's exit status (see ExitStatusHelp).

#include "server/LineServer.h"

#include <cstdint>
#include <optional>
#include <string>

namespace LineExit {
inline constexpr int Success = 0;
inline constexpr int Failure = 1; // the database or the address failed
inline constexpr int Refused = 2; // the line's rules refused it (a name taken, a bad list)
inline constexpr int Usage = 64;
} // namespace LineExit

inline constexpr const char* LineExitHelp = "Exit status:\n"
                                            "  0   success\n"
                                            "  1   the database cannot be used, or the\n"
                                            "      address cannot be listened on\n"
                                            "  2   refused: a name taken or unknown, a bad\n"
                                            "      pool, list or token\n"
                                            "  64  usage error\n";

// The address without a password, for messages.
std::string ShownUrl(const std::string& url);

int Serve(const std::string& url, const std::string& listen, const ListenOptions& tls);
int AddPool(const std::string& url, const std::string& name, std::optional<std::int64_t> start,
            std::int64_t step, const std::string& listFile);
int AddTokenCommand(const std::string& url, const std::string& name, const std::string& role);
int RevokeTokenCommand(const std::string& url, const std::string& name);
int ListTokensCommand(const std::string& url);
int Status(const std::string& url);
