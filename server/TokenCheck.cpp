#include "server/TokenCheck.h"

#include "server/Token.h"

#include <iterator>

namespace {

// More than this many remembered tokens, and the expired ones go.
constexpr std::size_t Tidy = 256;

} // namespace

std::optional<Caller> TokenCheck::Holder(const std::string& text) {
    const std::string hash = TokenHash(text);
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard lock(mutex_);
        if (const auto it = known_.find(hash); it != known_.end() && it->second.Until > now) {
            return it->second.Who;
        }
    }
    std::optional<Caller> caller = Authenticate(db_, text);
    if (caller) {
        std::lock_guard lock(mutex_);
        if (known_.size() > Tidy) {
            std::erase_if(known_, [now](const auto& entry) { return entry.second.Until <= now; });
        }
        known_[hash] = {*caller, now + remembered_};
    }
    return caller;
}
