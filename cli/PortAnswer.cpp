#include "cli/PortAnswer.h"

#include "cli/Console.h"
#include "cli/Messages.h"
#include "cli/PortMap.h"
#include "cli/ProgressDisplay.h"
#include "link/OpenFailure.h"
#include "target/Connection.h"
#include "target/PortRefusals.h"
#include "target/TargetProfile.h"

#include <cstdio>
#include <iostream>
#include <utility>

namespace {

// "COM" and a number, in any case, with or without the device-namespace prefix.
bool IsComName(const std::string& port) {
    const std::string plain = PlainComName(port);
    return plain.size() > 3 && plain.starts_with("COM") &&
           plain.find_first_not_of("0123456789", 3) == std::string::npos;
}

bool InPortTable(const std::string& port) {
    const std::string plain = PlainComName(port);
    for (const char* name : PortNameTable) {
        if (PlainComName(name) == plain) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string PortIdentity(const std::string& port) {
    const std::string device = DeviceKey(port);
    return device.empty() ? PlainComName(port) : device;
}

std::string ShortPortName(const std::string& port) {
    return IsComName(port) ? PlainComName(port) : port;
}

std::string PortWithDevice(const char* name) {
    const std::string device = ShownDevice(name);
    return device.empty() || device == name ? std::string(name)
                                            : Format("%s (%s)", name, device.c_str());
}

PortAnswer::PortAnswer(PortChoice choice, ProgressDisplay& progress)
    : choice_(std::move(choice)), progress_(progress) {
    if (!choice_.Port.empty()) {
        wantedDevice_ = DeviceKey(choice_.Port);
    }
    SetPortQuestion([this](const char* text, const char*) { return Answer(text); });
}

PortAnswer::~PortAnswer() {
    SetPortQuestion({});
}

bool PortAnswer::NeedsTerminal(const PortChoice& choice) {
    return choice.Port.empty() && !choice.Yes && !InputIsConsole();
}

int PortAnswer::NamedIndex() const {
    if (choice_.Port.empty()) {
        return -1;
    }
    const std::string plain = PlainComName(choice_.Port);
    for (int index = 0; index < PortNameCount; ++index) {
        const char* name = PortNameTable[index];
        if (PlainComName(name) == plain ||
            (!wantedDevice_.empty() && DeviceKey(name) == wantedDevice_)) {
            return index;
        }
    }
    return -1;
}

bool PortAnswer::Answer(const char* name) {
    const bool yes = choice_.Yes || AskUser(name, PortQuestionCaption, ShownDevice(name));
    if (!yes) {
        declined_.emplace_back(name);
    }
    return yes;
}

bool PortAnswer::AskUser(const char* name, const char* caption, const std::string& device) {
    progress_.Suspend();
    std::fprintf(stderr, "%s %s", caption, name);
    if (!device.empty() && device != name) {
        std::fprintf(stderr, " (%s)", device.c_str());
    }
    std::fputs(" [y/N] ", stderr);
    std::fflush(stderr);
    std::string reply;
    const bool answered = static_cast<bool>(std::getline(std::cin, reply));
    if (!answered) {
        std::fputc('\n', stderr);
    }
    progress_.Resume();
    return answered && (reply == "y" || reply == "Y" || reply == "yes" || reply == "Yes");
}

std::string PortAnswer::NoPortReason() const {
    if (!choice_.Port.empty()) {
        const char* wanted = choice_.Port.c_str();
        if (wantedDevice_.empty()) {
            return Format(IsComName(wanted) && !InPortTable(wanted)
                              ? "no port answered: there is no such port name as %s (the names "
                                "are COM1 to COM21, or a device path)"
                              : "no port answered: %s leads to no device",
                          wanted);
        }
        const int index = NamedIndex();
        if (index < 0) {
            return Format("no port answered: no COM name (COM1 to COM21) leads to %s",
                          wantedDevice_.c_str());
        }
        const PortOpenFailure failure = LastOpenFailure(PortNameTable[index]);
        switch (failure.Kind) {
        case OpenFailure::PermissionDenied:
            return PermissionAdvice(failure);
        case OpenFailure::InUse:
            return Format("no port answered: %s is in use by another program",
                          PortWithDevice(wanted).c_str());
        default:
            return Format("no port answered: %s did not open", PortWithDevice(wanted).c_str());
        }
    }
    if (declined_.empty()) {
        std::string reason = "no port answered: none of COM1 to COM21 could be opened";
        for (const PortOpenFailure& refused : PermissionRefusals()) {
            reason += '\n';
            reason += PermissionAdvice(refused);
        }
        return reason;
    }
    std::string names;
    for (const std::string& name : declined_) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return "port declined: " + names;
}
