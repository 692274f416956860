// ReadDeviceId, BootRead and BootVerify over arbitrary replies. Input: an operation selector,
// the seven bytes of a request record (command, count, address low/high, write block, address
// unit, attempts), then the bytes the line delivers; for BootVerify the expected bytes are the
// first count bytes of that stream.

#include "FuzzCheck.h"
#include "link/BootCommands.h"
#include "link/PortDevice.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class ReplyPort final : public PortDevice {
public:
    ReplyPort(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    int ReadByte(std::uint8_t* byte) override {
        if (pos_ < size_) {
            *byte = data_[pos_++];
            return 1;
        }
        return 0;
    }
    int WriteByte(std::uint8_t) override {
        ++written_;
        return 1;
    }
    bool Close() override { return true; }
    std::uint32_t ReadTimeoutMs() const override { return 60000; }

    std::size_t Written() const { return written_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::size_t written_ = 0;
};

bool RefusedRecord(std::int32_t result) {
    return result <= BootResult::BadCommand && result >= BootResult::UnitTooLarge;
}

void CheckDeviceId(ComHandle port, std::uint16_t attempts) {
    TargetProfile.PortHandle = port;
    TargetProfile.Retries = attempts;
    // Room for the five characters promised, then the guard.
    std::uint8_t area[5 + GuardSize];
    std::memset(area, GuardFill, sizeof area);
    char* text = reinterpret_cast<char*>(area);
    const std::int32_t result = ReadDeviceId(text);
    TargetProfile.PortHandle = InvalidComHandle;

    FuzzRequireGuard(area + 5, "device text stays within 5 characters");
    FuzzRequire(std::memchr(text, '\0', 5) != nullptr, "device text is NUL-terminated");
    FuzzRequire(result <= MaxBootData, "device read count at most 250");
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    FuzzRequire(end != text && *end == '\0', "device text is a decimal number");
    FuzzRequire(number >= 0 && number <= 2047, "device number within 11 bits");
    if (result <= 0) {
        FuzzRequire(number == 0, "a failed or empty device read leaves \"0\"");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    const std::uint8_t operation = data[0] % 3;
    BootCommand command{data[1], data[2], static_cast<std::uint32_t>(data[3] | data[4] << 8),
                        data[5], data[6], static_cast<std::uint16_t>(data[7] % 4)};
    const std::uint8_t* stream = data + 8;
    const std::size_t streamSize = size - 8;

    auto device = std::make_shared<ReplyPort>(stream, streamSize);
    const ComHandle port = AttachPortDevice(device);

    if (operation == 0) {
        CheckDeviceId(port, command.Retries);
    } else if (operation == 1) {
        std::vector<std::uint8_t> out(MaxBootData + GuardSize, GuardFill);
        const std::int32_t result = BootRead(port, command, out.data());
        FuzzRequire(result <= MaxBootData, "read count at most 250");
        FuzzRequireGuard(out.data() + MaxBootData, "nothing placed beyond the 250-byte area");
        FuzzRequire(!RefusedRecord(result) || device->Written() == 0,
                    "a refused record sends nothing");
    } else {
        // Exactly the count of expected bytes, so that reading past them is caught.
        std::vector<std::uint8_t> expected(
            stream, stream + std::min<std::size_t>(command.Count, streamSize));
        expected.resize(command.Count, 0);
        const std::int32_t result = BootVerify(port, command, expected.data());
        FuzzRequire(result <= MaxBootData, "verify count at most 250");
        FuzzRequire(!RefusedRecord(result) || device->Written() == 0,
                    "a refused record sends nothing");
    }
    CloseComPort(port);
    return 0;
}
