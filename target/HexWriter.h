#pragma once
// Writing memory images as Intel HEX: data records of up to 16 bytes that never cross a 16-byte
// boundary (so each record is one row of the programmer), an extended linear address record
// whenever the upper 16 address bits change, and the end-of-file record.

#include <cstddef>
#include <cstdint>
#include <string>

class HexWriter {
public:
    void Add(std::uint32_t address, const std::uint8_t* data, std::size_t size);
    // The text so far followed by the end-of-file record.
    std::string Finish() const;

private:
    void Record(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data,
                std::size_t size);

    std::string text_;
    std::int32_t upper_ = -1;
};
