#pragma once
// The line server as a board's store of serial numbers and records: a number is reserved for the
// board and its lease renewed while the board runs; the server hears that the number is being
// written before its first byte goes out; the board's end and its record go into the spool,
// synced, and from there to the server, so that a server away loses nothing. One board per
// store.

#include "line/LeaseRenewer.h"
#include "line/LineClient.h"
#include "line/LineSettings.h"
#include "line/LineSpool.h"
#include "line/SerialStore.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class LineSerialStore : public SerialStore {
public:
    // stopped tells whether the run is being stopped, so that no wait for the server outlasts
    // the stop.
    LineSerialStore(const LineSettings& settings, const LineAddress& address,
                    std::function<bool()> stopped);
    ~LineSerialStore() override;

    bool Reserve(const std::string& port, std::string& value, std::string& why) override;
    // The server keeps no number it did not give: the board's record names the kept one.
    bool Keep(const std::string&, const std::string&, std::string&) override { return true; }
    bool Writing(std::string& why) override;
    bool End(const std::string& value, const char* event, const std::string& recordTime,
             const nlohmann::ordered_json* record, std::string& why) override;
    bool NamesAsStored() const override { return true; }
    std::string Name() const override { return "the pool " + settings_.Pool; }

    // The board's record, unless its reservation's end took it already: spooled, then sent.
    // False, with why, when it could not be spooled.
    bool Record(const nlohmann::ordered_json& record, std::string& why);

private:
    bool Spool(const std::vector<SpoolEntry>& entries, std::string& why);

    LineSettings settings_;
    LineClient client_;
    LineSpool spool_;
    std::function<bool()> stopped_;
    std::optional<std::int64_t> reservation_;
    std::unique_ptr<LeaseRenewer> renewer_;
    bool recordTaken_ = false; // the board's record went with its reservation's end
};
