#include "line/BoardProcess.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

struct BoardProcess::Handle {
    HANDLE Process = nullptr;
    HANDLE Output = nullptr;
    int Status = -1;
    bool Killed = false;
};

namespace {

// The quoting that the C runtime's argument parser undoes: backslashes double only before a
// quote.
std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

bool HasOutput(HANDLE pipe) {
    DWORD available = 0;
    return !PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available > 0;
}

constexpr int PollPeriodMs = 20;

// Every child is put into one job that kills its processes when its last handle closes: the
// parent holds that handle until it ends, however it ends, so no child outlives it.
HANDLE ChildrenJob() {
    static const HANDLE job = [] {
        HANDLE created = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (created != nullptr &&
            !SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                     sizeof limits)) {
            CloseHandle(created);
            created = nullptr;
        }
        return created;
    }();
    return job;
}

} // namespace

BoardProcess::BoardProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& folder)
    : handle_(std::make_unique<Handle>()) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    std::string line = Quote(program);
    for (const std::string& a : args) {
        line += ' ';
        line += Quote(a);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION info{};
    // Suspended until it is in the job, so it cannot start a board outside it.
    const BOOL created = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED, nullptr, folder.c_str(), &startup, &info);
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE) {
        CloseHandle(input);
    }
    if (!created) {
        CloseHandle(readEnd);
        return;
    }
    const HANDLE job = ChildrenJob();
    if (job == nullptr || !AssignProcessToJobObject(job, info.hProcess) ||
        ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
        TerminateProcess(info.hProcess, 127);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        CloseHandle(readEnd);
        return;
    }
    CloseHandle(info.hThread);
    handle_->Process = info.hProcess;
    handle_->Output = readEnd;
}

BoardProcess::~BoardProcess() {
    if (handle_->Output != nullptr) {
        CloseHandle(handle_->Output);
    }
    Wait();
}

bool BoardProcess::Started() const {
    return handle_->Process != nullptr;
}

void BoardProcess::Interrupt(int) {}

bool BoardProcess::ReadAvailable(std::string& text) {
    if (handle_->Output == nullptr) {
        return false;
    }
    char buffer[4096];
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(handle_->Output, nullptr, 0, nullptr, &available, nullptr)) {
            break; // the child closed its end
        }
        if (available == 0) {
            return true;
        }
        DWORD got = 0;
        if (!ReadFile(handle_->Output, buffer,
                      std::min<DWORD>(available, static_cast<DWORD>(sizeof buffer)), &got,
                      nullptr)) {
            break;
        }
        text.append(buffer, got);
    }
    CloseHandle(handle_->Output);
    handle_->Output = nullptr;
    return false;
}

int BoardProcess::Wait() {
    if (handle_->Process != nullptr) {
        WaitForSingleObject(handle_->Process, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(handle_->Process, &code);
        CloseHandle(handle_->Process);
        handle_->Process = nullptr;
        handle_->Status = static_cast<int>(code);
        // Error-class NTSTATUS codes (an access violation, a stack overflow) are no exit status.
        handle_->Killed = (code & 0xC0000000u) == 0xC0000000u;
    }
    return handle_->Status;
}

bool BoardProcess::Killed() const {
    return handle_->Killed;
}

// Anonymous pipes cannot be waited on, so they are looked at every few milliseconds.
void AwaitBoardOutput(const std::vector<BoardProcess*>& children, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        for (BoardProcess* child : children) {
            if (child->handle_->Output != nullptr && HasOutput(child->handle_->Output)) {
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(PollPeriodMs));
    } while (std::chrono::steady_clock::now() < deadline);
}

std::string OwnProgramPath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return length == 0 || length == MAX_PATH ? std::string() : std::string(path, length);
}
