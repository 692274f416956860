#pragma once
// A station: one position per port of its project, each waiting for a board, flashing it by a
// job of its own (a child process per board, one at a time per position, in parallel across
// positions) and then waiting for the board to be taken off, with the counters of the station
// and of its lot beside. It knows no terminal: a face reads Snapshot() as often as it draws and
// passes the operator's keys on, so that a window could show the same station. Each position
// runs on a thread of its own; everything a face reads is copied out under one lock.

#include "line/LotCounters.h"
#include "line/Project.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class PositionState : std::uint8_t {
    Waiting, // no board; or the last job's board, taken off since
    Ready,   // started by key: a new board answered and waits for the operator
    Running, // a job runs
    Passed,  // the last job passed and its board is still there
    Failed,  // the last job failed and its board is still there
};

// A position as a face shows it. The last job's end stays until the next job starts.
struct PositionStatus {
    std::size_t Number = 0; // from 1
    std::string Port;
    PositionState State = PositionState::Waiting;
    std::string Sight; // what the last look at the port found, in a few words
    std::string Stage; // while running: the job's stage and its percent
    int Percent = 0;
    std::size_t Jobs = 0;
    bool Ended = false; // a job has ended here: the four below tell how
    int ExitStatus = 0;
    std::string Serial;
    double Seconds = 0;
    std::string Reason; // the result in words when it failed
};

struct StationEvent {
    std::uint64_t Number = 0; // from 1, one more per event
    std::chrono::system_clock::time_point Time;
    std::size_t Position = 0; // 0: the station as a whole
    std::string Text;
};

struct StationSnapshot {
    std::vector<PositionStatus> Positions;
    YieldCounts Station; // the jobs of this station since it started
    YieldCounts Lot;     // the lot's lines in the record file
    std::string LotProblem;
    std::size_t JobsStarted = 0;
    std::size_t JobsEnded = 0;
    std::deque<StationEvent> Events; // the last ones, oldest first
    std::string Halt;                // why no job starts any more; empty while jobs may start
    bool Quitting = false;           // the operator asked the station to end
    bool Finished = false;           // every position has ended: the station is done
};

// How one job ended: the board's record line and its status, and a fault of the station's own
// files (the record file, the serial numbers) after which no more jobs may start.
struct JobEnd {
    nlohmann::ordered_json Record;
    int Status = 0;
    std::string Halt;
};

// Runs one board's job on port for the position (from 1), telling progress of its stage and
// percent as they change, until the board's child has ended.
using StationJob = std::function<JobEnd(
    std::size_t position, const std::string& port,
    const std::function<void(const std::string& stage, int percent)>& progress)>;

struct StationSetup {
    std::string Project;
    std::vector<std::string> Ports;
    // The names the ports are looked at by, in their order; Windows opens COM10 and above only
    // by their device-namespace names ("\\.\COM12"). Empty: the ports' own.
    std::vector<std::string> LookNames;
    ProjectStart Start = ProjectStart::Board;
    std::string RecordFile;
    nlohmann::json Tags = nlohmann::json::object(); // the lot: lines with these tags count
    int Device = 33;                                // the device number a board must report
    std::uint32_t BaudRate = 115200;
    std::size_t Until = 0; // start no more than this many jobs and end after them; 0: no end
    std::function<int()> StopSignal; // a signal that stops every job; 0 while none did
    StationJob Job;
};

class Station {
public:
    // How often a waiting position looks at its port, and how long a look waits for the answer.
    static constexpr auto LookPeriod = std::chrono::milliseconds(250);
    static constexpr std::uint32_t LookTimeoutMs = 100;
    // Looks in a row that time out after which a board counts as taken off: one look alone may
    // miss the answer of a board on a busy computer, and must not start that board again.
    static constexpr int SilentLooksToArm = 3;
    static constexpr std::size_t KeptEvents = 50;

    explicit Station(StationSetup setup);
    // Ends as Quit does, waiting for the jobs that run.
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Reads the lot's counters and starts the positions.
    void Start();

    // The operator's keys: every position whose new board waits (Enter), one position's board
    // (1-9; again after a job too, for a board left on it), and the end: no job starts any
    // more, and the station is finished once the running ones have ended (q).
    void StartAll();
    void StartOne(std::size_t number);
    void Quit();

    StationSnapshot Snapshot() const;

private:
    void Watch(std::size_t index);
    void RunJob(std::size_t index, std::unique_lock<std::mutex>& guard);
    bool MayStartLocked() const;
    bool ClosingLocked() const;
    void EventLocked(std::size_t position, const std::string& text);
    void ReadLot();

    StationSetup setup_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::vector<PositionStatus> positions_;
    std::vector<char> requested_; // by position: a key asked to start its board
    LotCounters station_;
    LotFile lot_;
    YieldCounts lotCounts_;
    std::string lotProblem_;
    std::size_t started_ = 0;
    std::size_t ended_ = 0;
    std::size_t watching_ = 0;
    std::deque<StationEvent> events_;
    std::uint64_t eventCount_ = 0;
    std::string halt_;
    bool quitting_ = false;
    std::mutex lotLock_; // the record file is read outside the station's lock
    std::vector<std::thread> threads_;
};
