#pragma once
// The line's tables, created or brought up to date inside the caller's write transaction;
// schema_version holds the version reached. Throws SqlError, also for a database written by a
// newer tervix-line.

#include "server/Sql.h"

inline constexpr int SchemaVersion = 1;

void MigrateSqlite(SqlSession& session);
void MigratePostgres(SqlSession& session);
