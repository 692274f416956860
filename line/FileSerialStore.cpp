#include "line/SerialStore.h"

#include <exception>

namespace {

// The book reads its files through streams, which throw when a read fails (a folder where the
// journal was): that is a journal that cannot be read or written like any other, and says why.
template <class Call> bool Guarded(Call&& call, std::string& why) {
    try {
        return call();
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
}

} // namespace

bool FileSerialStore::Reserve(const std::string& port, std::string& value, std::string& why) {
    owner_.Port = port;
    return Guarded([&] { return book_.Reserve(owner_, value, why); }, why);
}

bool FileSerialStore::Keep(const std::string& value, const std::string& port, std::string& why) {
    owner_.Port = port;
    return Guarded([&] { return book_.End(value, JournalEvent::Kept, owner_, "", why); }, why);
}

bool FileSerialStore::End(const std::string& value, const char* event,
                          const std::string& recordTime, const nlohmann::ordered_json*,
                          std::string& why) {
    return Guarded([&] { return book_.End(value, event, owner_, recordTime, why); }, why);
}
