#include "target/FastFlash.h"

#include "link/BootCommands.h"
#include "link/Packet.h"
#include "target/CFile.h"
#include "target/EraseRunMode.h"
#include "target/HexProgrammer.h"
#include "target/TargetProfile.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace {

using Memory = std::map<std::uint32_t, ImageByte>;

// One request's stretch of memory, in bytes; ImageBytes of them are the file's.
struct Span {
    std::uint32_t First = 0;
    std::uint32_t Length = 0;
    std::uint32_t ImageBytes = 0;
};

// How one memory is reached.
struct MemoryAccess {
    HexSpace Space;
    std::uint8_t WriteCommand;
    std::uint8_t ReadCommand;
    std::uint8_t Block;
    std::uint8_t Unit;
    std::uint32_t MaxWrite;
    // Blank blocks inside the erased range need no write.
    bool Erased;
};

bool InErasedRange(std::uint32_t first, std::uint32_t length) {
    return first >= TargetProfile.ProgramStart && first + (length - 1) <= TargetProfile.ProgramEnd;
}

// Runs of consecutive write blocks that hold file bytes, each at most access.MaxWrite long.
std::vector<Span> WriteSpans(const Memory& memory, const MemoryAccess& access) {
    std::vector<Span> spans;
    auto it = memory.begin();
    while (it != memory.end()) {
        const std::uint32_t block = it->first - it->first % access.Block;
        bool blank = true;
        std::uint32_t bytes = 0;
        for (; it != memory.end() && it->first - block < access.Block; ++it) {
            blank = blank && it->second.Value == 0xFF;
            ++bytes;
        }
        if (blank && access.Erased && InErasedRange(block, access.Block)) {
            continue;
        }
        Span* last = spans.empty() ? nullptr : &spans.back();
        if (last != nullptr && last->First + last->Length == block &&
            last->Length + access.Block <= access.MaxWrite) {
            last->Length += access.Block;
            last->ImageBytes += bytes;
        } else {
            spans.push_back({block, access.Block, bytes});
        }
    }
    return spans;
}

// Stretches of at most maxRead bytes from one file byte to the last file byte within reach.
std::vector<Span> ReadSpans(const Memory& memory, std::uint32_t maxRead) {
    std::vector<Span> spans;
    auto it = memory.begin();
    while (it != memory.end()) {
        Span span{it->first, 0, 0};
        for (; it != memory.end() && it->first - span.First < maxRead; ++it) {
            span.Length = it->first - span.First + 1;
            ++span.ImageBytes;
        }
        spans.push_back(span);
    }
    return spans;
}

class ImageSender {
public:
    ImageSender(std::FILE* log, const FlashImage& image, ImageFailure& failure)
        : log_(log), image_(image), failure_(failure), port_(TargetProfile.PortHandle),
          retries_(TargetProfile.Retries),
          maxRead_(std::clamp<std::uint32_t>(TargetProfile.MaxReadCount, 1, MaxBootData)) {}

    std::int32_t Send() {
        const std::uint8_t block = TargetProfile.WriteBlock;
        const std::uint8_t unit = TargetProfile.AddressUnit;
        if (block == 0 || unit == 0) {
            return block == 0 ? BootResult::BlockBelowUnit : BootResult::ZeroUnit;
        }
        const MemoryAccess flash{HexSpace::Program,
                                 BootCode::WriteProgram,
                                 BootCode::ReadProgram,
                                 block,
                                 unit,
                                 FastWriteBytes - FastWriteBytes % block,
                                 true};
        const MemoryAccess eeprom{HexSpace::Eeprom,
                                  BootCode::WriteEeprom,
                                  BootCode::ReadEeprom,
                                  1,
                                  1,
                                  FastEepromWriteBytes,
                                  false};
        struct Plan {
            const Memory& memory;
            const MemoryAccess& access;
            std::vector<Span> writes;
            std::vector<Span> reads;
        };
        Plan plans[] = {
            {image_.Flash, flash, WriteSpans(image_.Flash, flash),
             ReadSpans(image_.Flash, maxRead_)},
            {image_.Eeprom, eeprom, WriteSpans(image_.Eeprom, eeprom),
             ReadSpans(image_.Eeprom, maxRead_)},
        };
        for (const Plan& plan : plans) {
            for (const Span& span : plan.writes) {
                total_ += span.ImageBytes;
            }
            total_ += plan.memory.size();
        }
        for (const Plan& plan : plans) {
            loggedUpTo_ = 0;
            for (const Span& span : plan.writes) {
                if (std::int32_t result = Write(plan.memory, plan.access, span); result < 0) {
                    return result;
                }
            }
            for (const Span& span : plan.reads) {
                if (std::int32_t result = Verify(plan.memory, plan.access, span); result < 0) {
                    return result;
                }
            }
        }
        return image_.Records;
    }

private:
    static std::uint8_t ByteAt(const Memory& memory, std::uint32_t address) {
        const auto it = memory.find(address);
        return it == memory.end() ? std::uint8_t{0xFF} : it->second.Value;
    }

