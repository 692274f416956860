#include "server/Yield.h"

#include "server/IsoTime.h"

namespace {

constexpr std::int64_t HourMs = 3600000;

} // namespace

Json Yield(Database& db, const YieldQuery& query) {
    const char* key = query.By == YieldBy::Station ? "station"
                      : query.By == YieldBy::Lot   ? "lot"
                                                   : "time_ms / 3600000";
    // A board's first record in the range is its first pass; records without a serial number
    // are boards of their own.
    const std::string sql =
        std::string("WITH r AS (SELECT ") + key +
        " AS k, passed, CASE WHEN serial IS NULL THEN 1"
        " ELSE ROW_NUMBER() OVER (PARTITION BY serial ORDER BY time_ms, seq) END AS nth"
        " FROM records WHERE time_ms >= ? AND time_ms < ?"
        " AND (CAST(? AS TEXT) IS NULL OR station = ?) AND (CAST(? AS TEXT) IS NULL OR lot = ?))"
        " SELECT k, SUM(passed), COUNT(*) - SUM(passed), SUM(CASE WHEN nth = 1 THEN 1 ELSE 0 END),"
        " SUM(CASE WHEN nth = 1 AND passed = 1 THEN 1 ELSE 0 END) FROM r GROUP BY k ORDER BY k";
    const SqlValue station = OrNull(query.Station), lot = OrNull(query.Lot);
    Json groups;
    db.Read([&](SqlSession& session) {
        groups = Json::array();
        for (const SqlRow& row :
             session.Run(sql, {query.SinceMs, query.UntilMs, station, station, lot, lot})) {
            Json group;
            switch (query.By) {
            case YieldBy::Station:
                group["station"] = row.Text(0);
                break;
            case YieldBy::Lot:
                group["lot"] = row.IsNull(0) ? Json(nullptr) : Json(row.Text(0));
                break;
            case YieldBy::Hour:
                group["hour"] = IsoFromMs(row.Int(0) * HourMs);
                break;
            }
            const std::int64_t boards = row.Int(3);
            group["passed"] = row.Int(1);
            group["failed"] = row.Int(2);
            group["boards"] = boards;
            group["first_pass"] = row.Int(4);
            group["first_pass_yield"] =
                boards > 0 ? Json(static_cast<double>(row.Int(4)) / static_cast<double>(boards))
                           : Json(nullptr);
            groups.push_back(std::move(group));
        }
    });
    return groups;
}
