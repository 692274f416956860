#pragma once
// The feed: every change that the event stream reports (reservations, records, station states),
// written in the same transaction as the change, numbered by the database. Each server reads it
// to tell its own listeners, so a page sees what a station did through any server. Kept for an
// hour: it is a live view, the tables are the truth.

#include "server/JsonInput.h"
#include "server/Sql.h"

#include <cstdint>
#include <string>
#include <vector>

struct FeedEvent {
    std::int64_t Id = 0;
    std::string Kind; // "reservation", "record" or "station"
    std::string Data; // the object, as JSON text
};

void AppendFeed(SqlSession& session, const char* kind, const Json& data, std::int64_t nowMs);
// The events after afterId, oldest first, at most limit of them.
std::vector<FeedEvent> ReadFeed(SqlSession& session, std::int64_t afterId, std::int64_t limit);
// The largest number given so far, 0 for none.
std::int64_t LastFeedId(SqlSession& session);
// Removes the events older than the given time.
void PruneFeed(SqlSession& session, std::int64_t beforeMs);
