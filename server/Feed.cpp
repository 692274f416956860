#include "server/Feed.h"

void AppendFeed(SqlSession& session, const char* kind, const Json& data, std::int64_t nowMs) {
    session.Send("INSERT INTO feed (time_ms, kind, body) VALUES (?, ?, ?)",
                 {nowMs, std::string(kind), data.dump()});
}

std::vector<FeedEvent> ReadFeed(SqlSession& session, std::int64_t afterId, std::int64_t limit) {
    std::vector<FeedEvent> events;
    for (const SqlRow& row :
         session.Run("SELECT id, kind, body FROM feed WHERE id > ? ORDER BY id LIMIT ?",
                     {afterId, limit})) {
        events.push_back({row.Int(0), row.Text(1), row.Text(2)});
    }
    return events;
}

std::int64_t LastFeedId(SqlSession& session) {
    return session.Run("SELECT COALESCE(MAX(id), 0) FROM feed").at(0).Int(0);
}

void PruneFeed(SqlSession& session, std::int64_t beforeMs) {
    session.Run("DELETE FROM feed WHERE time_ms < ?", {beforeMs});
}
