#include "sim/Faults.h"

namespace {

bool Hits(std::uint64_t n, std::uint32_t every) {
    return every != 0 && n % every == 0;
}

} // namespace

ReplyFate FaultInjector::NextReply() {
    ++replies_;
    ReplyFate fate;
    fate.Drop = Hits(replies_, plan_.DropEvery);
    fate.Frame.CorruptChecksum = Hits(replies_, plan_.BadChecksumEvery);
    fate.Frame.OmitEnd = Hits(replies_, plan_.CutReplyEvery);
    fate.ShortRead = Hits(replies_, plan_.ShortReadEvery);
    return fate;
}

std::vector<std::uint8_t> FaultInjector::Noise() {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(plan_.NoiseBytes);
    for (std::uint32_t i = 0; i < plan_.NoiseBytes; ++i) {
        const auto draw = static_cast<std::uint32_t>(noise_());
        std::uint8_t byte = 0;
        switch (draw % 4) {
        case 0:
            byte = 0x0F;
            break;
        case 1:
            byte = 0x05;
            break;
        case 2:
            byte = 0x04;
            break;
        default:
            byte = static_cast<std::uint8_t>(draw >> 8);
            break;
        }
        const bool last = i + 1 == plan_.NoiseBytes;
        if (byte == 0x0F && (last || (!bytes.empty() && bytes.back() == 0x0F))) {
            byte = 0x05;
        }
        bytes.push_back(byte);
    }
    return bytes;
}
