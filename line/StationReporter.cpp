#include "line/StationReporter.h"

StationReporter::StationReporter(LineClient client, const std::string& station,
                                 std::chrono::milliseconds period)
    : client_(std::move(client)), path_("/api/v1/stations/" + station), period_(period),
      thread_([this] { Run(); }) {}

StationReporter::~StationReporter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void StationReporter::Report(nlohmann::json state) {
    {
        std::lock_guard lock(mutex_);
        state_ = std::move(state);
        changed_ = true;
    }
    wake_.notify_all();
}

int StationReporter::Sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::string StationReporter::LastFailure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

void StationReporter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, period_, [this] { return changed_ || stopping_; });
        // A stop sends what changed last, so that the page sees how the station ended.
        if (state_.is_null() || (stopping_ && !changed_)) {
            if (stopping_) {
                return;
            }
            continue;
        }
        const nlohmann::json state = state_;
        changed_ = false;
        const bool last = stopping_;
        lock.unlock();
        const LineReply reply = client_.Call("PUT", path_, state);
        if (!last) {
            std::this_thread::sleep_for(Gap);
        }
        lock.lock();
        if (reply.Ok()) {
            ++sent_;
        } else {
            failure_ = reply.Why;
        }
        if (last) {
            return;
        }
    }
}

nlohmann::json StationState(const StationSnapshot& snapshot, const std::string& project,
                            const std::string& firmware, const std::string& sha256) {
    nlohmann::json positions = nlohmann::json::array();
    for (const PositionStatus& status : snapshot.Positions) {
        nlohmann::json position{{"position", status.Number}, {"port", status.Port}};
        switch (status.State) {
        case PositionState::Running:
            position["state"] = "flashing";
            position["stage"] = status.Stage;
            position["percent"] = status.Percent;
            break;
        case PositionState::Passed:
            position["state"] = "pass";
            position["serial"] =
                status.Serial.empty() ? nlohmann::json() : nlohmann::json(status.Serial);
            position["seconds"] = status.Seconds;
            break;
        case PositionState::Failed:
            position["state"] = "fail";
            position["reason"] = status.Reason;
            position["seconds"] = status.Seconds;
            break;
        default:
            position["state"] = "waiting";
        }
        positions.push_back(std::move(position));
    }
    return {{"project", project},
            {"firmware", firmware},
            {"firmware_hash", sha256.substr(0, 12)},
            {"positions", std::move(positions)}};
}
