# Writes a benchmark image as Intel HEX on standard output: program memory from 0x0200 to
# program_last and data EEPROM from 0 to eeprom_last filled, one record of up to 16 bytes per row.
# Without variables it is the full application image: 0x0200 to 0x7FFF and all 256 EEPROM bytes.
#
#   awk -f image.awk > full.hex
#   awk -v program_last=4607 -v eeprom_last=7 -f image.awk > small.hex
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

function fill(first, last,    address, i, n, row) {
    for (address = first; address <= last; address += 16) {
        n = last - address + 1 < 16 ? last - address + 1 : 16
        for (i = 0; i < n; i++)
            row[i] = ((address + i) * 13 + int((address + i) / 256) * 7 + 90) % 256
        record(0, address % 65536, row, n)
    }
}

BEGIN {
    if (program_last == "") program_last = 32767
    if (eeprom_last == "") eeprom_last = 255
    upper[0] = 0; upper[1] = 0
    record(4, 0, upper, 2)
    fill(512, program_last)
    upper[0] = 0; upper[1] = 240
    record(4, 0, upper, 2)
    fill(0, eeprom_last)
    record(1, 0, upper, 0)
}
