#include "app/core/PortPermission.h"

#include "target/PortRefusals.h"

std::string PortPermissionAdvice() {
    std::string text;
    for (const PortOpenFailure& refused : PermissionRefusals()) {
        const std::string group = refused.Group.empty() ? "dialout" : refused.Group;
        if (!text.empty()) {
            text += "\n\n";
        }
        text += refused.Device + " exists, but you may not open it: it belongs to the group " +
                group + ".\nJoin the group with\n    sudo usermod -aG " + group +
                " $USER\nthen log out and in again.";
    }
    return text;
}
