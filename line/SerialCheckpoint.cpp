#include "line/SerialCheckpoint.h"

#include <nlohmann/json.hpp>

#include <charconv>

namespace {

// The tail in hexadecimal: its first bytes may be the end of a character cut in two.
std::string Hex(const std::string& bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

std::optional<std::string> Unhex(const std::string& text) {
    if (text.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned byte = 0;
        const auto [last, error] = std::from_chars(text.data() + i, text.data() + i + 2, byte, 16);
        if (error != std::errc() || last != text.data() + i + 2) {
            return std::nullopt;
        }
        bytes += static_cast<char>(byte);
    }
    return bytes;
}

} // namespace

void JournalCheckpoint::Grow(std::string_view text) {
    Bytes += text.size();
    if (text.size() >= TailBytes) {
        text.remove_prefix(text.size() - TailBytes);
        Tail.clear();
    }
    Tail += text;
    if (Tail.size() > TailBytes) {
        Tail.erase(0, Tail.size() - TailBytes);
    }
}

std::string CheckpointText(const JournalCheckpoint& checkpoint) {
    const JournalState& state = checkpoint.State;
    nlohmann::ordered_json json;
    json["journal_bytes"] = checkpoint.Bytes;
    json["journal_lines"] = state.Lines;
    json["journal_tail"] = Hex(checkpoint.Tail);
    json["kind"] = state.Kind;
    json["every_value"] = state.EveryValue;
    json["highest"] =
        state.Highest ? nlohmann::ordered_json(*state.Highest) : nlohmann::ordered_json();
    json["released"] = state.Released;
    json["reserved"] = nlohmann::ordered_json::array();
    for (const auto& [serial, line] : state.Reserved) {
        json["reserved"].push_back(JournalLineText(line));
    }
    json["latest"] = state.Latest;
    return json.dump() + "\n";
}

std::optional<JournalCheckpoint> ParseCheckpoint(const std::string& text) {
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    JournalCheckpoint checkpoint;
    JournalState& state = checkpoint.State;
    try {
        checkpoint.Bytes = json.at("journal_bytes").get<std::uint64_t>();
        state.Lines = json.at("journal_lines").get<std::uint64_t>();
        const auto tail = Unhex(json.at("journal_tail").get<std::string>());
        if (!tail || tail->size() > checkpoint.Bytes) {
            return std::nullopt;
        }
        checkpoint.Tail = *tail;
        state.Kind = json.at("kind").get<std::string>();
        state.EveryValue = json.at("every_value").get<bool>();
        if (!json.at("highest").is_null()) {
            state.Highest = json["highest"].get<std::uint64_t>();
        }
        state.Released = json.at("released").get<std::set<std::string>>();
        std::string why;
        for (const auto& reserved : json.at("reserved")) {
            JournalLine line;
            if (!ParseJournalLine(reserved.get<std::string>(), line, why)) {
                return std::nullopt;
            }
            state.Reserved[line.Serial] = line;
        }
        state.Latest = json.at("latest").get<std::map<std::string, std::string>>();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return checkpoint;
}
