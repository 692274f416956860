#include "server/Database.h"

#include "server/PostgresDatabase.h"
#include "server/SqliteDatabase.h"

#include <stdexcept>

std::unique_ptr<Database> OpenDatabase(const std::string& url) {
    if (url.starts_with("sqlite:") && url.size() > 7) {
        return std::make_unique<SqliteDatabase>(url.substr(7));
    }
    if (url.starts_with("postgresql://") || url.starts_with("postgres://")) {
        return std::make_unique<PostgresDatabase>(url);
    }
    throw std::invalid_argument("the database must be sqlite:FILE or postgresql://USER@HOST/DB, "
                                "not " +
                                url);
}
