#include "line/BoardRecord.h"

#include "line/RecordFile.h"
#include "line/UtcTime.h"
#include "link/PortNames.h"
#include "res/Version.h"

#include <cmath>

namespace {

template <class T> nlohmann::ordered_json OrNull(const std::optional<T>& value) {
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
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
    line["time"] = record.Outcome.Time.value_or(UtcTimeNow());
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
    line["serial"] = OrNull(record.Outcome.Serial);
    line["serial_unverified"] = OrNull(record.Outcome.SerialUnverified);
    line["tags"] = nlohmann::ordered_json::object();
    for (const auto& [key, value] : record.Tags) {
        line["tags"][key] = value;
    }
    line["tool_version"] = TervixVersion;
    line["station"] = OrNull(record.Place.Station);
    line["position"] = OrNull(record.Place.Position);
    line["project"] = OrNull(record.Place.Project);
    if (record.Id) {
        line["id"] = *record.Id;
    }
    return line;
}
