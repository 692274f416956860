#include "target/PortRefusals.h"

#include "target/TargetProfile.h"

#include <algorithm>

std::vector<PortOpenFailure> PermissionRefusals() {
    std::vector<PortOpenFailure> refused;
    for (const char* name : PortNameTable) {
        PortOpenFailure failure = LastOpenFailure(name);
        if (failure.Kind == OpenFailure::None) {
            return {};
        }
        const bool known =
            std::any_of(refused.begin(), refused.end(), [&failure](const PortOpenFailure& r) {
                return r.Device == failure.Device;
            });
        if (failure.Kind == OpenFailure::PermissionDenied && !known) {
            refused.push_back(std::move(failure));
        }
    }
    return refused;
}

std::string DeviceModeText(std::uint32_t mode) {
    constexpr std::uint32_t TypeMask = 0170000;
    constexpr std::uint32_t CharacterDevice = 0020000;
    constexpr std::uint32_t Directory = 0040000;
    std::string text;
    const std::uint32_t type = mode & TypeMask;
    text += type == CharacterDevice ? 'c' : type == Directory ? 'd' : '-';
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit) {
        text += (mode >> (8 - bit) & 1u) != 0 ? letters[bit] : '-';
    }
    return text;
}

std::string PermissionAdvice(const PortOpenFailure& failure) {
    const std::string& device = failure.Device;
    const std::string group = failure.Group.empty() ? "dialout" : failure.Group;
    if (failure.JoiningGroupHelps()) {
        return "permission denied on " + device + " (group " + group + ")\njoin the group " +
               group + ", which may read and write it:\n    sudo usermod -aG " + group +
               " $USER\nand log out and in again (or reboot) for it to take effect";
    }
    return "permission denied on " + device + " (owner " + failure.Owner + ", group " + group +
           ", " + DeviceModeText(failure.Mode) +
           ")\nno group may both read and write it, so joining one would not help: a udev rule "
           "or the administrator must grant you access";
}
