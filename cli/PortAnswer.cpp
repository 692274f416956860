#include "cli/PortAnswer.h"

#include "cli/Messages.h"
#include "cli/ProgressDisplay.h"
#include "link/PortNames.h"
#include "target/Connection.h"
#include "target/TargetProfile.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

// Links in a ports folder and the device itself must compare equal.
std::string CanonicalDevice(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::error_code ec;
    std::filesystem::path device = std::filesystem::canonical(path, ec);
    return ec ? std::string() : device.string();
}

// "\\.\COM12" and "com12" name the same port as "COM12".
std::string PlainComName(std::string_view name) {
    constexpr std::string_view DeviceNamespace = "\\\\.\\";
    if (name.starts_with(DeviceNamespace)) {
        name.remove_prefix(DeviceNamespace.size());
    }
    std::string plain(name);
    for (char& c : plain) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return plain;
}

} // namespace

std::string PortIdentity(const std::string& port) {
    const std::string device = CanonicalDevice(ResolveComName(port.c_str()));
    return device.empty() ? PlainComName(port) : device;
}

std::string PortWithDevice(const char* name) {
    const std::string device = ResolveComName(name);
    return device.empty() || device == name ? std::string(name)
                                            : Format("%s (%s)", name, device.c_str());
}

PortAnswer::PortAnswer(PortChoice choice, ProgressDisplay& progress)
    : choice_(std::move(choice)), progress_(progress) {
    if (!choice_.Port.empty()) {
        wantedDevice_ = CanonicalDevice(ResolveComName(choice_.Port.c_str()));
    }
    SetPortQuestion([this](const char* text, const char*) { return Answer(text); });
}

PortAnswer::~PortAnswer() {
    SetPortQuestion({});
}

bool PortAnswer::NeedsTerminal(const PortChoice& choice) {
    return choice.Port.empty() && !choice.Yes && !isatty(STDIN_FILENO);
}

bool PortAnswer::Answer(const char* name) {
    bool yes = false;
    if (!choice_.Port.empty()) {
        const std::string device = CanonicalDevice(ResolveComName(name));
        yes = PlainComName(name) == PlainComName(choice_.Port) ||
              (!device.empty() && device == wantedDevice_);
    } else if (choice_.Yes) {
        yes = true;
    } else {
        yes = AskUser(name, PortQuestionCaption, ResolveComName(name));
    }
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
            return Format("no port answered: %s leads to no device", wanted);
        }
        bool mapped = false;
        for (const char* name : PortNameTable) {
            mapped = mapped || CanonicalDevice(ResolveComName(name)) == wantedDevice_;
        }
        if (!mapped) {
            return Format("no port answered: no COM name (COM1 to COM21) leads to %s",
                          wantedDevice_.c_str());
        }
        return Format("no port answered: %s did not open (held by another program?)",
                      PortWithDevice(wanted).c_str());
    }
    if (declined_.empty()) {
        return "no port answered: none of COM1 to COM21 could be opened";
    }
    std::string names;
    for (const std::string& name : declined_) {
        names += (names.empty() ? "" : ", ") + name;
    }
    return "port declined: " + names;
}
