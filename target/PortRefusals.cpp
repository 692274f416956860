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
