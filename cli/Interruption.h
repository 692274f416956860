#pragma once
// Stopping a run on SIGINT, SIGTERM or SIGHUP (Ctrl-C, Ctrl-Break on Windows): the handler only
// records the signal and asks the link to stop, so the board's operation ends at the next request
// boundary by its normal path (port closed, temp.log complete) and the board still gets its
// record. A closed standard output (SIGPIPE) stops the printing only. One file per platform
// installs the handlers.

#include <chrono>
#include <string>

// Installs the handlers for this process.
void CatchStopSignals();

// The signal that asked for the stop, 0 when none did.
int StopSignal();
// The exit status of a run stopped by that signal: 130 for SIGINT, 143 for SIGTERM and SIGHUP.
int InterruptedStatus();

// Notes what the process does now ("connect", "erase", "write", "verify", "run-mode"), for the
// record of a stopped board.
void NoteStage(const char* stage);
const char* CurrentStage();
// "while writing" for the stage "write".
std::string WhileStage(const std::string& stage);
// "interrupted while writing" for the stage "write".
std::string InterruptedResult(const std::string& stage);

// Waits for the time given, or less once a stop is requested.
void PauseUnlessStopped(std::chrono::milliseconds pause);
