#pragma once
// The line's HTTP API under /api/v1, and /healthz beside it; README.md ("Line server") lists
// every route with its JSON.

#include "server/Database.h"
#include "server/EventHub.h"
#include "server/TokenCheck.h"

#include <httplib.h>

inline constexpr std::size_t MaxRequestBytes = 1 << 20;

void AddRoutes(httplib::Server& server, Database& db, EventHub& hub, TokenCheck& tokens);
