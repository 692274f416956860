#include "line/Station.h"

#include "line/PortWatch.h"
#include "link/Packet.h"

#include <cstdio>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// What a look found, in a few words for the position's tile.
std::string SightText(const ProbedPort& look) {
    switch (look.Finding) {
    case PortFinding::NoDevice:
        return "no device";
    case PortFinding::InUse:
        return "in use by another program";
    case PortFinding::Refused:
        return "permission denied";
    case PortFinding::NotOpened:
        return "does not open";
    case PortFinding::NoAnswer:
        return "no answer";
    case PortFinding::NotUnderstood:
        return "replies not understood";
    case PortFinding::Device:
        break;
    }
    return "device number " + std::to_string(look.Device);
}

// The silent looks in a row with this one. A read that timed out may only have missed a slow
// answer; a port gone or a line dead (its board or adapter unplugged) holds no board at once.
int SilenceAfter(const ProbedPort& look, int silentLooks) {
    const bool timedOut =
        look.Finding == PortFinding::NoAnswer && look.Code == PacketResult::TimedOut;
    return timedOut ? silentLooks + 1 : Station::SilentLooksToArm;
}

template <class T> T ValueOr(const nlohmann::ordered_json& record, const char* key, T fallback) {
    const auto it = record.find(key);
    return it != record.end() && !it->is_null() ? it->get<T>() : fallback;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

} // namespace

Station::Station(StationSetup setup)
    : setup_(std::move(setup)), requested_(setup_.Ports.size(), 0),
      lot_(setup_.RecordFile, setup_.Project, setup_.Tags) {
    for (std::size_t i = 0; i < setup_.Ports.size(); ++i) {
        PositionStatus& position = positions_.emplace_back();
        position.Number = i + 1;
        position.Port = setup_.Ports[i];
    }
}

Station::~Station() {
    Quit();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void Station::Start() {
    ReadLot();
    std::lock_guard<std::mutex> guard(lock_);
    watching_ = positions_.size();
    for (std::size_t i = 0; i < positions_.size(); ++i) {
        threads_.emplace_back([this, i] { Watch(i); });
    }
}

void Station::StartAll() {
    std::lock_guard<std::mutex> guard(lock_);
    bool any = false;
    for (std::size_t i = 0; i < positions_.size(); ++i) {
        if (positions_[i].State == PositionState::Ready) {
            requested_[i] = 1;
            any = true;
        }
    }
    if (!any) {
        EventLocked(0, "no new board waits to be started");
    }
    wake_.notify_all();
}

void Station::StartOne(std::size_t number) {
    std::lock_guard<std::mutex> guard(lock_);
    if (number == 0 || number > positions_.size()) {
        EventLocked(0, "there is no position " + std::to_string(number));
        return;
    }
    requested_[number - 1] = 1;
    wake_.notify_all();
}

void Station::Quit() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!quitting_) {
        quitting_ = true;
        EventLocked(0, "no more jobs start; the station ends when the running ones have ended");
    }
    wake_.notify_all();
}

StationSnapshot Station::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    StationSnapshot snapshot;
    snapshot.Positions = positions_;
    snapshot.Station = station_.Counts();
    snapshot.Lot = lotCounts_;
    snapshot.LotProblem = lotProblem_;
    snapshot.JobsStarted = started_;
    snapshot.JobsEnded = ended_;
    snapshot.Events = events_;
    snapshot.Halt = halt_;
    snapshot.Quitting = quitting_;
    snapshot.Finished = watching_ == 0 && !threads_.empty();
    return snapshot;
}

bool Station::MayStartLocked() const {
    return !quitting_ && halt_.empty() && setup_.StopSignal() == 0 &&
           (setup_.Until == 0 || started_ < setup_.Until);
}

// A position ends once no job can start any more. A station stopped by its record file or serial
// numbers keeps showing its boards until the operator ends it, unless it runs for a number of
// jobs (a script's), which it can no longer reach.
bool Station::ClosingLocked() const {
    return quitting_ || setup_.StopSignal() != 0 ||
           (setup_.Until != 0 && (started_ >= setup_.Until || !halt_.empty()));
}

void Station::EventLocked(std::size_t position, const std::string& text) {
    events_.push_back({++eventCount_, std::chrono::system_clock::now(), position, text});
    while (events_.size() > KeptEvents) {
        events_.pop_front();
    }
}

void Station::ReadLot() {
    std::lock_guard<std::mutex> reading(lotLock_);
    std::string why;
    const bool read = lot_.ReadNew(why);
    std::lock_guard<std::mutex> guard(lock_);
    lotCounts_ = lot_.Counts();
    lotProblem_ = read ? std::string() : why;
}

