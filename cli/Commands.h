#pragma once
// The subcommands of tervix-flash. Each returns an exit status (cli/ExitStatus.h) and has
// printed why when that is not 0.

#include "cli/Session.h"
#include "line/BoardRecord.h"
#include "line/BoardSerial.h"
#include "line/LineSettings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The commands below that take a board fill in what they learned about it, for its record.
// Those that take a file read it from source, the run's private copy, and name it as File.

// Writes a board's record as the run asks (the record file, standard output) once the board's
// work is done, given the command's status; returns the board's status, worse when the record
// could not be written.
using BoardRecorder = std::function<int(int status, BoardOutcome& outcome)>;
struct FlashOptions {
    SessionOptions Session;
    std::string File;
    bool NoRunMode = false;
    bool Fast = false;     // whole-row requests instead of the desktop program's row-by-row traffic
    SerialSettings Serial; // checked; no place: no serial number
    LineSettings Line;     // the line server, when its pool gives the numbers or records go to it
};
// Records the board through record before its serial number is journaled as used.
int RunFlash(const FlashOptions& options, const std::string& source, BoardOutcome& outcome,
             const BoardRecorder& record);

struct VerifyOptions {
    SessionOptions Session;
    std::string File;
    SerialSettings Serial; // checked; a place: the number there is read and printed
};
int RunVerify(const VerifyOptions& options, const std::string& source, BoardOutcome& outcome);

struct EraseOptions {
    SessionOptions Session;
    std::string From; // as given; empty for the application's first address
    std::string To;   // as given; empty for the program memory's last address
};
int RunErase(const EraseOptions& options, BoardOutcome& outcome);
// ExitStatus::Usage, with the reason printed, when the range may not be erased.
int CheckEraseRange(const EraseOptions& options);
// The connected board was to be flagged to stay in boot mode before anything of it is erased,
// and EnterBootMode failed with code: prints why and returns ExitStatus::Erase.
int BootModeRefused(std::int32_t code);

// Which boards a command runs on, and where their records go.
struct BoardsOptions {
    std::vector<std::string> Ports; // --port, repeatable; several mean one child per board
    bool All = false;               // every port that answers with the expected device
    int Expect = 0;                 // boards that must answer with the expected device; 0: any
    std::string Record;             // file the records are appended to; empty for none
    bool Json = false;              // the records on standard output instead of the summary
    std::string FileName;           // a board's child: the file's name as the parent was given it
    std::vector<std::pair<std::string, std::string>> Tags; // the records' tags
    std::string ExpectSha256; // lower-case hexadecimal the file's SHA-256 must be; empty for any
    LineSettings Line;        // where the records go beside Record; unused: nowhere else
    RecordPlace Place;        // the records' station, position and project
};

// flash, verify or erase on one board in this process, or on several at once with one child
// process per board in a folder of its own. The file is read once, into a private copy that
// every board reads. Prints a record per board as asked and returns the worst board's exit
// status; a run stopped by a signal stops every board and returns the signal's status.
struct BoardJob {
    std::string Command;
    std::optional<std::string> File;    // as given
    std::vector<std::string> ChildArgs; // the command's own options, passed on to each child
    SessionOptions Session;
    BoardsOptions Boards;
    // Refuses what no board should get (a bad file, a forbidden range); returns an exit status.
    // source is the file's private copy, name the file as given ("" without a file).
    std::function<int(const std::string& source, const std::string& name)> Refuse;
    // The command on the one board that session names, its record written through record.
    std::function<int(const SessionOptions& session, const std::string& source,
                      const std::string& name, BoardOutcome& outcome, const BoardRecorder& record)>
        RunOne;
};
int RunOnBoards(const BoardJob& job);

struct RunModeOptions {
    SessionOptions Session;
    bool Boot = false;
};
int RunRunMode(const RunModeOptions& options);

struct ReadOptions {
    SessionOptions Session;
    std::string Space;
    std::string From; // as given; empty for the space's first address
    std::string To;   // as given; empty for the space's last address
    std::string Output;
};
int RunRead(const ReadOptions& options);

struct CheckOptions {
    std::string File;
    bool Quiet = false;
};
int RunCheck(const CheckOptions& options);

int RunPorts();
