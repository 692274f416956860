#pragma once
// Why a port did not open. OpenComPort itself keeps its single -1 for every failure; callers that
// want to tell the user more ask here afterwards.

#include <cstdint>
#include <string>

enum class OpenFailure : int {
    None = 0,             // the last open succeeded, or none was tried
    NoDevice = 1,         // the name leads to no device
    PermissionDenied = 2, // the device exists but this user may not open it
    InUse = 3,            // another program holds the device
    Other = 4,            // line settings refused, unknown speed, or a cause the platform hides
};

struct PortOpenFailure {
    OpenFailure Kind = OpenFailure::None;
    std::string Device{}; // the device path, "" when none
    std::string Group{};  // for PermissionDenied: the group that owns the device, "" when unknown
    std::string Owner{};  // for PermissionDenied: the user that owns it, "" when unknown
    // For PermissionDenied: its file type and permission bits, 0 when unknown.
    std::uint32_t Mode = 0;

    // Joining the group helps only when the group may both read and write the device; an unknown
    // mode (a platform that cannot tell) is taken to allow it.
    bool JoiningGroupHelps() const { return Mode == 0 || (Mode & 060) == 060; }
};

// What the most recent OpenComPort of this exact name met.
PortOpenFailure LastOpenFailure(const char* name);

// Called by the platform's port layer while it fails to open name.
void RecordOpenFailure(const char* name, PortOpenFailure failure);
