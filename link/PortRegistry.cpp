#include "link/OpenFailure.h"
#include "link/PortDevice.h"

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

namespace {

// Handles come from a counter that only grows, so a closed handle is never handed out again.
// The EXIT path may close the port while the job thread is using it: the device stays alive
// (shared ownership) until the call in flight returns, and later calls find nothing.
struct Registry {
    std::mutex lock;
    std::map<ComHandle, std::shared_ptr<PortDevice>> devices;
    ComHandle next = 1;
    // Keyed by the name as the caller gave it: the connection asks about COM names, a user's
    // --port may be a path.
    std::map<std::string, PortOpenFailure, std::less<>> failures;
};

Registry& registry() {
    static Registry r;
    return r;
}

} // namespace

ComHandle AttachPortDevice(std::shared_ptr<PortDevice> device) {
    if (!device) {
        return InvalidComHandle;
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    ComHandle handle = r.next++;
    r.devices.emplace(handle, std::move(device));
    return handle;
}

std::shared_ptr<PortDevice> FindPortDevice(ComHandle handle) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.devices.find(handle);
    return it == r.devices.end() ? nullptr : it->second;
}

ComHandle OpenComPort(const char* name, std::uint32_t baudRate, std::uint32_t readTimeoutMs) {
    if (name == nullptr) {
        return InvalidComHandle;
    }
    // A platform that cannot say why leaves this in place.
    RecordOpenFailure(name, {.Kind = OpenFailure::Other});
    std::shared_ptr<PortDevice> device = OpenPlatformPort(name, baudRate, readTimeoutMs);
    if (device) {
        RecordOpenFailure(name, {});
    }
    return AttachPortDevice(std::move(device));
}

PortOpenFailure LastOpenFailure(const char* name) {
    if (name == nullptr) {
        return {};
    }
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    auto it = r.failures.find(std::string_view(name));
    return it == r.failures.end() ? PortOpenFailure{} : it->second;
}

void RecordOpenFailure(const char* name, PortOpenFailure failure) {
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.failures[name] = std::move(failure);
}

int CloseComPort(ComHandle handle) {
    std::shared_ptr<PortDevice> device;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        auto it = r.devices.find(handle);
        if (it == r.devices.end()) {
            return 0;
        }
        device = std::move(it->second);
        r.devices.erase(it);
    }
    return device->Close() ? 1 : 0;
}

int ReadComByte(ComHandle handle, std::uint8_t* byte) {
    std::shared_ptr<PortDevice> device = FindPortDevice(handle);
    return device ? device->ReadByte(byte) : -1;
}

int WriteComByte(ComHandle handle, std::uint8_t byte) {
    std::shared_ptr<PortDevice> device = FindPortDevice(handle);
    return device ? device->WriteByte(byte) : -1;
}

void DiscardComInput(ComHandle handle) {
    if (std::shared_ptr<PortDevice> device = FindPortDevice(handle)) {
        device->DiscardInput();
    }
}

std::uint32_t ComReadTimeoutMs(ComHandle handle) {
    std::shared_ptr<PortDevice> device = FindPortDevice(handle);
    return device ? device->ReadTimeoutMs() : 0;
}
