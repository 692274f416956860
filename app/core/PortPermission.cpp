#include "app/core/PortPermission.h"

#include "target/PortRefusals.h"

std::string PortPermissionAdvice() {
    std::string text;
    for (const PortOpenFailure& refused : PermissionRefusals()) {
        text += (text.empty() ? "" : "\n\n") + PermissionAdvice(refused);
    }
    return text;
}