    // Each 16-byte row the span touches, once per memory, before its first write.
    void Log(const Memory& memory, const MemoryAccess& access, const Span& span) {
        const std::uint32_t end = span.First + span.Length;
        for (std::uint32_t row = span.First - span.First % HexRowSize; row < end;
             row += HexRowSize) {
            if (row + HexRowSize <= loggedUpTo_) {
                continue;
            }
            std::fprintf(log_, " %04X ", static_cast<unsigned>(row / access.Unit));
            for (std::uint32_t i = 0; i < HexRowSize; ++i) {
                std::fprintf(log_, " %02X", static_cast<unsigned>(ByteAt(memory, row + i)));
            }
            std::fputc('\n', log_);
            ++failure_.LoggedRows;
            loggedUpTo_ = row + HexRowSize;
        }
    }

    void Advance(std::uint32_t bytes) {
        done_ += bytes;
        ProgressCount = static_cast<std::int32_t>(std::int64_t{image_.Records} * done_ / total_);
    }

    std::int32_t Fail(const MemoryAccess& access, std::uint32_t address, std::int32_t code) {
        failure_.Space = access.Space;
        failure_.Address = address;
        return code;
    }

    // The request for span in access's space; reads and writes differ only in their command.
    BootCommand Request(std::uint8_t code, const MemoryAccess& access, const Span& span) const {
        return {code,
                static_cast<std::uint8_t>(span.Length),
                span.First / access.Unit,
                access.Block,
                access.Unit,
                retries_};
    }

    std::int32_t Write(const Memory& memory, const MemoryAccess& access, const Span& span) {
        Log(memory, access, span);
        // Room for any one-byte count: a write block above 250 is refused by BootWrite, not here.
        std::uint8_t data[256];
        for (std::uint32_t i = 0; i < span.Length; ++i) {
            data[i] = ByteAt(memory, span.First + i);
        }
        if (std::int32_t result =
                BootWrite(port_, Request(access.WriteCommand, access, span), data);
            result < 0) {
            return Fail(access, span.First, result);
        }
        Advance(span.ImageBytes);
        return 0;
    }

    // Whether a file byte of span is not confirmed by the reply; address is the first such.
    static bool Mismatch(const Memory& memory, const Span& span, const std::uint8_t* got,
                         std::int32_t count, std::uint32_t& address) {
        for (auto it = memory.lower_bound(span.First);
             it != memory.end() && it->first - span.First < span.Length; ++it) {
            const std::uint32_t i = it->first - span.First;
            if (static_cast<std::int32_t>(i) >= count || got[i] != it->second.Value) {
                address = it->first;
                return true;
            }
        }
        return false;
    }

    // A failed or differing read is repeated once, as the row-by-row programmer does.
    std::int32_t Verify(const Memory& memory, const MemoryAccess& access, const Span& span) {
        const BootCommand read = Request(access.ReadCommand, access, span);
        std::int32_t result = 0;
        std::uint32_t address = span.First;
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::uint8_t got[MaxBootData];
            result = BootRead(port_, read, got);
            address = span.First;
            if (result >= 0 && Mismatch(memory, span, got, result, address)) {
                result = BootResult::VerifyMismatch;
            }
            if (result >= 0) {
                Advance(span.ImageBytes);
                return result;
            }
        }
        return Fail(access, address, result);
    }

    std::FILE* log_;
    const FlashImage& image_;
    ImageFailure& failure_;
    ComHandle port_;
    std::uint16_t retries_;
    std::uint32_t maxRead_;
    std::uint32_t loggedUpTo_ = 0; // rows below this byte address are logged
    std::uint64_t done_ = 0;
    std::uint64_t total_ = 0;
};

} // namespace

std::int32_t EraseRangeFast(std::uint32_t first, std::uint32_t last) {
    return EraseRangeInRuns(first, last, FastEraseRows);
}

std::int32_t EraseForFastFlash(const char* hexPath) {
    TargetProfile.HexPath = hexPath;
    ProgressTotal = static_cast<std::int32_t>(TargetProfile.ProgramEnd.load());
    return EraseRangeFast(TargetProfile.ProgramStart, TargetProfile.ProgramEnd);
}

namespace {

std::int32_t SendImage(const FlashImage& image, ImageFailure& failure, std::FILE* opened) {
    failure = {};
    ProgressTotal = image.Lines;
    CFile log(opened);
    if (!log) {
        return ProgramResult::FileError;
    }
    ImageSender sender(log.get(), image, failure);
    const std::int32_t result = sender.Send();
    if (result >= 0) {
        ProgressCount = image.Records;
    }
    return result;
}

} // namespace

std::int32_t ProgramImageFast(const FlashImage& image, ImageFailure& failure) {
    return SendImage(image, failure, CreateProgramLog());
}

std::int32_t AddImageFast(const FlashImage& image, ImageFailure& failure) {
    return SendImage(image, failure, ExtendProgramLog());
}
