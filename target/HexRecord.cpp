#include "target/HexRecord.h"
#include "target/CFile.h"

#include <memory>

namespace {

int HexDigitValue(int c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// One line read takes at most this many characters; a longer line takes several.
constexpr int MaxLineRead = 255;

} // namespace

int HexRecordReader::Get() {
    int c = std::fgetc(file_);
    if (c == '\r' || (c == '\n' && previous_ != '\r')) {
        ++line_;
    }
    previous_ = c;
    return c;
}

bool HexRecordReader::ReadByte(std::uint8_t& value, HexStatus& failure) {
    int digits[2];
    for (int& d : digits) {
        int c = Get();
        if (c == EOF) {
            failure = HexStatus::Truncated;
            return false;
        }
        d = HexDigitValue(c);
        if (d < 0) {
            failure = HexStatus::BadDigit;
            return false;
        }
    }
    value = static_cast<std::uint8_t>(digits[0] * 16 + digits[1]);
    return true;
}

bool HexRecordReader::SkipToRecord() {
    for (;;) {
        int c = Get();
        if (c == EOF) {
            return false;
        }
        if (c == ':') {
            return true;
        }
    }
}

HexStatus HexRecordReader::Next(HexRecord& record) {
    if (!SkipToRecord()) {
        return HexStatus::NoMoreInput;
    }
    record.Line = line_;
    HexStatus failure = HexStatus::Record;
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (!ReadByte(record.Count, failure) || !ReadByte(high, failure) || !ReadByte(low, failure) ||
        !ReadByte(record.Type, failure)) {
        return failure;
    }
    record.Offset = static_cast<std::uint16_t>(high << 8 | low);
    std::uint32_t sum = record.Count + high + low + record.Type;
    for (unsigned i = 0; i < record.Count; ++i) {
        if (!ReadByte(record.Data[i], failure)) {
            return failure;
        }
        sum += record.Data[i];
    }
    if (!ReadByte(record.Checksum, failure)) {
        return failure;
    }
    sum += record.Checksum;
    return (sum & 0xFF) == 0 ? HexStatus::Record : HexStatus::BadChecksum;
}

std::int32_t CountHexLines(const char* path) {
    CFile file(std::fopen(path, "r"));
    if (!file) {
        return -1;
    }
    std::int32_t count = 0;
    int length = 0; // characters of the current line read so far
    for (int c = std::getc(file.get()); c != EOF; c = std::getc(file.get())) {
        ++length;
        bool ends = c == '\n';
        if (c == '\r') {
            const int next = std::getc(file.get());
            if (next != EOF) {
                std::ungetc(next, file.get());
            }
            ends = next != '\n';
        }
        if (ends || length == MaxLineRead) {
            ++count;
            length = 0;
        }
    }
    return length > 0 ? count + 1 : count;
}

const char* HexStatusText(HexStatus status) {
    switch (status) {
    case HexStatus::Record:
        return "valid record";
    case HexStatus::NoMoreInput:
        return "no further record";
    case HexStatus::BadDigit:
        return "a character that is not a hexadecimal digit";
    case HexStatus::Truncated:
        return "record cut short by the end of the file";
    case HexStatus::BadChecksum:
        return "checksum mismatch";
    }
    return "unknown";
}
