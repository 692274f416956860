#pragma once
// Why a port did not open. OpenComPort itself keeps its single -1 for every failure; callers that
// want to tell the user more ask here afterwards.

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
    std::string Device; // the device path, "" when none
    std::string Group;  // for PermissionDenied: the group that owns the device, "" when unknown
};

// What the most recent OpenComPort of this exact name met.
PortOpenFailure LastOpenFailure(const char* name);

// Called by the platform's port layer while it fails to open name.
void RecordOpenFailure(const char* name, PortOpenFailure failure);
