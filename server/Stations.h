#pragma once
// What each station last said of itself: its project, firmware and the state of every position,
// and when it was last heard from. A station reports whenever a position changes and at least
// every 20 s; the page shows one not heard from for a minute as gone.

#include "server/Database.h"
#include "server/JsonInput.h"

#include <string>

// Checks the report ("project", "firmware", "firmware_hash", "positions": [{"position", "port",
// "state", ...}]) and keeps it, with the feed's event. Throws Refusal 400 for a bad one.
Json ReportStation(Database& db, const std::string& name, Json report, const std::string& token);
// Every station's last report with "name", "last_seen" and "seconds_since_seen", by name.
Json ListStations(Database& db);
