#include "line/LineSerialStore.h"

#include "line/LinePush.h"
#include "line/RecordFile.h"
#include "line/SerialJournal.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <thread>

namespace {

// How long a board waits for the server to hear that its number is being written: a server
// started again comes back within it, and the lease lasts longer.
constexpr auto WritingPatience = std::chrono::seconds(10);
constexpr auto WritingRetry = std::chrono::milliseconds(250);

} // namespace

std::string NewRecordId(const std::string& station) {
    std::random_device random;
    char part[24];
    std::snprintf(part, sizeof part, "%08x%08x", static_cast<unsigned>(random()),
                  static_cast<unsigned>(random()));
    return (station.empty() ? HostName() : station) + "-" + part;
}

LineSerialStore::LineSerialStore(const LineSettings& settings, const LineAddress& address,
                                 std::function<bool()> stopped)
    : settings_(settings), client_(address, settings.Token), spool_(settings.Spool),
      stopped_(std::move(stopped)) {}

LineSerialStore::~LineSerialStore() = default;

bool LineSerialStore::Reserve(const std::string& port, std::string& value, std::string& why) {
    nlohmann::json body{{"port", port}, {"lease_seconds", settings_.LeaseSeconds}};
    if (!settings_.Station.empty()) {
        body["station"] = settings_.Station;
    }
    const LineReply reply =
        client_.Call("POST", "/api/v1/pools/" + settings_.Pool + "/reservations", body);
    const nlohmann::json& answer = reply.Body;
    if (!reply.Ok() || !answer.is_object() || !answer.contains("id") ||
        !answer["id"].is_number_integer() || !answer.contains("serial") ||
        !answer["serial"].is_string()) {
        why =
            "no serial number from the pool " + settings_.Pool + ": " +
            (reply.Ok() ? "the line server " + settings_.Url + " answered without one" : reply.Why);
        return false;
    }
    reservation_ = answer["id"].get<std::int64_t>();
    value = answer["serial"].get<std::string>();
    renewer_ = std::make_unique<LeaseRenewer>(client_, *reservation_, settings_.LeaseSeconds);
    return true;
}

bool LineSerialStore::Writing(std::string& why) {
    const std::string path = "/api/v1/reservations/" + std::to_string(*reservation_) + "/renew";
    const nlohmann::json body{{"written", true}, {"lease_seconds", settings_.LeaseSeconds}};
    const auto deadline = std::chrono::steady_clock::now() +
                          std::min<std::chrono::milliseconds>(
                              WritingPatience, std::chrono::seconds(settings_.LeaseSeconds) / 2);
    for (;;) {
        const LineReply reply = client_.Call("POST", path, body);
        if (reply.Ok()) {
            return true;
        }
        if (!reply.Away() || stopped_() || std::chrono::steady_clock::now() >= deadline) {
            why = "the line server did not hear that the number is being written (" + reply.Why +
                  "), so it was not written";
            return false;
        }
        std::this_thread::sleep_for(WritingRetry);
    }
}

bool LineSerialStore::End(const std::string&, const char* event, const std::string&,
                          const nlohmann::ordered_json* record, std::string& why) {
    renewer_.reset();
    if (!reservation_) {
        return true; // a kept number: its record goes alone
    }
    SpoolEntry end{NewSpoolId(), settings_.Url, event, *reservation_, {}};
    std::vector<SpoolEntry> entries;
    if (record != nullptr) {
        if (std::string(event) == JournalEvent::Used) {
            end.Record = *record;
        } else {
            entries.push_back({NewSpoolId(), settings_.Url, SpoolKind::Record, 0, *record});
        }
        recordTaken_ = true;
    } else if (std::string(event) == JournalEvent::Used) {
        // The server takes a used end only with the record that names the number.
        end.Kind = SpoolKind::Spoiled;
    }
    entries.push_back(std::move(end));
    return Spool(entries, why);
}

bool LineSerialStore::Record(const nlohmann::ordered_json& record, std::string& why) {
    if (recordTaken_) {
        return true;
    }
    recordTaken_ = true;
    return Spool({{NewSpoolId(), settings_.Url, SpoolKind::Record, 0, record}}, why);
}

bool LineSerialStore::Spool(const std::vector<SpoolEntry>& entries, std::string& why) {
    if (!spool_.Append(entries, why)) {
        return false;
    }
    std::set<std::string> ids;
    for (const SpoolEntry& entry : entries) {
        ids.insert(entry.Id);
    }
    // What the server does not take now waits for the run's parent, or the next run.
    PushSpool(spool_, settings_.Token, "", &ids);
    return true;
}
