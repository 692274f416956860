#include "cli/BoardRecord.h"

#include "cli/Messages.h"
#include "cli/RecordFile.h"
#include "link/PortNames.h"

#include <chrono>
#include <cmath>

namespace {

template <class T> nlohmann::ordered_json OrNull(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// ISO 8601 in UTC, to the second: "2026-12-07T15:04:05Z".
std::string UtcNow() {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date(day);
    const hh_mm_ss time(now - day);
    return Format("%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()),
                  static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
}

} // namespace

nlohmann::ordered_json RecordJson(const BoardRecord& record) {
    std::optional<std::string> devicePath;
    if (record.Port) {
        if (std::string path = ResolveComName(record.Port->c_str()); !path.empty()) {
            devicePath = path;
        }
    }
    nlohmann::ordered_json line;
    line["time"] = UtcNow();
    line["host"] = HostName();
    line["command"] = record.Command;
    line["port"] = OrNull(record.Port);
    line["device_path"] = OrNull(devicePath);
    line["device"] = OrNull(record.Outcome.Device);
    line["file"] = OrNull(record.File);
    line["sha256"] = OrNull(record.Sha256);
    line["rows"] = record.Outcome.Rows;
    line["requests"] = record.Requests;
    line["seconds"] = std::round(record.Seconds * 1000.0) / 1000.0;
    line["result"] = record.Outcome.Result;
    line["exit_status"] = record.ExitStatus;
    return line;
}
