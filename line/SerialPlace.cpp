#include "line/SerialPlace.h"

#include "link/BootCommands.h"
#include "target/EraseRunMode.h"
#include "target/HexFileReader.h"
#include "target/TargetProfile.h"

#include <charconv>
#include <cstdio>

namespace {

// The PIC18F452 has eight ID locations; the profile's ID range reaches further than the chip.
constexpr std::uint32_t IdLocations = 8;

struct Space {
    const char* Name;
    HexSpace Kind;
};
constexpr Space Spaces[] = {
    {"program", HexSpace::Program}, {"eeprom", HexSpace::Eeprom}, {"id", HexSpace::Id}};

std::optional<std::uint32_t> ParseNumber(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    std::uint32_t value = 0;
    const auto [last, error] = std::from_chars(first, end, value, hex ? 16 : 10);
    if (first == end || error != std::errc() || last != end) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<SerialPlace> ParseSerialPlace(const std::string& text, std::string& why) {
    const auto colon = text.find(':');
    if (colon != std::string::npos) {
        for (const Space& space : Spaces) {
            if (text.compare(0, colon, space.Name) != 0) {
                continue;
            }
            if (const auto address = ParseNumber(text.substr(colon + 1))) {
                return SerialPlace{space.Kind, *address};
            }
            why = "not an address (decimal or 0x...): ";
            why += text.substr(colon + 1);
            return std::nullopt;
        }
    }
    why = "not SPACE:ADDRESS with SPACE one of program, eeprom, id: ";
    why += text;
    return std::nullopt;
}

std::string SerialPlaceText(const SerialPlace& place) {
    const char* name = "program";
    for (const Space& space : Spaces) {
        if (space.Kind == place.Space) {
            name = space.Name;
        }
    }
    char address[16];
    std::snprintf(address, sizeof address, "0x%04X", static_cast<unsigned>(place.Address));
    return std::string(name) + ":" + address;
}

std::string SerialPlaceRefusal(const SerialPlace& place, std::uint32_t length) {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::string what;
    switch (place.Space) {
    case HexSpace::Program:
        first = TargetProfile.ProgramStart;
        last = TargetProfile.ProgramEnd;
        what = "the application area of program memory";
        break;
    case HexSpace::Eeprom:
        // The flag byte at the top belongs to run mode.
        first = TargetProfile.EepromStart;
        last = RunModeFlagAddress - 1;
        what = "the data EEPROM below the run-mode flag";
        break;
    default:
        first = TargetProfile.IdStart;
        last = first + IdLocations - 1;
        what = "the ID locations";
        break;
    }
    const std::uint64_t end = std::uint64_t{place.Address} + length - 1;
    if (length == 0 || place.Address < first || end > last) {
        char range[64];
        std::snprintf(range, sizeof range, "0x%X-0x%X", static_cast<unsigned>(first),
                      static_cast<unsigned>(last));
        return std::to_string(length) + " bytes at " + SerialPlaceText(place) + " leave " + what +
               " (" + range + ")";
    }
    return {};
}

std::uint32_t HexLineCoveringPlace(const char* path, const SerialPlace& place,
                                   std::uint32_t length) {
    HexRowSettings settings = HexRowSettingsFromProfile(TargetProfile.AddressUnit);
    settings.ProgramEnable = settings.EepromEnable = settings.IdEnable = true;
    // Before the file is checked: a record past where a run would stop still counts.
    HexFileReader hex(path, settings, HexPass::WholeFile);
    DecodedRecord record;
    while (hex.Next(record) && record.Defect == HexDefect::None) {
        const HexRowPlan& plan = record.Plan;
        if (plan.Space != place.Space) {
            continue;
        }
        for (unsigned r = 0; r < plan.RowCount; ++r) {
            const HexRow& row = plan.Rows[r];
            for (unsigned i = 0; i < HexRowSize; ++i) {
                const std::uint32_t address = row.ByteAddress + i;
                if ((row.Supplied >> i & 1u) != 0 && address >= place.Address &&
                    address - place.Address < length) {
                    return record.Record.Line;
                }
            }
        }
    }
    return 0;
}

std::int32_t ReadSerialBytes(const SerialPlace& place, std::uint32_t length,
                             std::vector<std::uint8_t>& bytes) {
    bytes.assign(length, 0xFF);
    const std::uint8_t command =
        place.Space == HexSpace::Eeprom ? BootCode::ReadEeprom : BootCode::ReadProgram;
    return ReadMemoryRange(place.Address, place.Address + length - 1, 1, command, bytes.data());
}

std::int32_t WriteSerialBytes(const SerialPlace& place, const std::vector<std::uint8_t>& bytes,
                              ImageFailure& failure) {
    FlashImage image;
    image.Lines = 1;
    image.Records = 1;
    auto& memory = place.Space == HexSpace::Eeprom ? image.Eeprom : image.Flash;
    for (std::uint32_t i = 0; i < bytes.size(); ++i) {
        memory[place.Address + i] = ImageByte{bytes[i], 0};
    }
    return AddImageFast(image, failure);
}