void Station::Watch(std::size_t index) {
    PortWatch watch(setup_.LookNames.empty() ? setup_.Ports[index] : setup_.LookNames[index],
                    setup_.BaudRate, LookTimeoutMs);
    // A board already on its position when the station starts may have passed before it: it starts
    // by key alone (or once taken off and put back). Started by key, it waits for the key anyway.
    bool armed = setup_.Start == ProjectStart::Key;
    int silentLooks = SilentLooksToArm; // no board seen yet: one silent look arms
    std::unique_lock<std::mutex> guard(lock_);
    while (!ClosingLocked()) {
        const auto looked = Clock::now();
        guard.unlock();
        const ProbedPort look = watch.Look();
        guard.lock();
        PositionStatus& position = positions_[index];
        const std::string sight = SightText(look);
        const bool requested = std::exchange(requested_[index], 0) != 0;
        bool start = false;
        if (look.Finding == PortFinding::Device) {
            silentLooks = 0;
        }
        if (look.Finding == PortFinding::Device && look.Device == setup_.Device) {
            if (setup_.Start == ProjectStart::Board && armed) {
                start = true;
            } else if (setup_.Start == ProjectStart::Board && position.Jobs == 0 &&
                       position.Sight != sight) {
                EventLocked(index + 1, "a board was there before the station started: take it "
                                       "off and put it back, or press " +
                                           std::to_string(index + 1) + ", to flash it");
            } else if (armed && position.State == PositionState::Waiting) {
                position.State = PositionState::Ready;
                EventLocked(index + 1, "a board answered: press " +
                                           (index < 9 ? std::to_string(index + 1) + " or " : "") +
                                           "Enter to start it");
            }
            start = (start || requested) && MayStartLocked();
        } else if (look.Finding == PortFinding::Device) {
            // Not this project's board: left alone, and not looked at again until it is gone.
            if (armed) {
                EventLocked(index + 1, "a board answered with device number " +
                                           std::to_string(look.Device) + ", not " +
                                           std::to_string(setup_.Device) + ": not started");
            }
            armed = false;
        } else if (look.Finding != PortFinding::NotUnderstood &&
                   (silentLooks = SilenceAfter(look, silentLooks)) >= SilentLooksToArm) {
            // Silence that lasts: whatever answers next is a new board.
            if (!armed && position.Ended && position.State != PositionState::Waiting) {
                EventLocked(index + 1, "the board was taken off");
            }
            armed = true;
            position.State = PositionState::Waiting;
        }
        // The first look tells that a board plugged in from now on is a new one.
        if (position.Sight.empty() && look.Finding != PortFinding::Device) {
            EventLocked(index + 1, "waiting for a board (" + sight + ")");
        }
        position.Sight = sight;
        if (requested && !start && MayStartLocked()) {
            EventLocked(index + 1, "no board to start");
        }
        if (start) {
            guard.unlock();
            watch.Release();
            guard.lock();
            RunJob(index, guard);
            armed = false;
            silentLooks = 0;
            continue;
        }
        wake_.wait_until(guard, looked + LookPeriod,
                         [this, index] { return requested_[index] != 0 || ClosingLocked(); });
    }
    --watching_;
}

void Station::RunJob(std::size_t index, std::unique_lock<std::mutex>& guard) {
    const std::string port = setup_.Ports[index];
    ++started_;
    PositionStatus& position = positions_[index];
    position.State = PositionState::Running;
    position.Stage = "start";
    position.Percent = 0;
    ++position.Jobs;
    EventLocked(index + 1, "a board answered: flashing it");
    guard.unlock();
    const JobEnd end =
        setup_.Job(index + 1, port, [this, index](const std::string& stage, int percent) {
            std::lock_guard<std::mutex> progress(lock_);
            positions_[index].Stage = stage;
            positions_[index].Percent = percent;
        });
    ReadLot();
    guard.lock();
    ++ended_;
    station_.Add(end.Record);
    position.Ended = true;
    position.ExitStatus = end.Status;
    position.State = end.Status == 0 ? PositionState::Passed : PositionState::Failed;
    position.Serial = ValueOr<std::string>(end.Record, "serial", "");
    position.Seconds = ValueOr<double>(end.Record, "seconds", 0);
    position.Reason = ValueOr<std::string>(end.Record, "result", "");
    if (end.Status == 0) {
        EventLocked(index + 1, "PASS" +
                                   (position.Serial.empty() ? "" : " serial " + position.Serial) +
                                   " in " + Seconds(position.Seconds));
    } else {
        EventLocked(index + 1, "FAIL (exit " + std::to_string(end.Status) +
                                   "): " + position.Reason.substr(0, position.Reason.find('\n')));
    }
    if (!end.Halt.empty() && halt_.empty()) {
        halt_ = end.Halt;
        EventLocked(0, "no more jobs start: " + halt_);
    }
    wake_.notify_all();
}
