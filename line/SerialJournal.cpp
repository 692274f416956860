#include "line/SerialJournal.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdint>
#include <sstream>

namespace {

std::optional<std::uint64_t> Number(const std::string& text) {
    std::uint64_t value = 0;
    const auto [last, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || last != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool KnownEvent(const std::string& event) {
    for (const char* known : {JournalEvent::Reserved, JournalEvent::Used, JournalEvent::Released,
                              JournalEvent::Spoiled}) {
        if (event == known) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string JournalLineText(const JournalLine& line) {
    nlohmann::ordered_json json;
    json["time"] = line.Time;
    json["event"] = line.Event;
    json["serial"] = line.Serial;
    json["port"] = line.Port;
    json["host"] = line.Host;
    json["pid"] = line.Pid;
    json["record_time"] = line.RecordTime.empty() ? nlohmann::ordered_json()
                                                  : nlohmann::ordered_json(line.RecordTime);
    return json.dump();
}

std::optional<std::vector<JournalLine>> ParseJournal(const std::string& text, std::string& why) {
    std::vector<JournalLine> lines;
    std::istringstream in(text);
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
        ++number;
        if (raw.empty()) {
            continue;
        }
        const nlohmann::json json = nlohmann::json::parse(raw, nullptr, false);
        JournalLine line;
        try {
            line.Time = json.at("time").get<std::string>();
            line.Event = json.at("event").get<std::string>();
            line.Serial = json.at("serial").get<std::string>();
            line.Port = json.at("port").get<std::string>();
            line.Host = json.at("host").get<std::string>();
            line.Pid = json.at("pid").get<long long>();
            if (json.contains("record_time") && !json["record_time"].is_null()) {
                line.RecordTime = json["record_time"].get<std::string>();
            }
        } catch (const nlohmann::json::exception&) {
            why = std::string("line ") + std::to_string(number) + " is not a journal line";
            return std::nullopt;
        }
        if (!KnownEvent(line.Event)) {
            why = std::string("line ") + std::to_string(number) + " has the unknown event " +
                  line.Event;
            return std::nullopt;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::map<std::string, JournalLine> LatestLines(const std::vector<JournalLine>& lines) {
    std::map<std::string, JournalLine> latest;
    for (const JournalLine& line : lines) {
        latest[line.Serial] = line;
    }
    return latest;
}

std::optional<std::uint64_t> NextCounterValue(std::uint64_t counter, std::uint64_t step,
                                              const std::vector<JournalLine>& lines) {
    std::optional<std::uint64_t> released;
    std::optional<std::uint64_t> highest;
    for (const auto& [serial, line] : LatestLines(lines)) {
        const auto value = Number(serial);
        if (!value) {
            continue;
        }
        if (line.Event == JournalEvent::Released && (!released || *value < *released)) {
            released = value;
        }
        if (!highest || *value > *highest) {
            highest = value;
        }
    }
    if (released) {
        return released;
    }
    if (!highest || counter > *highest) {
        return counter;
    }
    const std::uint64_t steps = (*highest - counter) / step + 1;
    if (steps > (UINT64_MAX - counter) / step) {
        return std::nullopt;
    }
    return counter + steps * step;
}

std::optional<std::string> NextListValue(const std::vector<std::string>& list,
                                         const std::vector<JournalLine>& lines) {
    const std::map<std::string, JournalLine> latest = LatestLines(lines);
    for (const std::string& value : list) {
        const auto it = latest.find(value);
        if (it == latest.end() || it->second.Event == JournalEvent::Released) {
            return value;
        }
    }
    return std::nullopt;
}
