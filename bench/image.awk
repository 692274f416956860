# Writes the benchmark's full application image as Intel HEX on standard output: program memory
# 0x0200 to 0x7FFF and all 256 bytes of data EEPROM filled, one 16-byte record per row.
#
#   awk -f full-image.awk > full.hex
#
# The bytes follow a fixed pattern, so every run flashes the same image.

function record(type, offset, bytes, count,    sum, i, line) {
    sum = count + int(offset / 256) + offset % 256 + type
    line = sprintf(":%02X%04X%02X", count, offset, type)
    for (i = 0; i < count; i++) {
        line = line sprintf("%02X", bytes[i])
        sum += bytes[i]
    }
    print line sprintf("%02X", (256 - sum % 256) % 256)
}

function fill(first, last,    address, i, row) {
    for (address = first; address <= last; address += 16) {
        for (i = 0; i < 16; i++)
            row[i] = ((address + i) * 13 + int((address + i) / 256) * 7 + 90) % 256
        record(0, address % 65536, row, 16)
    }
}

BEGIN {
    upper[0] = 0; upper[1] = 0
    record(4, 0, upper, 2)
    fill(512, 32767)
    upper[0] = 0; upper[1] = 240
    record(4, 0, upper, 2)
    fill(0, 255)
    record(1, 0, upper, 0)
}
