// ReceivePacket over arbitrary byte streams and capacities. Input: two bytes of capacity (little
// endian), one byte whose low bit says how the line ends once the stream runs dry (a failing read
// instead of silence), then the bytes the line delivers.

#include "FuzzCheck.h"
#include "link/Packet.h"
#include "link/PortDevice.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

class StreamPort final : public PortDevice {
public:
    StreamPort(const std::uint8_t* data, std::size_t size, bool failAtEnd)
        : data_(data), size_(size), failAtEnd_(failAtEnd) {}

    int ReadByte(std::uint8_t* byte) override {
        if (pos_ < size_) {
            *byte = data_[pos_++];
            return 1;
        }
        return failAtEnd_ ? -1 : 0;
    }
    int WriteByte(std::uint8_t) override { return 1; }
    bool Close() override { return true; }
    // Long, so that the receive's bound on its total time never cuts a fuzz input short.
    std::uint32_t ReadTimeoutMs() const override { return 60000; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    bool failAtEnd_;
    std::size_t pos_ = 0;
};

// What the receiver must make of a stream too short to reach its bound on skipped bytes.
std::int32_t ExpectedReceive(const std::uint8_t* data, std::size_t size, bool failAtEnd,
                             std::uint16_t capacity, std::vector<std::uint8_t>& stored) {
    const std::int32_t dry = failAtEnd ? -1 : -2;
    std::size_t pos = 0;
    int need = 2;
    bool body = false;
    std::uint32_t sum = 0;
    stored.clear();
    auto store = [&](std::uint8_t b) {
        if (stored.size() >= capacity) {
            return false;
        }
        stored.push_back(b);
        sum += b;
        return true;
    };
    while (pos < size) {
        const std::uint8_t b = data[pos++];
        if (!body) {
            if (b != 0x0F) {
                need = 2;
            } else if (--need == 0) {
                body = true;
                stored.clear();
                sum = 0;
            }
            continue;
        }
        if (b == 0x04) {
            return (sum & 0xFF) != 0 ? -4 : static_cast<std::int32_t>(stored.size());
        }
        if (b == 0x05) {
            if (pos == size) {
                return dry;
            }
            if (!store(data[pos++])) {
                return -3;
            }
        } else if (b == 0x0F) {
            body = false;
            need = 1;
        } else if (!store(b)) {
            return -3;
        }
    }
    return dry;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const auto capacity = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    const bool failAtEnd = (data[2] & 1) != 0;
    const std::uint8_t* stream = data + 3;
    const std::size_t streamSize = size - 3;

    const ComHandle port =
        AttachPortDevice(std::make_shared<StreamPort>(stream, streamSize, failAtEnd));
    std::vector<std::uint8_t> buffer(capacity + GuardSize, GuardFill);
    const std::int32_t result = ReceivePacket(port, buffer.data(), capacity);
    CloseComPort(port);

    FuzzRequire(result >= -4 && result <= capacity, "result is -1..-4 or a count within capacity");
    FuzzRequireGuard(buffer.data() + capacity, "nothing stored past the capacity");
    if (result >= 0) {
        std::uint32_t sum = 0;
        for (std::int32_t i = 0; i < result; ++i) {
            sum += buffer[static_cast<std::size_t>(i)];
        }
        FuzzRequire((sum & 0xFF) == 0, "an accepted packet sums to 0");
    }
    if (streamSize < MaxHuntSkip) {
        std::vector<std::uint8_t> stored;
        const std::int32_t expected =
            ExpectedReceive(stream, streamSize, failAtEnd, capacity, stored);
        FuzzRequire(result == expected, "result as the framing rules give it");
        if (result >= 0) {
            FuzzRequire(std::equal(stored.begin(), stored.end(), buffer.begin()),
                        "stored bytes are the unescaped packet");
        }
    }
    return 0;
}
