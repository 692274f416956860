#pragma once
// The tokens that let stations, viewers and administrators in: made and revoked on the
// database directly (tervix-line token), checked on every request.

#include "server/Database.h"

#include <optional>
#include <string>
#include <vector>

enum class TokenRole { Station, Viewer, Admin };

std::optional<TokenRole> RoleNamed(const std::string& name);
const char* RoleName(TokenRole role);

struct Caller {
    std::string Name; // the token's name
    TokenRole Role = TokenRole::Viewer;
};

// Stores a new token's hash under name and returns the token's text, which is never stored.
// Throws Refusal 400 for a bad name, 409 for a name that has a token already.
std::string AddToken(Database& db, const std::string& name, TokenRole role);
// False when name has no token.
bool RevokeToken(Database& db, const std::string& name);

struct TokenInfo {
    std::string Name;
    TokenRole Role = TokenRole::Viewer;
    std::int64_t CreatedMs = 0;
};
std::vector<TokenInfo> ListTokens(Database& db);

// Who holds the token text; none for anything that is not a valid, unrevoked token.
std::optional<Caller> Authenticate(Database& db, const std::string& text);
