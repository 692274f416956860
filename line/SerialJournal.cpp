#include "line/SerialJournal.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdint>

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
                              JournalEvent::Spoiled, JournalEvent::Kept}) {
        if (event == known) {
            return true;
        }
    }
    return false;
}

// Reads a line in the one shape JournalLineText gives it, without building a JSON document:
// nlohmann's parser needs some seconds for the million lines that serial status reads. Anything
// else (other spacing or order, escapes, bytes beyond ASCII) is left to nlohmann, so both read a
// line alike.
class Shape {
public:
    explicit Shape(std::string_view text) : rest_(text) {}

    bool Literal(std::string_view literal) {
        if (!rest_.starts_with(literal)) {
            return false;
        }
        rest_.remove_prefix(literal.size());
        return true;
    }

    bool String(std::string& value) {
        if (!Literal("\"")) {
            return false;
        }
        const std::size_t end = rest_.find('"');
        if (end == std::string_view::npos) {
            return false;
        }
        const std::string_view body = rest_.substr(0, end);
        for (const char c : body) {
            const auto byte = static_cast<unsigned char>(c);
            if (c == '\\' || byte < 0x20 || byte >= 0x80) {
                return false;
            }
        }
        value.assign(body);
        rest_.remove_prefix(end + 1);
        return true;
    }

    // A JSON integer: no plus sign, no leading zero.
    bool Integer(long long& value) {
        std::size_t length = rest_.starts_with('-') ? 1 : 0;
        const std::size_t first = length;
        while (length < rest_.size() && rest_[length] >= '0' && rest_[length] <= '9') {
            ++length;
        }
        if (length == first || (rest_[first] == '0' && length > first + 1)) {
            return false;
        }
        const auto [last, error] = std::from_chars(rest_.data(), rest_.data() + length, value);
        if (error != std::errc() || last != rest_.data() + length) {
            return false;
        }
        rest_.remove_prefix(length);
        return true;
    }

    bool Done() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

bool ShapedLine(std::string_view text, JournalLine& line) {
    Shape shape(text);
    if (!(shape.Literal("{\"time\":") && shape.String(line.Time) && shape.Literal(",\"event\":") &&
          shape.String(line.Event) && shape.Literal(",\"serial\":") && shape.String(line.Serial) &&
          shape.Literal(",\"port\":") && shape.String(line.Port) && shape.Literal(",\"host\":") &&
          shape.String(line.Host) && shape.Literal(",\"pid\":") && shape.Integer(line.Pid) &&
          shape.Literal(",\"record_time\":"))) {
        return false;
    }
    if (shape.Literal("null")) {
        line.RecordTime.clear();
    } else if (!shape.String(line.RecordTime)) {
        return false;
    }
    line.Kind.clear();
    return shape.Literal("}") && shape.Done();
}

bool JsonLine(std::string_view text, JournalLine& line) {
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    try {
        line.Time = json.at("time").get<std::string>();
        line.Event = json.at("event").get<std::string>();
        line.Host = json.at("host").get<std::string>();
        line.Pid = json.at("pid").get<long long>();
        line.Serial.clear();
        line.Port.clear();
        line.RecordTime.clear();
        line.Kind.clear();
        if (line.Event == JournalEvent::Init) {
            line.Kind = json.at("kind").get<std::string>();
            return true;
        }
        line.Serial = json.at("serial").get<std::string>();
        line.Port = json.at("port").get<std::string>();
        if (json.contains("record_time") && !json["record_time"].is_null()) {
            line.RecordTime = json["record_time"].get<std::string>();
        }
    } catch (const nlohmann::json::exception&) {
        return false;
    }
    return true;
}

} // namespace

std::string JournalLineText(const JournalLine& line) {
    nlohmann::ordered_json json;
    json["time"] = line.Time;
    json["event"] = line.Event;
    if (line.Event == JournalEvent::Init) {
        json["kind"] = line.Kind;
        json["host"] = line.Host;
        json["pid"] = line.Pid;
        return json.dump();
    }
    json["serial"] = line.Serial;
    json["port"] = line.Port;
    json["host"] = line.Host;
    json["pid"] = line.Pid;
    json["record_time"] = line.RecordTime.empty() ? nlohmann::ordered_json()
                                                  : nlohmann::ordered_json(line.RecordTime);
    return json.dump();
}

bool ParseJournalLine(std::string_view text, JournalLine& line, std::string& why) {
    if (!ShapedLine(text, line) && !JsonLine(text, line)) {
        why = "is not a journal line";
        return false;
    }
    if (line.Event == JournalEvent::Init) {
        if (line.Kind != StoreKind::Counter && line.Kind != StoreKind::List) {
            why = "names the unknown kind " + line.Kind;
            return false;
        }
    } else if (!KnownEvent(line.Event)) {
        why = "has the unknown event " + line.Event;
        return false;
    }
    return true;
}

bool JournalState::Take(const JournalLine& line, std::string& why) {
    ++Lines;
    if (line.Event == JournalEvent::Init) {
        if (Lines != 1) {
            why = "line " + std::to_string(Lines) + " says the kind of file, which only line 1 may";
            return false;
        }
        Kind = line.Kind;
        return true;
    }
    const auto number = Number(line.Serial);
    if (number && (!Highest || *number > *Highest)) {
        Highest = number;
    }
    if (line.Event == JournalEvent::Released) {
        Released.insert(line.Serial);
    } else {
        Released.erase(line.Serial);
    }
    if (line.Event == JournalEvent::Reserved) {
        Reserved[line.Serial] = line;
    } else {
        Reserved.erase(line.Serial);
    }
    if (EveryValue) {
        Latest[line.Serial] = line.Event;
    }
    return true;
}

bool TakeJournalText(std::string_view text, JournalState& state, std::size_t& taken,
                     std::string& why, const std::function<void(const JournalLine&)>& seen) {
    taken = 0;
    JournalLine line; // one for all lines: their strings reuse its storage
    std::string lineWhy;
    for (std::size_t end; (end = text.find('\n', taken)) != std::string_view::npos;) {
        const std::string_view raw = text.substr(taken, end - taken);
        taken = end + 1;
        if (raw.empty()) {
            ++state.Lines;
            continue;
        }
        if (!ParseJournalLine(raw, line, lineWhy)) {
            why = "line " + std::to_string(state.Lines + 1) + " " + lineWhy;
            return false;
        }
        if (!state.Take(line, why)) {
            return false;
        }
        if (seen) {
            seen(line);
        }
    }
    return true;
}

std::optional<std::uint64_t> NextCounterValue(std::uint64_t counter, std::uint64_t step,
                                              const JournalState& state) {
    std::optional<std::uint64_t> released;
    for (const std::string& serial : state.Released) {
        const auto value = Number(serial);
        if (value && (!released || *value < *released)) {
            released = value;
        }
    }
    if (released) {
        return released;
    }
    const std::optional<std::uint64_t>& highest = state.Highest;
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
                                         const JournalState& state) {
    for (const std::string& value : list) {
        const auto it = state.Latest.find(value);
        if (it == state.Latest.end() || it->second == JournalEvent::Released) {
            return value;
        }
    }
    return std::nullopt;
}
