#include "server/Tokens.h"

#include "server/JsonInput.h"
#include "server/Refusal.h"
#include "server/Token.h"

namespace {

constexpr std::pair<TokenRole, const char*> RoleNames[] = {
    {TokenRole::Station, "station"}, {TokenRole::Viewer, "viewer"}, {TokenRole::Admin, "admin"}};

// Compared when the key finds no token, so that an unknown key costs what a known one does.
const std::string NoHash(64, '0');

} // namespace

std::optional<TokenRole> RoleNamed(const std::string& name) {
    for (const auto& [role, text] : RoleNames) {
        if (name == text) {
            return role;
        }
    }
    return std::nullopt;
}

const char* RoleName(TokenRole role) {
    for (const auto& [known, text] : RoleNames) {
        if (role == known) {
            return text;
        }
    }
    return "";
}

std::string AddToken(Database& db, const std::string& name, TokenRole role) {
    if (!IsName(name)) {
        throw Refusal(HttpStatus::BadRequest,
                      "a token's name is 1 to 64 letters, digits, '.', '_' or '-': " + name);
    }
    const NewToken token = MakeToken();
    db.Write([&](SqlSession& session) {
        if (!session.Run("SELECT 1 FROM tokens WHERE name = ? AND revoked_ms IS NULL", {name})
                 .empty()) {
            throw Refusal(HttpStatus::Conflict,
                          name +
                              " has a token already: revoke it first (tervix-line token revoke)");
        }
        session.Run(
            "INSERT INTO tokens (key, name, role, hash, created_ms) VALUES (?, ?, ?, ?, ?)",
            {token.Key, name, std::string(RoleName(role)), TokenHash(token.Text), session.NowMs()});
    });
    return token.Text;
}

bool RevokeToken(Database& db, const std::string& name) {
    bool revoked = false;
    db.Write([&](SqlSession& session) {
        revoked = !session
                       .Run("UPDATE tokens SET revoked_ms = ? WHERE name = ? AND revoked_ms IS NULL"
                            " RETURNING id",
                            {session.NowMs(), name})
                       .empty();
    });
    return revoked;
}

std::vector<TokenInfo> ListTokens(Database& db) {
    std::vector<TokenInfo> tokens;
    db.Read([&](SqlSession& session) {
        tokens.clear();
        for (const SqlRow& row : session.Run("SELECT name, role, created_ms FROM tokens"
                                             " WHERE revoked_ms IS NULL ORDER BY name")) {
            tokens.push_back(
                {row.Text(0), RoleNamed(row.Text(1)).value_or(TokenRole::Viewer), row.Int(2)});
        }
    });
    return tokens;
}

std::optional<Caller> Authenticate(Database& db, const std::string& text) {
    const std::optional<std::string> key = TokenKey(text);
    if (!key) {
        return std::nullopt;
    }
    SqlRows rows;
    db.Read([&](SqlSession& session) {
        rows = session.Run(
            "SELECT name, role, hash FROM tokens WHERE key = ? AND revoked_ms IS NULL", {*key});
    });
    const bool same = SameHash(TokenHash(text), rows.empty() ? NoHash : rows.at(0).Text(2));
    if (rows.empty() || !same) {
        return std::nullopt;
    }
    return Caller{rows.at(0).Text(0), RoleNamed(rows.at(0).Text(1)).value_or(TokenRole::Viewer)};
}
