#include "app/core/PortPermission.h"

#include "target/PortRefusals.h"

std::string PortPermissionAdvice() {
    std::string text;
    for (const PortOpenFailure& refused : PermissionRefusals()) {
        const std::string group = refused.Group.empty() ? "dialout" : refused.Group;
        if (!text.empty()) {
            text += "\n\n";
        }
        if (refused.JoiningGroupHelps()) {
            text += refused.Device + " exists, but you may not open it: it belongs to the group " +
                    group + ".\nJoin the group with\n    sudo usermod -aG " + group +
                    " $USER\nthen log out and in again.";
        } else {
            // Joining a group that may not read and write the device would not help.
            text += refused.Device + " exists, but you may not open it: it belongs to " +
                    refused.Owner + ", group " + group + ", mode " + DeviceModeText(refused.Mode) +
                    ", and no group may use it.\nA udev rule or the administrator must grant you "
                    "access.";
        }
    }
    return text;
}
