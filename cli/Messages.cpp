#include "cli/Messages.h"

#include "line/ChildReport.h"
#include "link/BootCommands.h"
#include "link/Packet.h"
#include "target/EraseRunMode.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

std::string lastFailure;

const char* LinkCause(std::int32_t code) {
    switch (code) {
    case PacketResult::ReadFailed:
        return "reading from the port failed";
    case PacketResult::TimedOut:
        return "no reply within the read time-out";
    case PacketResult::Overflow:
        return "the reply was longer than any the board sends";
    case PacketResult::BadChecksum:
        return "the reply failed its checksum";
    case PacketResult::NoAttemptsLeft:
        return "no valid reply after every attempt";
    case PacketResult::StartWriteFailed:
    case PacketResult::EscapeWriteFailed:
    case PacketResult::PayloadWriteFailed:
    case PacketResult::ChecksumEscapeWriteFailed:
    case PacketResult::ChecksumWriteFailed:
    case PacketResult::EndWriteFailed:
        return "writing to the port failed";
    case PacketResult::NotWritten:
        return "the port would not send (is CTS held off?)";
    case PacketResult::Stopped:
        return "stopped before the request was sent";
    case BootResult::VerifyMismatch:
        return "the bytes read back differ from those written";
    case BootResult::NoPort:
        return "no port is open";
    case EraseResult::BootModeNotKept:
        return "the run-mode flag did not read back as boot mode";
    default:
        return code >= BootResult::UnitTooLarge && code <= BootResult::BadCommand
                   ? "the request was refused before sending"
                   : "failed";
    }
}

} // namespace

std::string DescribeLinkCode(std::int32_t code) {
    return Format("%s (code %d)", LinkCause(code), static_cast<int>(code));
}

int Fail(int status, const std::string& message) {
    std::fprintf(stderr, "%.*s%s\n", static_cast<int>(FailurePrefix.size()), FailurePrefix.data(),
                 message.c_str());
    lastFailure = message;
    return status;
}

const std::string& LastFailure() {
    return lastFailure;
}

std::string Counted(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string Format(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(static_cast<std::size_t>(size < 0 ? 0 : size) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    return text.data();
}
