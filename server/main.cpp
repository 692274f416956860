// tervix-line: the production line's server. Stations reserve serial numbers and send their
// boards' records over HTTP; the numbers' rules live in the database (SQLite or PostgreSQL).

#include "res/Version.h"
#include "server/Commands.h"
#include "server/LineHelpFormatter.h"

#include <CLI/CLI.hpp>

namespace {

constexpr const char* Description =
    "The production line's server: serial numbers and board records shared by every station of "
    "a line, over HTTP with JSON, kept in SQLite or PostgreSQL.";

constexpr const char* DbHelp =
    "The database: sqlite:FILE (created when missing) or "
    "postgresql://USER@HOST[:PORT]/DB (any libpq address; a password from ~/.pgpass or "
    "PGPASSFILE). Default: $TERVIX_LINE_DB";

void AddDb(CLI::App* command, std::string& db) {
    command->add_option("--db", db, DbHelp)
        ->envname("TERVIX_LINE_DB")
        ->required()
        ->option_text("URL");
}

CLI::App* AddCommand(CLI::App& parent, const char* name, const char* help) {
    CLI::App* command = parent.add_subcommand(name, help);
    command->footer(LineExitHelp);
    return command;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app(Description, "tervix-line");
    app.formatter(std::make_shared<LineHelpFormatter>());
    app.set_version_flag("--version", std::string("tervix-line ") + TervixVersion);
    app.set_help_all_flag("--help-all", "Print this help with every command's options and exit");
    app.footer(LineExitHelp);
    app.require_subcommand(1);

    std::string db;
    std::string listen = "127.0.0.1:8470";
    ListenOptions tls;
    CLI::App* serve = AddCommand(app, "serve", "Serve the line's HTTP API until SIGTERM or SIGINT");
    AddDb(serve, db);
    serve
        ->add_option("--listen", listen,
                     "Address and port to listen on (default 127.0.0.1:8470; 0.0.0.0:8470 for "
                     "every interface, port 0 for any free one). Default: $TERVIX_LINE_LISTEN")
        ->envname("TERVIX_LINE_LISTEN")
        ->option_text("HOST:PORT");
    CLI::Option* cert =
        serve
            ->add_option("--tls-cert", tls.TlsCert,
                         "Serve HTTPS with this certificate (PEM, with its chain). Default: "
                         "$TERVIX_LINE_TLS_CERT")
            ->envname("TERVIX_LINE_TLS_CERT")
            ->check(CLI::ExistingFile)
            ->option_text("FILE");
    CLI::Option* key =
        serve
            ->add_option("--tls-key", tls.TlsKey,
                         "The certificate's private key (PEM). Default: $TERVIX_LINE_TLS_KEY")
            ->envname("TERVIX_LINE_TLS_KEY")
            ->check(CLI::ExistingFile)
            ->option_text("FILE");
    cert->needs(key);
    key->needs(cert);

    CLI::App* pool = AddCommand(app, "pool", "Serial-number pools");
    pool->require_subcommand(1);
    std::string poolName;
    std::optional<std::int64_t> start;
    std::int64_t step = 1;
    std::string listFile;
    CLI::App* poolAdd = AddCommand(*pool, "add", "Add a pool: a counter or a list of values");
    poolAdd->add_option("name", poolName, "The pool's name (letters, digits, '.', '_', '-')")
        ->required();
    AddDb(poolAdd, db);
    CLI::Option* startOption =
        poolAdd->add_option("--start", start, "A counter: its first number")->option_text("N");
    poolAdd->add_option("--step", step, "The counter's step (default 1)")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{1} << 40))
        ->needs(startOption)
        ->option_text("S");
    CLI::Option* listOption =
        poolAdd->add_option("--list", listFile, "A list: one value per line, each given once")
            ->check(CLI::ExistingFile)
            ->option_text("FILE");
    startOption->excludes(listOption);
    poolAdd->callback([&] {
        if (!start && listFile.empty()) {
            throw CLI::RequiredError("--start N or --list FILE");
        }
    });

    CLI::App* token =
        AddCommand(app, "token", "Access tokens of stations, viewers, administrators");
    token->require_subcommand(1);
    std::string tokenName;
    std::string role;
    CLI::App* tokenAdd =
        AddCommand(*token, "add", "Make a token and print it, alone, once: only its hash is kept");
    tokenAdd->add_option("name", tokenName, "Who holds it: a station's name, a person's")
        ->required();
    AddDb(tokenAdd, db);
    tokenAdd
        ->add_option("--role", role,
                     "station: reserve numbers, send records and states; viewer: read only; "
                     "admin: both")
        ->required()
        ->check(CLI::IsMember({"station", "viewer", "admin"}));
    CLI::App* tokenRevoke = AddCommand(*token, "revoke", "Revoke the token of a name");
    tokenRevoke->add_option("name", tokenName, "The token's name")->required();
    AddDb(tokenRevoke, db);
    CLI::App* tokenList = AddCommand(*token, "list", "List the tokens in use (names and roles)");
    AddDb(tokenList, db);

    CLI::App* status = AddCommand(app, "status",
                                  "Show the pools with their next numbers, the stations seen, the "
                                  "reservations open");
    AddDb(status, db);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int exit = app.exit(error);
        return exit == 0 ? LineExit::Success : LineExit::Usage;
    }
    if (serve->parsed()) {
        return Serve(db, listen, tls);
    }
    if (poolAdd->parsed()) {
        return AddPool(db, poolName, start, step, listFile);
    }
    if (tokenAdd->parsed()) {
        return AddTokenCommand(db, tokenName, role);
    }
    if (tokenRevoke->parsed()) {
        return RevokeTokenCommand(db, tokenName);
    }
    if (tokenList->parsed()) {
        return ListTokensCommand(db);
    }
    return Status(db);
}
