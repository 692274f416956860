#include "line/BoardSerial.h"

namespace {

SerialFault Fault(SerialFault::Kind kind, std::string why,
                  SerialFault::Setting setting = SerialFault::Other) {
    return {kind, std::move(why), setting};
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    return *DecodeSerial({SerialKind::Bytes, 0}, bytes);
}

} // namespace

SerialFault CheckSerialSettings(SerialSettings& settings, const std::string& hexPath,
                                std::size_t boards) {
    const SerialPlace& place = *settings.Place;
    SerialFormat& format = settings.Format;
    const SerialSource& source = settings.Source;
    const bool hasSource = !source.File().empty();
    if (format.Kind == SerialKind::Bytes && !source.Counter.empty()) {
        return Fault(SerialFault::Usage, "", SerialFault::BytesFromCounter);
    }
    SerialBook book(source);
    std::string why;
    if (hasSource && !BookGuarded([&] { return book.LoadLocked(why); }, why)) {
        return Fault(SerialFault::File, why);
    }
    if (format.Kind == SerialKind::Bytes && format.Length == 0) {
        if (!hasSource || book.List().empty()) {
            return Fault(SerialFault::Usage, "", SerialFault::BytesNeedLength);
        }
        const auto first = EncodeSerial(format, book.List().front(), why);
        if (!first) {
            return Fault(SerialFault::Usage, source.List + ": " + why);
        }
        format.Length = static_cast<std::uint32_t>(first->size());
    }
    if (std::string refusal = SerialPlaceRefusal(place, format.Length); !refusal.empty()) {
        return Fault(SerialFault::Usage, refusal, SerialFault::PlaceRefused);
    }
    if (hasSource) {
        std::vector<std::string> values = book.List();
        if (book.Counter()) {
            // The boards of this run take the next numbers, unless some were released.
            const auto next = book.Next();
            if (!next) {
                return Fault(SerialFault::File, std::string("the counter ") + source.Counter +
                                                    " has run out of numbers");
            }
            const std::uint64_t first = std::stoull(*next);
            const std::uint64_t span = source.Step * (boards > 0 ? boards - 1 : 0);
            if (first > UINT64_MAX - span) {
                return Fault(SerialFault::Usage, std::string("the counter ") + source.Counter +
                                                     " would run past the largest number");
            }
            values = {*next, std::to_string(first + span)};
        }
        for (const std::string& value : values) {
            if (!EncodeSerial(format, value, why)) {
                return Fault(SerialFault::Usage, source.File() + ": " + why);
            }
        }
    }
    if (!hexPath.empty()) {
        return SerialPlaceCovered(settings, hexPath, hexPath);
    }
    return {};
}

SerialFault SerialPlaceCovered(const SerialSettings& settings, const std::string& hexPath,
                               const std::string& name) {
    const SerialPlace& place = *settings.Place;
    const std::uint32_t length = settings.Format.Length;
    if (const std::uint32_t line = HexLineCoveringPlace(hexPath.c_str(), place, length)) {
        return Fault(SerialFault::File,
                     name + " line " + std::to_string(line) + " holds data for " +
                         SerialPlaceText(place) + ", where the serial number goes (" +
                         std::to_string(length) + " bytes); nothing was written");
    }
    return {};
}

std::string BoardSerial::JournalName(const std::vector<std::uint8_t>& bytes) const {
    if (!settings_.Source.List.empty()) {
        SerialBook list(settings_.Source);
        std::string why;
        if (BookGuarded([&] { return list.LoadLocked(why); }, why)) {
            for (const std::string& value : list.List()) {
                if (EncodeSerial(settings_.Format, value, why) == bytes) {
                    return value;
                }
            }
        }
    }
    return *value_;
}

SerialFault BoardSerial::Take(const std::string& port) {
    const SerialPlace& place = *settings_.Place;
    if (settings_.Keep) {
        std::optional<std::string> held;
        std::vector<std::uint8_t> bytes;
        if (SerialFault fault = ReadBoardSerial(settings_, held, bytes)) {
            return fault;
        }
        if (!IsBlank(bytes)) {
            bytes_ = bytes;
            value_ = held ? held : HexBytes(bytes);
            kept_ = true;
            bookValue_ = JournalName(bytes);
            // Told before the erase takes it off the board: a run that stops after the erase
            // still names the number this board had.
            std::string why;
            if (!store_.Keep(bookValue_, port, why)) {
                return Fault(SerialFault::File, why + "; " + port + " was not erased");
            }
            open_ = true;
            return {};
        }
    }
    std::string value;
    std::string why;
    if (!store_.Reserve(port, value, why)) {
        return Fault(SerialFault::File, why + "; " + port + " was not erased");
    }
    open_ = true;
    bookValue_ = value;
    auto bytes = EncodeSerial(settings_.Format, value, why);
    if (!bytes) {
        return Fault(SerialFault::Usage, store_.Name() + ": " + why + " at " +
                                             SerialPlaceText(place) + "; " + port +
                                             " was not erased");
    }
    bytes_ = std::move(*bytes);
    value_ = store_.NamesAsStored() ? value : DecodeSerial(settings_.Format, bytes_);
    return {};
}

std::int32_t BoardSerial::Write(ImageFailure& failure) {
    if (!store_.Writing(untold_)) {
        return SerialWriteUntold;
    }
    sent_ = true;
    return WriteSerialBytes(*settings_.Place, bytes_, failure);
}

bool BoardSerial::End(bool passed, const std::string& recordTime,
                      const nlohmann::ordered_json* record, std::string& why) {
    if (!open_) {
        return true;
    }
    open_ = false;
    if (!passed && kept_) {
        return true; // journaled as kept, and never given to another board
    }
    const char* event = passed  ? JournalEvent::Used
                        : sent_ ? JournalEvent::Spoiled
                                : JournalEvent::Released;
    return store_.End(bookValue_, event, recordTime, record, why);
}

SerialFault ReadBoardSerial(const SerialSettings& settings, std::optional<std::string>& value,
                            std::vector<std::uint8_t>& bytes) {
    const SerialPlace& place = *settings.Place;
    const std::uint32_t length = settings.Format.Length;
    const std::int32_t read = ReadSerialBytes(place, length, bytes);
    if (read < 0 || static_cast<std::uint32_t>(read) < length) {
        return Fault(SerialFault::Transfer, std::string("reading the serial number at ") +
                                                SerialPlaceText(place) + " failed (" +
                                                std::to_string(read) + ")");
    }
    value = IsBlank(bytes) ? std::nullopt : DecodeSerial(settings.Format, bytes);
    return {};
}
