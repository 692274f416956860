#include "line/SerialFormat.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

// Text and number fields are limited so a place stays within one space's reach.
constexpr std::uint32_t MaxTextLength = 64;

struct FixedKind {
    const char* Name;
    SerialKind Kind;
    std::uint32_t Length;
};

constexpr FixedKind FixedKinds[] = {
    {"u16le", SerialKind::U16le, 2}, {"u16be", SerialKind::U16be, 2},
    {"u32le", SerialKind::U32le, 4}, {"u32be", SerialKind::U32be, 4},
    {"u64le", SerialKind::U64le, 8}, {"u64be", SerialKind::U64be, 8},
};

bool LittleEndian(SerialKind kind) {
    return kind == SerialKind::U16le || kind == SerialKind::U32le || kind == SerialKind::U64le;
}

bool IsNumberKind(SerialKind kind) {
    return kind != SerialKind::Ascii && kind != SerialKind::Hex && kind != SerialKind::Bytes;
}

std::optional<std::uint64_t> ParseDecimal(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || last != end) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c == ':' || c == '-' || c == ' ') {
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(digits.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::from_chars(digits.data() + 2 * i, digits.data() + 2 * i + 2, bytes[i], 16);
    }
    return bytes;
}

std::string HexText(std::uint64_t value, std::uint32_t width) {
    static const char* Digits = "0123456789ABCDEF";
    std::string text(width, '0');
    for (std::uint32_t i = width; i > 0 && value != 0; --i, value >>= 4) {
        text[i - 1] = Digits[value & 0xF];
    }
    return text;
}

} // namespace

std::optional<SerialFormat> ParseSerialFormat(const std::string& text, std::string& why) {
    for (const FixedKind& fixed : FixedKinds) {
        if (text == fixed.Name) {
            return SerialFormat{fixed.Kind, fixed.Length};
        }
    }
    const auto colon = text.find(':');
    const std::string name = text.substr(0, colon);
    struct Sized {
        const char* Name;
        SerialKind Kind;
    };
    for (const Sized sized : {Sized{"ascii", SerialKind::Ascii}, Sized{"hex", SerialKind::Hex},
                              Sized{"bytes", SerialKind::Bytes}}) {
        if (name != sized.Name) {
            continue;
        }
        if (colon == std::string::npos) {
            if (sized.Kind == SerialKind::Bytes) {
                return SerialFormat{SerialKind::Bytes, 0};
            }
            break;
        }
        const auto length = ParseDecimal(text.substr(colon + 1));
        if (!length || *length == 0 || *length > MaxTextLength) {
            why = std::string("the length in ") + text + " must be 1 to " +
                  std::to_string(MaxTextLength);
            return std::nullopt;
        }
        return SerialFormat{sized.Kind, static_cast<std::uint32_t>(*length)};
    }
    why = std::string("unknown serial format ") + text +
          ": one of u16le, u16be, u32le, u32be, u64le, u64be, ascii:N, hex:N, bytes";
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> EncodeSerial(const SerialFormat& format,
                                                      const std::string& value, std::string& why) {
    std::vector<std::uint8_t> bytes;
    if (format.Kind == SerialKind::Bytes) {
        auto parsed = ParseHexBytes(value);
        if (!parsed) {
            why = "not a list of hexadecimal bytes: ";
            why += value;
            return std::nullopt;
        }
        if (format.Length != 0 && parsed->size() != format.Length) {
            why = value;
            why += " is " + std::to_string(parsed->size()) + " bytes, not " +
                   std::to_string(format.Length);
            return std::nullopt;
        }
        bytes = std::move(*parsed);
    } else {
        const auto number = ParseDecimal(value);
        if (!number) {
            why = "not a decimal number: ";
            why += value;
            return std::nullopt;
        }
        if (IsNumberKind(format.Kind)) {
            const unsigned bits = 8 * format.Length;
            if (bits < 64 && *number >> bits != 0) {
                why = value + " does not fit in " + std::to_string(format.Length) + " bytes";
                return std::nullopt;
            }
            for (std::uint32_t i = 0; i < format.Length; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(*number >> (8 * i)));
            }
            if (!LittleEndian(format.Kind)) {
                std::reverse(bytes.begin(), bytes.end());
            }
        } else {
            const std::string digits =
                format.Kind == SerialKind::Ascii ? std::to_string(*number) : HexText(*number, 16);
            const std::string trimmed =
                format.Kind == SerialKind::Ascii
                    ? digits
                    : digits.substr(std::min(digits.find_first_not_of('0'), digits.size() - 1));
            if (trimmed.size() > format.Length) {
                why = value + " needs " + std::to_string(trimmed.size()) + " digits, more than " +
                      std::to_string(format.Length);
                return std::nullopt;
            }
            const std::string padded = std::string(format.Length - trimmed.size(), '0') + trimmed;
            bytes.assign(padded.begin(), padded.end());
        }
    }
    if (IsBlank(bytes)) {
        why = value + " would be all 0xFF bytes, which cannot be told from an empty place";
        return std::nullopt;
    }
    return bytes;
}

std::optional<std::string> DecodeSerial(const SerialFormat& format,
                                        const std::vector<std::uint8_t>& bytes) {
    if (format.Kind == SerialKind::Bytes) {
        std::string text;
        for (std::uint8_t b : bytes) {
            text += HexText(b, 2);
        }
        return text;
    }
    if (IsNumberKind(format.Kind)) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const std::size_t at = LittleEndian(format.Kind) ? bytes.size() - 1 - i : i;
            value = value << 8 | bytes[at];
        }
        return std::to_string(value);
    }
    const std::string text(bytes.begin(), bytes.end());
    std::uint64_t value = 0;
    const int base = format.Kind == SerialKind::Ascii ? 10 : 16;
    const auto [last, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    const bool upperDigits = std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F');
    });
    if (text.empty() || error != std::errc() || last != text.data() + text.size() || !upperDigits) {
        return std::nullopt;
    }
    return std::to_string(value);
}

bool IsBlank(const std::vector<std::uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}
