#include "line/SerialStore.h"

bool FileSerialStore::Reserve(const std::string& port, std::string& value, std::string& why) {
    owner_.Port = port;
    return BookGuarded([&] { return book_.Reserve(owner_, value, why); }, why);
}

bool FileSerialStore::Keep(const std::string& value, const std::string& port, std::string& why) {
    owner_.Port = port;
    return BookGuarded([&] { return book_.End(value, JournalEvent::Kept, owner_, "", why); }, why);
}

bool FileSerialStore::End(const std::string& value, const char* event,
                          const std::string& recordTime, const nlohmann::ordered_json*,
                          std::string& why) {
    return BookGuarded([&] { return book_.End(value, event, owner_, recordTime, why); }, why);
}
